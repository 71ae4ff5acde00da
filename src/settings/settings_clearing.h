// Resetting every user's stored settings to the defaults when the service stops. The
// values in force are not touched here: the stop's own decisions write them afterwards.
#pragma once

#include "settings/settings_records.h"

namespace tavo {

// Each subkey path is built in a buffer of this many wide characters, terminator included:
// a subkey whose path would not fit is skipped, never cut into another key's name.
inline constexpr std::size_t kClearPathChars = 255;

// Writes the record into every subkey of the settings key (at most 1024). Return 1.
int ClearAllPalmSettings(PalmSettings record);
int ClearAllForcepadSettings(ForcepadSettings record);

}  // namespace tavo
