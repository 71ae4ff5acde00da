#include "platform/sessions.h"
#include "platform/win32/win32_common.h"

#include <userenv.h>
#include <wtsapi32.h>

namespace win32 {
namespace {

// Releases a buffer that WTSQuerySessionInformationW handed out.
struct WtsBuffer {
    LPWSTR p = nullptr;
    ~WtsBuffer() {
        if (p) ::WTSFreeMemory(p);
    }
};

// A failed call must never read as success: Wine's connect-state query fails without
// setting the last error.
DWORD QueryFailure() {
    DWORD e = ::GetLastError();
    return e != ERROR_SUCCESS ? e : ERROR_GEN_FAILURE;
}

class Win32Sessions : public win::Sessions {
public:
    win::DWORD WTSGetActiveConsoleSessionId() override { return ::WTSGetActiveConsoleSessionId(); }

    win::DWORD WTSQueryUserName(win::DWORD sessionId, std::wstring* userName) override {
        WtsBuffer buffer;
        DWORD bytes = 0;
        if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &buffer.p, &bytes))
            return QueryFailure();
        if (buffer.p == nullptr) {
            userName->clear();
            return ERROR_SUCCESS;
        }
        // Bounded by the returned size: never trust the terminator alone.
        std::size_t max = bytes / sizeof(WCHAR);
        std::size_t len = 0;
        while (len < max && buffer.p[len] != L'\0') ++len;
        userName->assign(buffer.p, len);
        return ERROR_SUCCESS;
    }

    win::DWORD WTSQueryConnectState(win::DWORD sessionId, win::DWORD* state) override {
        WtsBuffer buffer;
        DWORD bytes = 0;
        if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSConnectState, &buffer.p, &bytes))
            return QueryFailure();
        if (buffer.p == nullptr || bytes < sizeof(DWORD)) return ERROR_INVALID_DATA;
        DWORD value;
        std::memcpy(&value, buffer.p, sizeof value);
        *state = value;
        return ERROR_SUCCESS;
    }

    win::DWORD WTSQueryUserToken(win::DWORD sessionId, win::HANDLE* token) override {
        HANDLE h = nullptr;
        if (!::WTSQueryUserToken(sessionId, &h)) return QueryFailure();
        *token = static_cast<win::HANDLE>(reinterpret_cast<std::uintptr_t>(h));
        return ERROR_SUCCESS;
    }

    win::DWORD CloseHandle(win::HANDLE token) override {
        if (!::CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(token)))) return QueryFailure();
        return ERROR_SUCCESS;
    }

    win::DWORD LoadUserProfileW(win::HANDLE token, win::PROFILEINFOW* profile) override {
        if (profile == nullptr) return ERROR_INVALID_PARAMETER;
        static_assert(sizeof(PROFILEINFOW) == win::kProfileInfoSize);
        PROFILEINFOW info{};
        info.dwSize = profile->dwSize;  // a wrong size fails as it would
        info.dwFlags = profile->dwFlags;
        info.lpUserName = profile->lpUserName;
        info.lpProfilePath = profile->lpProfilePath;
        info.lpDefaultPath = profile->lpDefaultPath;
        info.lpServerName = profile->lpServerName;
        info.lpPolicyPath = profile->lpPolicyPath;
        if (!::LoadUserProfileW(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(token)), &info))
            return QueryFailure();
        profile->hProfile = static_cast<win::HKEY>(reinterpret_cast<std::uintptr_t>(info.hProfile));
        return ERROR_SUCCESS;
    }

    win::DWORD UnloadUserProfile(win::HANDLE token, win::HKEY profile) override {
        if (!::UnloadUserProfile(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(token)),
                                 reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(profile))))
            return QueryFailure();
        return ERROR_SUCCESS;
    }
};

}  // namespace

win::Sessions& Sessions() {
    static Win32Sessions instance;
    return instance;
}

}  // namespace win32
