#include "monitors/pst_monitor.h"

#include <string>

#include "common/process_state.h"
#include "log/thread_boundary.h"
#include "log/trace_log.h"
#include "platform/sync.h"
#include "platform/threads.h"
#include "settings/api_events.h"
#include "settings/event_thread.h"
#include "settings/forcepad_control.h"
#include "settings/settings_records.h"
#include "settings/settings_store.h"

namespace tavo {
namespace {

struct PSTMonitorState {
    std::atomic<win::HANDLE> events[kPSTEventCount]{};
    std::atomic<win::HANDLE> thread{};
    EventThreadLife life;
};
ProcessWide<PSTMonitorState> pstMonitor;

void RunMonitor(void* context) {
    AtThreadBoundary("MonitorPSTUIChangePSTDeviceStautsFunc",
                     [context] { (void)MonitorPSTUIChangePSTDeviceStautsFunc(context); });
    LeaveEventThread(pstMonitor->life);
}

// The UI's own event when it made one (its access is then left as the UI set it); else ours,
// opened to every user so that the UI may set it.
win::HANDLE OpenOrCreateUIEvent(const wchar_t* name, const char* label) {
    win::HANDLE event{};
    win::DWORD error = win::Sync().OpenEventW(win::EVENT_ALL_ACCESS, name, &event);
    if (error == win::ERROR_SUCCESS) return event;
    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] OpenEvent %s Fail, GetLastError() = 0x%.8X", label,
             static_cast<unsigned>(error));
    error = win::Sync().CreateEventW(nullptr, false, false, name, &event, nullptr);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] CreateEvent %s Fail, GetLastError() = 0x%.8X", label,
                 static_cast<unsigned>(error));
        return win::HANDLE{};
    }
    GrantEventAccess(name);
    return event;
}

// The seven values the monitor logs, in record order.
constexpr const char* kLoggedFields[7] = {
    "CurrentControlItem",          "HapticEnabled",         "HapticFeedbackCheckSlider",
    "FingerDetectionForceCheckOption", "ClickForceCheckOption", "UseTopZoneAsVadavAreduButtonsEnabled",
    "VadavAreduButtonClickForceCheckOption",
};

void HandleUIEvent(bool enable) {
    // What SYNC_READ leaves when it cannot read: the live record rather than zeros.
    ForcepadSettings record = liveForcepadSettings.Load();
    std::wstring user;
    const bool read = ReadUserForcepadSettings(record, &user);
    const int tag = enable ? 1 : 2;
    for (std::size_t i = 0; i < 7; ++i)
        TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] %s = %d #%d", kLoggedFields[i],
                 static_cast<int>(Field(record, i)), tag);
    record.CurrentControlItem = USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM;
    if (enable) {
        record.UseTopZoneAsVadavAreduButtonsEnabled =
            (record.UseTopZoneAsVadavAreduButtonsEnabled != 0 || record.UseTopZoneAsVadavAreduButtonsPreviousManualStatus == 1)
                ? 1
                : 0;
        record.UseTopZoneAsVadavAreduButtonsNotGrayOut = 1;
    } else {
        record.UseTopZoneAsVadavAreduButtonsEnabled = 0;
        record.UseTopZoneAsVadavAreduButtonsNotGrayOut = 0;
    }
    SetForcePadFunction(record);
    // Only the user whose key was read gets the record back, in that key: after a failed
    // read it holds the live values, and the console may have changed since the read.
    if (read) WriteUserForcepadSettings(user, record);
    SyncForcepadSettings(SYNC_WRITE_LAST, record);
}

}  // namespace

std::atomic<win::HANDLE> (&GetPSTUI_EnableDeviceEvnet)[kPSTEventCount] = pstMonitor->events;
std::atomic<win::HANDLE>& PSTMonitorThread = pstMonitor->thread;

void StartPSTMonitor() {
    win::HANDLE fresh[kPSTEventCount]{};
    fresh[0] = OpenOrCreateUIEvent(kPSTEventNames[0], "PSTUI_ENABLEDEVICE");
    fresh[1] = OpenOrCreateUIEvent(kPSTEventNames[1], "PSTUI_DISABLEDEVICE");
    if (const win::DWORD error =
            win::Sync().CreateEventW(nullptr, false, false, kPSTEventNames[kPSTExitEvent], &fresh[kPSTExitEvent], nullptr);
        error != win::ERROR_SUCCESS)
        TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] CreateEvent Exit_MonitorPSTUIChangePSTDeviceStautsFunc Fail, "
                 "GetLastError() = 0x%.8X",
                 static_cast<unsigned>(error));

    // The earlier monitor still waits on the earlier handles: end it before they are
    // replaced. Both exit handles reach the one named event; the earlier one serves when
    // this start could not make its own.
    const win::HANDLE exit = fresh[kPSTExitEvent] != win::HANDLE{} ? fresh[kPSTExitEvent]
                                                                   : GetPSTUI_EnableDeviceEvnet[kPSTExitEvent].load();
    EndEventThreadAndCloseEvents(pstMonitor->life, PSTMonitorThread, GetPSTUI_EnableDeviceEvnet, kPSTEventCount, exit);
    for (int i = 0; i < kPSTEventCount; ++i) GetPSTUI_EnableDeviceEvnet[i] = fresh[i];

    StartEventThread(&RunMonitor, PSTMonitorThread, "[MonitorPSTUIChangePSTDeviceStautsFunc]", pstMonitor->life);
}

void EndPSTMonitor() {
    EndEventThreadAndCloseEvents(pstMonitor->life, PSTMonitorThread, GetPSTUI_EnableDeviceEvnet, kPSTEventCount,
                                 GetPSTUI_EnableDeviceEvnet[kPSTExitEvent].load());
}

win::DWORD MonitorPSTUIChangePSTDeviceStautsFunc(void* context) {
    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] Enter ==> MonitorPSTUIChangePSTDeviceStautsFunc()");
    const auto unknown = [] { TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] End Waiting, Unknown Status"); };
    const EventLoopEnd end = WaitForEvents(
        GetPSTUI_EnableDeviceEvnet, kPSTEventCount,
        [](int index, win::HANDLE event) {
            switch (index) {
                case 0:
                    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] GetPSTUI_EnableDeviceEvnet[0] Triggered, PST UI Enable PST");
                    win::Sync().ResetEvent(event);
                    HandleUIEvent(true);
                    return true;
                case 1:
                    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] GetPSTUI_EnableDeviceEvnet[1] Triggered, PST UI Disable PST");
                    win::Sync().ResetEvent(event);
                    HandleUIEvent(false);
                    return true;
                default:
                    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] GetPSTUI_EnableDeviceEvnet[2] Triggered, Leave this Thread");
                    win::Sync().ResetEvent(event);
                    return false;
            }
        },
        unknown, [context] { return EventThreadEnded(pstMonitor->life, context); });
    if (end.how == EventLoopEnd::kWaitFailed) {
        unknown();
        TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] Wait Fail, GetLastError() = 0x%.8X",
                 static_cast<unsigned>(end.error));
    }
    TraceLog("[MonitorPSTUIChangePSTDeviceStautsFunc] Exit <== MonitorPSTUIChangePSTDeviceStautsFunc()");
    return 0;
}

}  // namespace tavo
