#include "settings/api_events.h"

#include "common/process_state.h"
#include "log/thread_boundary.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/threads.h"
#include "settings/forcepad_control.h"
#include "settings/settings_records.h"
#include "settings/settings_store.h"

namespace tavo {
namespace {

struct APIEventsState {
    std::atomic<win::HANDLE> events[kAPIEventCount]{};
    std::atomic<win::HANDLE> thread{};
};
ProcessWide<APIEventsState> apiEvents;

void RunGetAPIStatusFunc(void*) { AtThreadBoundary("GetAPIStatusFunc", [] { (void)GetAPIStatusFunc(nullptr); }); }

void Write3HB(ForcepadSettings& record, std::int32_t enabled) {
    SyncForcepadSettings(SYNC_READ, record);
    record.UseTopZoneAsVadavAreduButtonsEnabled = enabled;
    SyncForcepadSettings(SYNC_WRITE, record);
    SyncForcepadSettings(SYNC_WRITE_LAST, record);
}

}  // namespace

std::atomic<win::HANDLE> (&GetAPIStatusEvent)[kAPIEventCount] = apiEvents->events;
std::atomic<win::HANDLE>& GetAPIStatusThread = apiEvents->thread;

void CloseEventSlot(std::atomic<win::HANDLE>& slot) {
    if (const win::HANDLE h = slot.exchange(win::HANDLE{}); h != win::HANDLE{}) win::Sync().CloseHandle(h);
}

void EndEventThread(std::atomic<win::HANDLE>& thread, std::atomic<win::HANDLE>& exitEvent) {
    const win::HANDLE t = thread.exchange(win::HANDLE{});
    if (t == win::HANDLE{}) return;
    if (const win::HANDLE exit = exitEvent.load(); exit != win::HANDLE{}) win::Sync().SetEvent(exit);
    win::Sync().WaitForSingleObject(t, kEventThreadEndWaitMs, nullptr);
    win::Thr().CloseThreadHandle(t);
}

void StartEventThread(win::WorkCallback function, std::atomic<win::HANDLE>& slot, const char* tag) {
    win::HANDLE thread{};
    // Without its thread the events are never answered: worth a line, though the start goes on.
    if (const win::DWORD error = win::Thr().CreateThread(function, nullptr, &thread); error == win::ERROR_SUCCESS)
        slot = thread;
    else
        TraceLog("%s CreateThread Fail, GetLastError() = 0x%.8X", tag, static_cast<unsigned>(error));
}

win::DWORD ExistingEvents(const std::atomic<win::HANDLE>* slots, int count, win::HANDLE* handles, int* indexOf) {
    win::DWORD found = 0;
    for (int i = 0; i < count; ++i) {
        if (const win::HANDLE h = slots[i].load(); h != win::HANDLE{}) {
            handles[found] = h;
            indexOf[found++] = i;
        }
    }
    return found;
}

void StartAPIStatusEvents() {
    // A second start in one process: the earlier thread would otherwise go on waiting on
    // handles that are about to be replaced, and two threads would share every event.
    EndAPIStatusEvents();

    win::SECURITY_DESCRIPTOR descriptor{};
    win::Sec().InitializeSecurityDescriptor(&descriptor, win::SECURITY_DESCRIPTOR_REVISION);
    win::Sec().SetSecurityDescriptorDacl(&descriptor, true, win::PACL{}, false);
    for (int i = 0; i < kAPIEventCount; ++i) {
        win::HANDLE event{};
        const win::DWORD error = win::Sync().CreateEventW(&descriptor, false, false, kAPIEventNames[i], &event, nullptr);
        if (error == win::ERROR_SUCCESS) {
            GetAPIStatusEvent[i] = event;
            TraceLog("[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[%d] Successfully", i);
        } else {
            TraceLog("[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[%d] Fail, GetLastError() = 0x%.8X", i,
                     static_cast<unsigned>(error));
        }
    }
    StartEventThread(&RunGetAPIStatusFunc, GetAPIStatusThread, "[GetAPIStatusFunc]");
}

void EndAPIStatusEvents() {
    EndEventThread(GetAPIStatusThread, GetAPIStatusEvent[kAPIExitEvent]);
    for (auto& slot : GetAPIStatusEvent) CloseEventSlot(slot);
}

win::DWORD GetAPIStatusFunc(void*) {
    TraceLog("[GetAPIStatusFunc] Enter ==> GetAPIStatusFunc()");
    // Until a user's values can be read, an event writes back the live record rather than
    // a record of zeros.
    ForcepadSettings record = liveForcepadSettings.Load();
    for (;;) {
        win::HANDLE handles[kAPIEventCount];
        int indexOf[kAPIEventCount];
        const win::DWORD count = ExistingEvents(GetAPIStatusEvent, kAPIEventCount, handles, indexOf);
        if (count == 0) {
            TraceLog("[GetAPIStatusFunc] No Event To Wait For");
            break;
        }
        win::DWORD error = win::ERROR_SUCCESS;
        const win::DWORD result = win::Sync().WaitForMultipleObjects(count, handles, false, win::INFINITE, &error);
        if (result == win::WAIT_FAILED) {
            TraceLog("[GetAPIStatusFunc] Wait Fail, GetLastError() = 0x%.8X", static_cast<unsigned>(error));
            break;
        }
        if (result >= win::WAIT_OBJECT_0 + count) continue;
        switch (indexOf[result - win::WAIT_OBJECT_0]) {
            case 0:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating 3HB Value to On in Registry");
                Write3HB(record, 1);
                break;
            case 1:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating 3HB Value to Off in Registry");
                Write3HB(record, 0);
                break;
            case 2:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating Forcepad Capability Value to Enable in Registry");
                ChangeValueInRegistry(kValueForcepadCapability, 1);
                break;
            case 3:
                TraceLog(
                    "[GetAPIStatusFunc] API SetEvent for Updating Forcepad Capability Value to Disable in Registry");
                ChangeValueInRegistry(kValueForcepadCapability, 0);
                break;
            default:
                TraceLog("[GetAPIStatusFunc] Close Thread");
                TraceLog("[GetAPIStatusFunc] Exit <== GetAPIStatusFunc()");
                return 0;
        }
    }
    TraceLog("[GetAPIStatusFunc] Exit <== GetAPIStatusFunc()");
    return 0;
}

int SetTakeOwnershipPrivilege(win::HANDLE token, bool enable) {
    win::LUID privilege{};
    if (win::Proc().LookupPrivilegeValueW(L"SeTakeOwnershipPrivilege", &privilege) != win::ERROR_SUCCESS) return 0;
    return win::Proc().AdjustTokenPrivileges(token, privilege, enable ? win::SE_PRIVILEGE_ENABLED : 0) ==
                   win::ERROR_SUCCESS
               ? 1
               : 0;
}

bool GrantEventAccess(const wchar_t* eventName) {
    win::UniqueSid everyone;
    win::UniqueSid users;
    const win::DWORD worldRid = win::SECURITY_WORLD_RID;
    const win::DWORD usersRids[2] = {win::SECURITY_BUILTIN_DOMAIN_RID, win::DOMAIN_ALIAS_RID_USERS};
    if (win::Sec().AllocateAndInitializeSid(win::SECURITY_WORLD_SID_AUTHORITY, 1, &worldRid, everyone.put()) !=
            win::ERROR_SUCCESS ||
        win::Sec().AllocateAndInitializeSid(win::SECURITY_NT_AUTHORITY, 2, usersRids, users.put()) !=
            win::ERROR_SUCCESS)
        return false;
    const win::EXPLICIT_ACCESS_W entries[2] = {
        {win::GENERIC_ALL, win::SET_ACCESS, win::NO_INHERITANCE, win::TRUSTEE_IS_SID, win::TRUSTEE_IS_WELL_KNOWN_GROUP,
         everyone.get()},
        {win::GENERIC_ALL, win::SET_ACCESS, win::NO_INHERITANCE, win::TRUSTEE_IS_SID, win::TRUSTEE_IS_GROUP,
         users.get()},
    };
    win::UniqueAcl acl;
    if (win::Sec().SetEntriesInAclW(2, entries, acl.put()) != win::ERROR_SUCCESS) return false;

    const win::DWORD applied =
        win::Sync().SetNamedSecurityInfoW(eventName, win::DACL_SECURITY_INFORMATION, win::PSID{}, acl.get());
    if (applied == win::ERROR_SUCCESS) return true;
    if (applied != win::ERROR_ACCESS_DENIED) return false;

    win::UniqueProcessHandle process;
    win::UniqueProcessHandle token;
    if (win::Proc().OpenProcess(win::MAXIMUM_ALLOWED, win::Proc().GetCurrentProcessId(), process.put()) !=
            win::ERROR_SUCCESS ||
        win::Proc().OpenProcessToken(process.get(), win::TOKEN_ADJUST_PRIVILEGES | win::TOKEN_QUERY, token.put()) !=
            win::ERROR_SUCCESS)
        return false;
    if (!SetTakeOwnershipPrivilege(token.get(), true)) return false;
    const win::DWORD owned =
        win::Sync().SetNamedSecurityInfoW(eventName, win::OWNER_SECURITY_INFORMATION, users.get(), win::PACL{});
    // Disabled again whatever came of it: the privilege is for this one step.
    SetTakeOwnershipPrivilege(token.get(), false);
    if (owned != win::ERROR_SUCCESS) return false;
    return win::Sync().SetNamedSecurityInfoW(eventName, win::DACL_SECURITY_INFORMATION, win::PSID{}, acl.get()) ==
           win::ERROR_SUCCESS;
}

}  // namespace tavo
