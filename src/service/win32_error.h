// The one failure the service raises rather than returns: a long-running work item that
// cannot be queued. It carries the Windows error code.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

struct Win32Error {
    win::DWORD code;
};

}  // namespace tavo
