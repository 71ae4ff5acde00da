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

    // WTSQueryUserToken: the primary token of the user logged on to the session, to be
    // released with CloseHandle below (own it with UniqueToken). Only LocalSystem may ask.
    // ERROR_NO_TOKEN when nobody is logged on to the session (session 0 always);
    // ERROR_FILE_NOT_FOUND for a session that does not exist. *token is untouched on failure.
    virtual DWORD WTSQueryUserToken(DWORD sessionId, HANDLE* token) = 0;

    // CloseHandle on a token this facet handed out.
    virtual DWORD CloseHandle(HANDLE token) = 0;

    // LoadUserProfileW(token, profile): loads the token user's profile, mounting the user's
    // registry hive under HKEY_USERS while any load of it is outstanding, and sets
    // profile->hProfile to a key on the hive's root. profile->dwSize must be
    // kProfileInfoSize and lpUserName a non-empty name (ERROR_INVALID_PARAMETER otherwise).
    // Every successful load must be matched by one UnloadUserProfile (own it with
    // UniqueProfile). hProfile is untouched on failure.
    virtual DWORD LoadUserProfileW(HANDLE token, PROFILEINFOW* profile) = 0;
    // UnloadUserProfile(token, hProfile): releases one load and its key.
    virtual DWORD UnloadUserProfile(HANDLE token, HKEY profile) = 0;
};

inline Sessions& Wts() { return *P().sessions; }

}  // namespace win
