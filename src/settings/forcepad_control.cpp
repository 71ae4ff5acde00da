#include "settings/forcepad_control.h"

#include <string>

#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device/system_probes.h"
#include "platform/handles.h"
#include "log/trace_log.h"
#include "settings/driver_defaults.h"
#include "settings/palm_control.h"
#include "registry/registry_helpers.h"
#include "settings/settings_store.h"
#include "common/process_state.h"

namespace tavo {

namespace {
struct ForcepadState {
    std::atomic<std::uint8_t> forcepadSendCommand{0};
};
ProcessWide<ForcepadState> forcepadState;
}  // namespace

std::atomic<std::uint8_t>& forcepadSendCommand = forcepadState->forcepadSendCommand;

namespace {

// The highest value each checked field may hold in a user's store, compared unsigned so
// that "nothing stored" (-1) always fails. CurrentControlItem and the previous manual
// status are not checked.
struct FieldLimit {
    std::int32_t ForcepadSettings::*member;
    std::uint32_t max;
};
constexpr FieldLimit kUserFieldLimits[] = {
    {&ForcepadSettings::HapticFeedbackCheckSlider, 100},
    {&ForcepadSettings::ClickForceCheckOption, 2},
    {&ForcepadSettings::FingerDetectionForceCheckOption, 2},
    {&ForcepadSettings::HapticEnabled, 1},
    {&ForcepadSettings::VadavAreduButtonClickForceCheckOption, 2},
    {&ForcepadSettings::UseTopZoneAsVadavAreduButtonsEnabled, 1},
    {&ForcepadSettings::UseTopZoneAsVadavAreduButtonsNotGrayOut, 1},
};

bool UserRecordValid(const ForcepadSettings& record) {
    for (const auto& limit : kUserFieldLimits)
        if (static_cast<std::uint32_t>(record.*limit.member) > limit.max) return false;
    return true;
}

// The in-force palm level may not be readable; an unknown level counts like one that is
// not stored, so the companion is then taken as absent.
constexpr std::uint32_t kHighestUserPalmLevel = 4;

// The default set sends these fixed levels, whatever a default record holds (its top-zone
// button click force is 0, the set's is 1).
constexpr std::int32_t kDefaultSetPosition = 1;
constexpr std::int32_t kDefaultSetHapticPercent = 50;

// The option word Windows 10 is sent: always bits 0, 2 and 9, plus haptic and top zone.
win::WORD ComposedOptionWord(std::int32_t hapticEnabled, std::int32_t topZone) {
    win::WORD word = kOptionAlwaysSet;
    if (hapticEnabled == 1) word |= kOptionHaptic;
    if (topZone == 1) word |= kOptionTopZoneButtons;
    return word;
}

win::WORD WithTopZoneBit(win::WORD word, bool on) {
    return on ? static_cast<win::WORD>(word | kOptionTopZoneButtons)
              : static_cast<win::WORD>(word & ~kOptionTopZoneButtons);
}

void WriteClickForce(win::HANDLE device, std::int32_t position) {
    if (position < 0 || position > 2) return;
    const auto& v = kClickForceValues[position];
    SetFeatureFunction(device, fn::kClickForce1, v[0]);
    SetFeatureFunction(device, fn::kClickForce2, v[1]);
    SetFeatureFunction(device, fn::kClickForce3, v[2]);
}

void WriteButtonClickForce(win::HANDLE device, std::int32_t position) {
    if (position < 0 || position > 2) return;
    const auto& v = kButtonClickForceValues[position];
    SetFeatureFunction(device, fn::kButtonClickForce1, v[0]);
    SetFeatureFunction(device, fn::kButtonClickForce2, v[1]);
}

void WriteHapticStrength(win::HANDLE device, std::int32_t percent) {
    for (const auto& s : kHapticStrengthValues)
        if (s.percent == percent) {
            SetFeatureFunction(device, fn::kHapticStrength, s.value);
            return;
        }
}

// The item's feature writes; the results of single writes are not examined.
void SendItem(win::HANDLE device, const ForcepadSettings& record, win::WORD original, std::int32_t topZone) {
    const bool win11 = isWin11OSVersion.load() != 0;
    switch (record.CurrentControlItem) {
        case HAPTIC_FEEDBACK_SWITCH_ITEM:
            if (win11) {
                TraceLog("[SetForcePadFunction] It's Win11 OS, So No Case HAPTIC_FEEDBACK_SWITCH_ITEM");
                break;
            }
            TraceLog("[SetForcePadFunction] Case HAPTIC_FEEDBACK_SWITCH_ITEM");
            SetFeatureFunction(device, fn::kForcepadOptions, ComposedOptionWord(record.HapticEnabled, topZone));
            break;
        case HAPTIC_FEEDBACK_SLIDER_ITEM:
            if (win11) {
                TraceLog("[SetForcePadFunction] It's Win11 OS, So No Case HAPTIC_FEEDBACK_SLIDER_ITEM");
                break;
            }
            TraceLog("[SetForcePadFunction] Case HAPTIC_FEEDBACK_SLIDER_ITEM");
            WriteHapticStrength(device, record.HapticFeedbackCheckSlider);
            break;
        case FINGER_DETECTION_FORCE_COMBO_ITEM:
            break;
        case CLICK_FORCE_COMBO_ITEM:
            TraceLog("[SetForcePadFunction] Case CLICK_FORCE_COMBO_ITEM");
            WriteClickForce(device, record.ClickForceCheckOption);
            break;
        case USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM:
            if (win11) {
                // Windows 11 owns the other bits of the word; only the top-zone bit is ours.
                TraceLog("[SetForcePadFunction] Case USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM_Win11");
                SetFeatureFunction(device, fn::kForcepadOptions, WithTopZoneBit(original, topZone == 1));
                TraceLog("[SetForcePadFunction] Edit_Value = 0x%.8X",
                         static_cast<unsigned>(GetFeatureFunction(device, fn::kForcepadOptions)));
                break;
            }
            TraceLog("[SetForcePadFunction] Case USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM_Win10");
            SetFeatureFunction(device, fn::kForcepadOptions, ComposedOptionWord(record.HapticEnabled, topZone));
            break;
        case VADAVAREDU_BUTTON_CLICK_FORCE_COMBO_ITEM:
            TraceLog("[SetForcePadFunction] Case VADAVAREDU_BUTTON_CLICK_FORCE_COMBO_ITEM");
            WriteButtonClickForce(device, record.VadavAreduButtonClickForceCheckOption);
            break;
        case FORCEPAD_DEFAULT_VALUE: {
            TraceLog("[SetForcePadFunction] Case FORCEPAD_DEFAULT_VALUE");
            const bool stick = ReadPSTStatusFromDM.load() == 1;
            if (win11) {
                SetFeatureFunction(device, fn::kForcepadOptions, WithTopZoneBit(original, stick));
            } else {
                SetFeatureFunction(device, fn::kForcepadOptions, ComposedOptionWord(1, stick ? 1 : 0));
                WriteHapticStrength(device, kDefaultSetHapticPercent);
            }
            WriteClickForce(device, kDefaultSetPosition);
            WriteButtonClickForce(device, kDefaultSetPosition);
            break;
        }
        default:
            break;
    }
}

}  // namespace

bool SetForcePadFunction(ForcepadSettings record) {
    TraceLog("[SetForcePadFunction] Enter ==> SetForcePadFunction");
    // Without a pointing stick at start the top zone has nothing to emulate.
    const std::int32_t topZone = ReadPSTStatusFromDM.load() != 0 ? record.UseTopZoneAsVadavAreduButtonsEnabled : 0;

    TavoTouchpad touchpad;
    if (!ScanTavoHidDevice(&touchpad)) {
        TraceLog("[SetForcePadFunction] Cannot Find TAVO HID Device");
        TraceLog("[SetForcePadFunction] Exit <== SetForcePadFunction");
        return false;
    }
    TraceLog("[SetForcePadFunction] Find TAVO HID Device");
    const win::WORD original = GetFeatureFunction(touchpad.handle.get(), fn::kForcepadOptions);
    TraceLog("[SetForcePadFunction] Original_Value = 0x%.8X", static_cast<unsigned>(original));
    if (original == kFeatureReadFailed) {
        TraceLog("[SetForcePadFunction] Get Original_Value Fail");
        return false;  // the owner closes the device
    }

    SendItem(touchpad.handle.get(), record, original, topZone);

    touchpad.handle.reset();
    TraceLog("[SetForcePadFunction] Close TAVO HID Device");
    TraceLog("[SetForcePadFunction] Exit <== SetForcePadFunction");
    return true;
}

int ForcePadControl(ForcepadSettings& record, int sessionEnding, int fromInForce) {
    TraceLog("Enter ==> ForcePadControl");

    PalmSettings inForcePalm{kNotStored, kNotStored, kNotStored, kNotStored, kNotStored};
    SyncTouchpadSettings(SYNC_READ_LAST, inForcePalm);

    CompanionCheck uwp;
    if (fromInForce != 0) {
        SyncForcepadSettings(SYNC_READ_LAST, record);
        uwp = static_cast<std::uint32_t>(inForcePalm.level) <= kHighestUserPalmLevel ? CompanionCheck::kPresent
                                                                                      : CompanionCheck::kAbsent;
    } else {
        uwp = CheckUWPInstall();
    }
    const CompanionCheck swc = CheckSoftwareComponentInstall();
    const int uwpInstall = uwp == CompanionCheck::kPresent ? 1 : 0;
    const int swcInstall = swc == CompanionCheck::kPresent ? 1 : 0;
    TraceLog("<ForcePadControl> UWPInstall = %d, SWCInstall = %d\r\n", uwpInstall, swcInstall);

    if (uwpInstall != 0 && swcInstall != 0) {
        TraceLog("<ForcePadControl> Set UI Mode Command\r\n");
        if (sessionEnding != 0) {
            SetForcePadFunction(kForcepadDefaults);
        } else {
            bool read = false;
            SyncForcepadSettings(SYNC_READ, record, &read);
            int customFlag = 0;
            ReadCustomPalmRejection(&customFlag);

            ForcepadSettings inUse = record;
            if (!UserRecordValid(record)) {
                ForcepadSettings defaults = kForcepadDefaults;
                // Only what was read from the user's key may be judged for the user: a record
                // that the read left as it was holds someone else's values.
                if (read) SyncForcepadSettings(SYNC_WRITE, defaults);
                inUse = kForcepadDefaults;
            }
            SyncForcepadSettings(SYNC_WRITE_LAST, inUse);
            for (std::int32_t item = HAPTIC_FEEDBACK_SWITCH_ITEM; item <= VADAVAREDU_BUTTON_CLICK_FORCE_COMBO_ITEM;
                 ++item) {
                ForcepadSettings one = inUse;
                one.CurrentControlItem = item;
                SetForcePadFunction(one);
            }
        }
        forcepadSendCommand.store(1);
    } else {
        bool read = false;
        SyncForcepadSettings(SYNC_READ, record, &read);
        TraceLog("<ForcePadControl> Read HapticFeedbackCheckSlider = %d\r\n", record.HapticFeedbackCheckSlider);
        // A companion that may be there after all keeps the user's choice for its next run.
        const bool mayRewriteUser = CompanionKnownAbsent(uwp, swc);
        const bool dynamic = SupportDynamicModeCommand.load() == 1;
        if (dynamic) {
            if (record.HapticFeedbackCheckSlider == kNotStored) {
                ForcepadSettings defaults = kForcepadDynamicModeDefaults;
                if (read && mayRewriteUser) SyncForcepadSettings(SYNC_WRITE, defaults);
                record = kForcepadDynamicModeDefaults;
            }
        } else {
            ForcepadSettings defaults = kForcepadDefaults;
            if (mayRewriteUser) SyncForcepadSettings(SYNC_WRITE, defaults);
            forcepadSendCommand.store(1);
            record = kForcepadDefaults;
        }
        SyncForcepadSettings(SYNC_WRITE_LAST, record);
        if (dynamic) {
            // Taken and cleared in one step, so of two runs at once only one pushes, and a
            // UI-mode run in between is not lost.
            const std::uint8_t send = forcepadSendCommand.exchange(0);
            TraceLog("<Palm> Set Dynamic Mode Command (SendCommand=%d)\r\n", static_cast<int>(send));
            if (send == 1) SetForcePadFunction(record);
        } else {
            SetForcePadFunction(kForcepadDefaults);
        }
        SyncForcepadSettings(SYNC_WRITE_LAST, record);
    }

    TraceLog("Exit <== ForcePadControl");
    return 1;
}

int ForcePadControl(SharedRecord<ForcepadSettings>& record, int sessionEnding, int fromInForce) {
    return DecideOnShared(record, [&](ForcepadSettings& r) { return ForcePadControl(r, sessionEnding, fromInForce); });
}

}  // namespace tavo
