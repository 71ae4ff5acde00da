// The palm-check decision: which palm settings are put in force, in UI mode (the companion
// is installed: the user's own choice, if valid) or in non-UI mode (the driver's defaults).
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/settings_records.h"

namespace tavo {

// Decides and writes the palm settings in force. sessionEnding: the user's session ends
// (stop, logoff); fromInForce: judge the companion by the level in force rather than by
// looking for it (logoff, resume). record is read into and may be replaced by a default
// record. Returns 1.
int PalmControl(PalmSettings& record, int sessionEnding, int fromInForce);
// The same on the live record: works on a copy and stores the fields the run changed.
int PalmControl(SharedRecord<PalmSettings>& record, int sessionEnding, int fromInForce);

// *customFlag = 1 when the settings key allows the "Custom" palm level
// (Function_CustomPalmRejection = 1), else 0. Returns DetectSoftwareComponentInstall(),
// which it also keeps in softwareComponentResult.
int ReadCustomPalmRejection(int* customFlag);

// Set by UI mode and the non-dynamic defaults, reported and cleared by the dynamic mode.
// Only the trace log sees it.
extern std::atomic<std::uint8_t>& palmSendCommand;
// The last software-component result of ReadCustomPalmRejection; initially 1.
extern std::atomic<int>& softwareComponentResult;


}  // namespace tavo
