// Terminal-services facet (wtsapi32 and kernel32 session calls): which session owns the
// console, and what the session manager knows about a session.
//
// Windows hands session information out in buffers that the caller must release with
// WTSFreeMemory; the backend copies the data out and releases the buffer itself, so these
// calls return plain values and nothing here needs freeing.
#pragma once

#include <string>

#include "platform/platform.h"

namespace win {

// What WTSGetActiveConsoleSessionId returns while no session is attached to the console
// (for example during a session switch).
inline constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

class Sessions {
public:
    virtual ~Sessions() = default;

    // The session attached to the physical console, or kNoConsoleSession. Cannot fail.
    virtual DWORD WTSGetActiveConsoleSessionId() = 0;

    // WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName): the
    // plain account name, without domain. A session nobody is logged on to (the services
    // session, the logon screen) yields an empty name and succeeds.
    virtual DWORD WTSQueryUserName(DWORD sessionId, std::wstring* userName) = 0;

    // WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSConnectState):
    // one of WTSActive ... WTSInit.
    virtual DWORD WTSQueryConnectState(DWORD sessionId, DWORD* state) = 0;
};

inline Sessions& Wts() { return *P().sessions; }

}  // namespace win
