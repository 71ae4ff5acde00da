// Processes and tokens facet (kernel32, advapi32, userenv): the process list, a process's
// token, privileges, user environments and starting a process as another user.
//
// Snapshots, processes, threads and tokens handed out here are released with this facet's
// CloseHandle (own them with UniqueProcessHandle); environment blocks with
// DestroyEnvironmentBlock (UniqueEnvironmentBlock). Every call leaves its outputs untouched
// when it fails.
#pragma once

#include "platform/platform.h"

namespace win {

inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr DWORD ERROR_BAD_TOKEN_TYPE = 1349;

inline constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
inline constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;
inline constexpr DWORD READ_CONTROL = 0x00020000;

inline constexpr DWORD TOKEN_ASSIGN_PRIMARY = 0x0001;
inline constexpr DWORD TOKEN_DUPLICATE = 0x0002;
inline constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD TOKEN_ADJUST_GROUPS = 0x0040;
inline constexpr DWORD TOKEN_ADJUST_DEFAULT = 0x0080;
inline constexpr DWORD TOKEN_ADJUST_SESSIONID = 0x0100;

// SECURITY_IMPERSONATION_LEVEL and TOKEN_TYPE
inline constexpr DWORD SecurityAnonymous = 0;
inline constexpr DWORD SecurityIdentification = 1;
inline constexpr DWORD SecurityImpersonation = 2;
inline constexpr DWORD TokenPrimary = 1;
inline constexpr DWORD TokenImpersonation = 2;

inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr wchar_t SE_DEBUG_NAME[] = L"SeDebugPrivilege";

inline constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
inline constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
inline constexpr DWORD CREATE_NO_WINDOW = 0x08000000;
inline constexpr DWORD STILL_ACTIVE = 259;

struct LUID {
    DWORD LowPart;
    LONG HighPart;
    friend bool operator==(const LUID&, const LUID&) = default;
};

// The fields of PROCESSENTRY32W that callers read.
struct PROCESSENTRY32W {
    DWORD th32ProcessID;
    DWORD th32ParentProcessID;
    wchar_t szExeFile[MAX_PATH];
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

enum class ENVIRONMENT_BLOCK : std::uint64_t {};

class Processes {
public:
    virtual ~Processes() = default;

    // CreateToolhelp32Snapshot(flags, pid): only TH32CS_SNAPPROCESS is asked for.
    virtual DWORD CreateToolhelp32Snapshot(DWORD flags, DWORD processId, HANDLE* out) = 0;
    // ERROR_NO_MORE_FILES past the last process.
    virtual DWORD Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) = 0;
    virtual DWORD Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) = 0;
    virtual DWORD ProcessIdToSessionId(DWORD processId, DWORD* sessionId) = 0;
    virtual DWORD GetCurrentProcessId() = 0;

    // OpenProcess(access, not inheritable, pid) and OpenProcessToken(process, access).
    virtual DWORD OpenProcess(DWORD access, DWORD processId, HANDLE* out) = 0;
    virtual DWORD OpenProcessToken(HANDLE process, DWORD access, HANDLE* out) = 0;

    // LookupPrivilegeValueW(local system, name).
    virtual DWORD LookupPrivilegeValueW(const wchar_t* name, LUID* out) = 0;
    // AdjustTokenPrivileges(token, keep the others, one privilege with attributes, no
    // previous state). ERROR_NOT_ALL_ASSIGNED when the call went through but the token does
    // not hold the privilege (Windows says so in the last error of a call that succeeded).
    virtual DWORD AdjustTokenPrivileges(HANDLE token, const LUID& privilege, DWORD attributes) = 0;
    // DuplicateTokenEx(token, access, no attributes, impersonation level, token type).
    virtual DWORD DuplicateTokenEx(HANDLE token, DWORD access, DWORD impersonationLevel, DWORD tokenType,
                                   HANDLE* out) = 0;
    // SetTokenInformation(token, TokenSessionId, &sessionId, sizeof(DWORD)).
    virtual DWORD SetTokenSessionId(HANDLE token, DWORD sessionId) = 0;

    // CreateEnvironmentBlock(&block, token, inherit): the token user's environment.
    virtual DWORD CreateEnvironmentBlock(HANDLE token, bool inherit, ENVIRONMENT_BLOCK* out) = 0;
    virtual DWORD DestroyEnvironmentBlock(ENVIRONMENT_BLOCK block) = 0;

    // CreateProcessAsUserW(token, applicationName, commandLine, no attributes, handles not
    // inherited, flags, environment (none: ENVIRONMENT_BLOCK{}), currentDirectory, a
    // start-up record naming only the desktop). applicationName and currentDirectory may be
    // null; commandLine is writable, as Windows requires. A null token is no error: the
    // program then runs as the caller, in the caller's session.
    virtual DWORD CreateProcessAsUserW(HANDLE token, const wchar_t* applicationName, wchar_t* commandLine,
                                       DWORD flags, ENVIRONMENT_BLOCK environment, const wchar_t* currentDirectory,
                                       const wchar_t* desktop, PROCESS_INFORMATION* out) = 0;
    // STILL_ACTIVE while the process runs.
    virtual DWORD GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;

    virtual DWORD CloseHandle(HANDLE handle) = 0;
};

inline Processes& Proc() { return *P().processes; }

}  // namespace win
