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
    EventThreadLife life;
};
ProcessWide<APIEventsState> apiEvents;

void RunGetAPIStatusFunc(void* context) {
    AtThreadBoundary("GetAPIStatusFunc", [context] { (void)GetAPIStatusFunc(context); });
    LeaveEventThread(apiEvents->life);
}

void Write3HB(ForcepadSettings& record, std::int32_t enabled) {
    // A read that failed leaves an earlier user's record, or the live one: only the user
    // whose key was read gets the change back, in that key.
    std::wstring user;
    const bool read = ReadUserForcepadSettings(record, &user);
    record.UseTopZoneAsVadavAreduButtonsEnabled = enabled;
    if (read) WriteUserForcepadSettings(user, record);
    SyncForcepadSettings(SYNC_WRITE_LAST, record);
}

}  // namespace

std::atomic<win::HANDLE> (&GetAPIStatusEvent)[kAPIEventCount] = apiEvents->events;
std::atomic<win::HANDLE>& GetAPIStatusThread = apiEvents->thread;

void StartAPIStatusEvents() {
    // A second start in one process: the earlier thread would otherwise go on waiting on
    // handles that are about to be replaced, and two threads would share every event.
    EndAPIStatusEvents();

    win::SECURITY_DESCRIPTOR descriptor{};
    win::Sec().InitializeSecurityDescriptor(&descriptor, win::SECURITY_DESCRIPTOR_REVISION);
    win::Sec().SetSecurityDescriptorDacl(&descriptor, true, win::PACL{}, false);
    for (int i = 0; i < kAPIEventCount; ++i) {
        // Any program may set the four API events; the exit event ends the thread for good,
        // so only the service and administrators may set it (default security).
        const win::SECURITY_DESCRIPTOR* security = i == kAPIExitEvent ? nullptr : &descriptor;
        win::HANDLE event{};
        const win::DWORD error = win::Sync().CreateEventW(security, false, false, kAPIEventNames[i], &event, nullptr);
        if (error == win::ERROR_SUCCESS) {
            GetAPIStatusEvent[i] = event;
            TraceLog("[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[%d] Successfully", i);
        } else {
            TraceLog("[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[%d] Fail, GetLastError() = 0x%.8X", i,
                     static_cast<unsigned>(error));
        }
    }
    StartEventThread(&RunGetAPIStatusFunc, GetAPIStatusThread, "[GetAPIStatusFunc]", apiEvents->life);
}

void EndAPIStatusEvents() {
    EndEventThreadAndCloseEvents(apiEvents->life, GetAPIStatusThread, GetAPIStatusEvent, kAPIEventCount,
                                 GetAPIStatusEvent[kAPIExitEvent].load());
}

win::DWORD GetAPIStatusFunc(void* context) {
    TraceLog("[GetAPIStatusFunc] Enter ==> GetAPIStatusFunc()");
    // Until a user's values can be read, an event writes back the live record rather than
    // a record of zeros.
    ForcepadSettings record = liveForcepadSettings.Load();
    const EventLoopEnd end = WaitForEvents(GetAPIStatusEvent, kAPIEventCount, [&record](int index, win::HANDLE) {
        switch (index) {
            case 0:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating 3HB Value to On in Registry");
                Write3HB(record, 1);
                return true;
            case 1:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating 3HB Value to Off in Registry");
                Write3HB(record, 0);
                return true;
            case 2:
                TraceLog("[GetAPIStatusFunc] API SetEvent for Updating Forcepad Capability Value to Enable in Registry");
                ChangeValueInRegistry(kValueForcepadCapability, 1);
                return true;
            case 3:
                TraceLog(
                    "[GetAPIStatusFunc] API SetEvent for Updating Forcepad Capability Value to Disable in Registry");
                ChangeValueInRegistry(kValueForcepadCapability, 0);
                return true;
            default:
                TraceLog("[GetAPIStatusFunc] Close Thread");
                return false;
        }
    }, nullptr, [context] { return EventThreadEnded(apiEvents->life, context); });
    if (end.how == EventLoopEnd::kNoEvents) TraceLog("[GetAPIStatusFunc] No Event To Wait For");
    if (end.how == EventLoopEnd::kWaitFailed)
        TraceLog("[GetAPIStatusFunc] Wait Fail, GetLastError() = 0x%.8X", static_cast<unsigned>(end.error));
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
