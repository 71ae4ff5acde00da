// Process entry of the service program: install, remove, console or dispatcher mode.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

enum class EntryMode { Install, Remove, Console, Usage, Dispatcher };

EntryMode SelectMode(int argc, wchar_t** argv);

// The program's main: runs the selected mode and returns the exit status.
int ServiceEntry(int argc, wchar_t** argv);

}  // namespace tavo
