#include "monitors/toggle_flag.h"

#include <memory>

#include "common/registry_paths.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_records.h"
#include "settings/settings_store.h"

namespace tavo {

std::int32_t RegRead_AABB() {
    std::int32_t result = 0;
    win::UniqueHKey key;
    if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, kSettingsKeyAccess, key.put()) ==
        static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) {
        win::DWORD type = 0;
        std::uint32_t value = 0;
        win::DWORD size = sizeof value;
        const win::LSTATUS status =
            win::Reg().RegQueryValueExW(key.get(), kValueAABB, &type, reinterpret_cast<win::BYTE*>(&value), &size);
        // A short DWORD would leave bytes of the buffer unwritten: count it as unreadable too.
        result = (status == static_cast<win::LSTATUS>(win::ERROR_SUCCESS) && type == win::REG_DWORD &&
                  size == sizeof value)
                     ? static_cast<std::int32_t>(value)
                     : -1;
    }
    key.reset();
    TraceLog("RegRead_AABB::Read AABB = %d\r\n", static_cast<int>(result));
    return result;
}

namespace {

enum : win::DWORD { kStop = 0, kChange = 1 };

// The monitor's two events: the stop event shared with those who end it, the change event
// its own.
class MonitorEvents {
public:
    explicit MonitorEvents(MonitorRuns::Run& run) : run_(run) {}
    ~MonitorEvents() { Close(); }

    // Manual reset, not signalled, unnamed; true when both exist.
    bool Create() {
        stop_ = std::make_shared<win::UniqueEvent>();
        win::Sync().CreateEventW(nullptr, true, false, nullptr, stop_->put(), nullptr);
        win::Sync().CreateEventW(nullptr, true, false, nullptr, change_.put(), nullptr);
        // A stop that came meanwhile ends the monitor as a failed recreation would.
        const bool shown = run_.Show(stop_);
        return shown && *stop_ && change_;
    }
    void Close() {
        run_.Withdraw();
        change_.reset();
        stop_.reset();
    }
    win::HANDLE operator[](win::DWORD i) const {
        if (i == kStop) return stop_ ? stop_->get() : win::HANDLE{};
        return change_.get();
    }

private:
    MonitorRuns::Run& run_;
    MonitorRuns::StopEvent stop_;
    win::UniqueEvent change_;
};

win::LSTATUS OpenForNotify(win::UniqueHKey& key) {
    return win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_NOTIFY, key.put());
}

}  // namespace

void MonitorAABBChangeThread(MonitorRuns& runs, MonitorRuns::Ticket ticket, std::atomic<std::int32_t>& lastAABB) {
    MonitorRuns::Run run(runs, ticket);
    if (!run.Current()) return;  // stopped before it began
    MonitorEvents events(run);
    // Without both events there is nothing to wait on: end, as after a failed recreation.
    if (!events.Create()) return;
    win::UniqueHKey key;
    if (const win::LSTATUS status = OpenForNotify(key); status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) {
        TraceLog("Fail to OpenRegKey=%d\r\n", static_cast<int>(status));
        return;  // the events go with `events`
    }
    for (;;) {
        const win::LSTATUS status = win::Reg().RegNotifyChangeKeyValue(key.get(), false, win::REG_NOTIFY_CHANGE_LAST_SET,
                                                                       events[kChange], true);
        if (status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) {
            TraceLog("AABB::Cannot Monitor REG Change, Error (%08X)\r\n", static_cast<unsigned>(status));
            win::Sys().Sleep(kMonitorRetryPauseMs);
            // The request does not wait on the stop event: look for a stop between requests.
            if (!run.Current()) break;
            key.reset();
            (void)OpenForNotify(key);  // a key that does not open fails the next request, and is retried
            continue;
        }
        const win::HANDLE handles[2] = {events[kStop], events[kChange]};
        win::DWORD error = win::ERROR_SUCCESS;
        const win::DWORD result = win::Sync().WaitForMultipleObjects(2, handles, false, win::INFINITE, &error);
        TraceLog("AABB:: MultiObjectNumber = %d\r\n", static_cast<int>(result));
        if (result == win::WAIT_OBJECT_0 + kStop || result == win::WAIT_OBJECT_0 + kChange) {
            win::Sync().ResetEvent(handles[result]);
            if (result == win::WAIT_OBJECT_0 + kStop) break;
            const std::int32_t aabb = RegRead_AABB();
            if (aabb == lastAABB.load()) continue;
            PalmControl(livePalmSettings, 0, 0);
            ForcePadControl(liveForcepadSettings, 0, 0);
            lastAABB = aabb;
            continue;
        }
        // A failed wait (or one that names no event): fresh events, and a pause, so a wait
        // that keeps failing at once cannot spin.
        events.Close();
        if (!events.Create()) break;
        win::Sys().Sleep(kMonitorRetryPauseMs);
    }
}  // the run ends here, the monitor's last touch of what it was started with

}  // namespace tavo
