#include "platform/processes.h"
#include "platform/win32/win32_common.h"

#include <tlhelp32.h>
#include <userenv.h>

#include <cwchar>

namespace win32 {
namespace {

void CopyEntry(const PROCESSENTRY32W& from, win::PROCESSENTRY32W* to) {
    to->th32ProcessID = from.th32ProcessID;
    to->th32ParentProcessID = from.th32ParentProcessID;
    static_assert(sizeof to->szExeFile == sizeof from.szExeFile);
    std::memcpy(to->szExeFile, from.szExeFile, sizeof to->szExeFile);
    to->szExeFile[MAX_PATH - 1] = L'\0';
}

class Win32Processes : public win::Processes {
public:
    win::DWORD CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD processId, win::HANDLE* out) override {
        HANDLE h = ::CreateToolhelp32Snapshot(flags, processId);
        if (h == INVALID_HANDLE_VALUE || h == nullptr) return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD Process32FirstW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) override {
        PROCESSENTRY32W e{};
        e.dwSize = sizeof e;
        if (!::Process32FirstW(Raw<void>(snapshot), &e)) return FailureOr(FALSE);
        CopyEntry(e, entry);
        return ERROR_SUCCESS;
    }
    win::DWORD Process32NextW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) override {
        PROCESSENTRY32W e{};
        e.dwSize = sizeof e;
        if (!::Process32NextW(Raw<void>(snapshot), &e)) return FailureOr(FALSE);
        CopyEntry(e, entry);
        return ERROR_SUCCESS;
    }
    win::DWORD ProcessIdToSessionId(win::DWORD processId, win::DWORD* sessionId) override {
        DWORD session = 0;
        if (!::ProcessIdToSessionId(processId, &session)) return FailureOr(FALSE);
        *sessionId = session;
        return ERROR_SUCCESS;
    }
    win::DWORD GetCurrentProcessId() override { return ::GetCurrentProcessId(); }

    win::DWORD OpenProcess(win::DWORD access, win::DWORD processId, win::HANDLE* out) override {
        HANDLE h = ::OpenProcess(access, FALSE, processId);
        if (h == nullptr) return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD OpenProcessToken(win::HANDLE process, win::DWORD access, win::HANDLE* out) override {
        HANDLE h = nullptr;
        if (!::OpenProcessToken(Raw<void>(process), access, &h)) return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }

    win::DWORD LookupPrivilegeValueW(const wchar_t* name, win::LUID* out) override {
        ::LUID luid{};
        if (!::LookupPrivilegeValueW(nullptr, name, &luid)) return FailureOr(FALSE);
        out->LowPart = luid.LowPart;
        out->HighPart = luid.HighPart;
        return ERROR_SUCCESS;
    }
    win::DWORD AdjustTokenPrivileges(win::HANDLE token, const win::LUID& privilege, win::DWORD attributes) override {
        TOKEN_PRIVILEGES tp{};
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Luid.LowPart = privilege.LowPart;
        tp.Privileges[0].Luid.HighPart = privilege.HighPart;
        tp.Privileges[0].Attributes = attributes;
        ::SetLastError(ERROR_SUCCESS);
        if (!::AdjustTokenPrivileges(Raw<void>(token), FALSE, &tp, sizeof tp, nullptr, nullptr)) return FailureOr(FALSE);
        // Success with ERROR_NOT_ALL_ASSIGNED: the token does not hold the privilege.
        return ::GetLastError() == ERROR_NOT_ALL_ASSIGNED ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
    }
    win::DWORD DuplicateTokenEx(win::HANDLE token, win::DWORD access, win::DWORD impersonationLevel,
                                win::DWORD tokenType, win::HANDLE* out) override {
        HANDLE h = nullptr;
        if (!::DuplicateTokenEx(Raw<void>(token), access, nullptr,
                                static_cast<SECURITY_IMPERSONATION_LEVEL>(impersonationLevel),
                                static_cast<TOKEN_TYPE>(tokenType), &h))
            return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD SetTokenSessionId(win::HANDLE token, win::DWORD sessionId) override {
        DWORD session = sessionId;
        return FailureOr(::SetTokenInformation(Raw<void>(token), TokenSessionId, &session, sizeof session));
    }

    win::DWORD CreateEnvironmentBlock(win::HANDLE token, bool inherit, win::ENVIRONMENT_BLOCK* out) override {
        void* block = nullptr;
        if (!::CreateEnvironmentBlock(&block, Raw<void>(token), inherit)) return FailureOr(FALSE);
        *out = Wrap<win::ENVIRONMENT_BLOCK>(block);
        return ERROR_SUCCESS;
    }
    win::DWORD DestroyEnvironmentBlock(win::ENVIRONMENT_BLOCK block) override {
        return FailureOr(::DestroyEnvironmentBlock(Raw<void>(block)));
    }

    win::DWORD CreateProcessAsUserW(win::HANDLE token, const wchar_t* applicationName, wchar_t* commandLine,
                                    win::DWORD flags, win::ENVIRONMENT_BLOCK environment,
                                    const wchar_t* currentDirectory, const wchar_t* desktop,
                                    win::PROCESS_INFORMATION* out) override {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.lpDesktop = const_cast<wchar_t*>(desktop);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessAsUserW(Raw<void>(token), applicationName, commandLine, nullptr, nullptr, FALSE, flags,
                                    Raw<void>(environment), currentDirectory, &startup, &info))
            return FailureOr(FALSE);
        out->hProcess = Wrap<win::HANDLE>(info.hProcess);
        out->hThread = Wrap<win::HANDLE>(info.hThread);
        out->dwProcessId = info.dwProcessId;
        out->dwThreadId = info.dwThreadId;
        return ERROR_SUCCESS;
    }
    win::DWORD GetExitCodeProcess(win::HANDLE process, win::DWORD* exitCode) override {
        DWORD code = 0;
        if (!::GetExitCodeProcess(Raw<void>(process), &code)) return FailureOr(FALSE);
        *exitCode = code;
        return ERROR_SUCCESS;
    }

    win::DWORD CloseHandle(win::HANDLE handle) override { return FailureOr(::CloseHandle(Raw<void>(handle))); }
};

}  // namespace

win::Processes& Processes() {
    static Win32Processes instance;
    return instance;
}

}  // namespace win32
