#include "monitors/toggle_flag.h"

#include "common/registry_paths.h"
#include "log/trace_log.h"
#include "monitors/handle_slot.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "service/sample_service.h"
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

// The monitor's two events, owned here and shown in the service's slots.
class MonitorEvents {
public:
    explicit MonitorEvents(CSampleService* service)
        : shown_{SlotEntry(service->aabbEvents[kStop]), SlotEntry(service->aabbEvents[kChange])} {}
    ~MonitorEvents() { Close(); }

    // Manual reset, not signalled, unnamed; true when both exist.
    bool Create() {
        for (win::DWORD i : {kStop, kChange}) {
            win::Sync().CreateEventW(nullptr, true, false, nullptr, events_[i].put(), nullptr);
            shown_[i].Show(events_[i].get());
        }
        return events_[kStop] && events_[kChange];
    }
    void Close() {
        // The slots before the handles, so nobody signals a closed one; the stop slot last,
        // since those who end the monitor wait for it.
        shown_[kChange].Clear();
        shown_[kStop].Clear();
        events_[kChange].reset();
        events_[kStop].reset();
    }
    win::HANDLE operator[](win::DWORD i) const { return events_[i].get(); }

private:
    win::UniqueEvent events_[2];
    SlotEntry shown_[2];
};

win::LSTATUS OpenForNotify(win::UniqueHKey& key) {
    return win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_NOTIFY, key.put());
}

}  // namespace

void MonitorAABBChangeThread(CSampleService* service) {
    MonitorEvents events(service);
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
            if (aabb == service->lastAABB.load()) continue;
            PalmControl(livePalmSettings, 0, 0);
            ForcePadControl(liveForcepadSettings, 0, 0);
            service->lastAABB = aabb;
            continue;
        }
        // A failed wait (or one that names no event): fresh events, and a pause, so a wait
        // that keeps failing at once cannot spin.
        events.Close();
        if (!events.Create()) break;
        win::Sys().Sleep(kMonitorRetryPauseMs);
    }
}  // the slots clear here, the monitor's last touch of the service object

void StopToggleFlagMonitor(CSampleService* service, int polls) {
    if (const win::HANDLE stop = service->aabbEvents[kStop].load(); stop != win::HANDLE{}) win::Sync().SetEvent(stop);
    for (int poll = 0; poll < polls && service->aabbEvents[kStop].load() != win::HANDLE{}; ++poll)
        win::Sys().Sleep(kStopPollMs);
}

}  // namespace tavo
