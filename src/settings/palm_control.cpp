#include "settings/palm_control.h"

#include "platform/handles.h"
#include "platform/registry.h"
#include "log/trace_log.h"
#include "settings/driver_defaults.h"
#include "registry/registry_helpers.h"
#include "settings/settings_store.h"
#include "common/process_state.h"

namespace tavo {

namespace {
struct PalmState {
    std::atomic<std::uint8_t> palmSendCommand{0};
    std::atomic<int> softwareComponentResult{1};
};
ProcessWide<PalmState> palmState;
}  // namespace

std::atomic<std::uint8_t>& palmSendCommand = palmState->palmSendCommand;
std::atomic<int>& softwareComponentResult = palmState->softwareComponentResult;

namespace {

// Levels 0 to 3 always, 4 only where the settings key allows the custom level; -1 (nothing
// stored) and 5 never: a user cannot choose the dynamic mode.
bool UserLevelValid(std::int32_t level, int customFlag) {
    return level != kNotStored && static_cast<std::uint32_t>(level) <= 3u + static_cast<std::uint32_t>(customFlag);
}

}  // namespace

int ReadCustomPalmRejection(int* customFlag) {
    int flag = 0;
    {
        win::UniqueHKey key;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_READ, key.put()) ==
            static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            flag = ReadRegistryDword(key.get(), kValueFunctionCustomPalmRejection) == 1 ? 1 : 0;
    }
    *customFlag = flag;
    const int result = DetectSoftwareComponentInstall();
    softwareComponentResult = result;
    return result;
}

int PalmControl(PalmSettings& record, int sessionEnding, int fromInForce) {
    CompanionCheck uwp;
    if (fromInForce != 0) {
        // The companion puts in force only levels a user may choose (0 to 4); anything
        // else in force came from the driver's defaults. A key that cannot be opened
        // leaves the record as this process last put it in force.
        SyncTouchpadSettings(SYNC_READ_LAST, record);
        uwp = static_cast<std::uint32_t>(record.level) <= 4u ? CompanionCheck::kPresent : CompanionCheck::kAbsent;
    } else {
        uwp = CheckUWPInstall();
    }
    const CompanionCheck swc = CheckSoftwareComponentInstall();
    const int uwpInstall = uwp == CompanionCheck::kPresent ? 1 : 0;
    const int swcInstall = swc == CompanionCheck::kPresent ? 1 : 0;
    TraceLog("<PalmControl> UWPInstall = %d, SWCInstall = %d\r\n", uwpInstall, swcInstall);

    if (uwpInstall != 0 && swcInstall != 0) {
        TraceLog("<Palm> Set UI Mode Command\r\n");
        if (sessionEnding == 0) {
            bool read = false;
            SyncTouchpadSettings(SYNC_READ, record, &read);
            int customFlag = 0;
            ReadCustomPalmRejection(&customFlag);
            PalmSettings inForce = record;
            if (!UserLevelValid(record.level, customFlag)) {
                inForce = palmDefaults.Load();
                // Only what was read from the user's key may be judged for the user: a record
                // that the read left as it was holds someone else's values.
                if (read) SyncTouchpadSettings(SYNC_WRITE, inForce);
            }
            SyncTouchpadSettings(SYNC_WRITE_LAST, inForce);
        }
        palmSendCommand = 1;
        return 1;
    }

    bool read = false;
    SyncTouchpadSettings(SYNC_READ, record, &read);
    TraceLog("<Palm> Read PalmCheckOption = %d\r\n", static_cast<int>(record.level));
    // A companion that may be there after all keeps the user's choice for its next run.
    const bool mayRewriteUser = CompanionKnownAbsent(uwp, swc);
    const bool dynamic = SupportDynamicModeCommand.load() == 1;
    if (dynamic) {
        if (record.level != kDynamicPalmSettings.level) {
            PalmSettings dynamicRecord = kDynamicPalmSettings;
            if (read && mayRewriteUser) SyncTouchpadSettings(SYNC_WRITE, dynamicRecord);
            record = kDynamicPalmSettings;
        }
    } else {
        PalmSettings defaults = palmDefaults.Load();
        if (mayRewriteUser) SyncTouchpadSettings(SYNC_WRITE, defaults);
        palmSendCommand = 1;
        record = defaults;
    }
    SyncTouchpadSettings(SYNC_WRITE_LAST, record);
    if (dynamic) {
        TraceLog("<Palm> Set Dynamic Mode Command (SendCommand=%d)\r\n", static_cast<int>(palmSendCommand.load()));
        palmSendCommand = 0;
    }
    SyncTouchpadSettings(SYNC_WRITE_LAST, record);
    return 1;
}

int PalmControl(SharedRecord<PalmSettings>& record, int sessionEnding, int fromInForce) {
    return DecideOnShared(record, [&](PalmSettings& r) { return PalmControl(r, sessionEnding, fromInForce); });
}

}  // namespace tavo
