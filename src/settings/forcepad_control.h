// Forcepad control: decides which forcepad settings are in force, writes them under the
// settings key and pushes them to the touchpad as vendor feature functions.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/settings_records.h"

namespace tavo {

// Forcepad items: the value of CurrentControlItem. Item n (1 to 6) acts on field n of the
// record; FORCEPAD_DEFAULT_VALUE (7) stands for the whole default set.
inline constexpr std::int32_t HAPTIC_FEEDBACK_SWITCH_ITEM = 1;
inline constexpr std::int32_t HAPTIC_FEEDBACK_SLIDER_ITEM = 2;
inline constexpr std::int32_t FINGER_DETECTION_FORCE_COMBO_ITEM = 3;
inline constexpr std::int32_t CLICK_FORCE_COMBO_ITEM = 4;
inline constexpr std::int32_t USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM = 5;
inline constexpr std::int32_t VADAVAREDU_BUTTON_CLICK_FORCE_COMBO_ITEM = 6;

// Decides the forcepad settings in force for the situation the flags describe (see the
// callers' table: sessionEnding 1 at stop and logoff, fromInForce 1 at logoff and resume),
// writes them in force and pushes them to the device. record is read into and may be
// replaced by a default record. Always returns 1.
int ForcePadControl(ForcepadSettings& record, int sessionEnding, int fromInForce);
// The same on the live record: works on a copy and stores the fields the run changed.
int ForcePadControl(SharedRecord<ForcepadSettings>& record, int sessionEnding, int fromInForce);

// Pushes the item named by record.CurrentControlItem to the touchpad. True when the
// touchpad was found and its option word could be read (the individual writes are not
// examined); false otherwise. The device handle is closed before it returns.
bool SetForcePadFunction(ForcepadSettings record);

// One push allowed in the dynamic branch of non-UI mode; set by UI mode and by the
// non-dynamic branch, cleared after the dynamic branch has looked at it.
extern std::atomic<std::uint8_t>& forcepadSendCommand;


}  // namespace tavo
