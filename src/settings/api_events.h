// The API events: named events that any program may set to switch the top-zone buttons or
// mark the forcepad capability, the thread that turns them into registry values, and the
// grant that opens a named event to every user.
#pragma once

#include <atomic>

#include "platform/wintypes.h"
#include "settings/event_thread.h"

namespace tavo {

inline constexpr int kAPIEventCount = 5;
// In wait order; the index is the number in the log lines. The last one ends the thread.
inline constexpr const wchar_t* kAPIEventNames[kAPIEventCount] = {
    L"Global\\API_3HB_Change_Status_On",
    L"Global\\API_3HB_Change_Status_Off",
    L"Global\\API_Set_Forcepad_Capability_Enable",
    L"Global\\API_Set_Forcepad_Capability_Disable",
    L"ExitGetAPI3HBChangeStatusThread",
};
inline constexpr int kAPIExitEvent = 4;

// The five events (null while missing) and the thread's handle, process-wide; the service
// object releases them.
extern std::atomic<win::HANDLE> (&GetAPIStatusEvent)[kAPIEventCount];
extern std::atomic<win::HANDLE>& GetAPIStatusThread;

// Creates the five events (auto-reset, not signalled, not inheritable; the four API events
// with a null DACL so that any program may set them, the exit event with default security),
// logging each result, then starts GetAPIStatusFunc.
void StartAPIStatusEvents();
// Sets the exit event, waits for the thread at most kEventThreadEndWaitMs, closes the
// thread's handle, then the five events in index order.
void EndAPIStatusEvents();

// The thread: waits for the events that exist and writes what each asks for. Ends on its
// exit event, and also when a wait fails: that means a handle it waits on is no longer
// valid, which no retry mends.
win::DWORD GetAPIStatusFunc(void* context);

// Gives Everyone and BUILTIN\Users all access to the named event; when the DACL may not be
// written, takes ownership for BUILTIN\Users first. True when the new DACL was applied.
bool GrantEventAccess(const wchar_t* eventName);
// Enables or disables SeTakeOwnershipPrivilege in token: 1 on success, 0 otherwise.
int SetTakeOwnershipPrivilege(win::HANDLE token, bool enable);

}  // namespace tavo
