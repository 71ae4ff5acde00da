// A model of processes and tokens. The machine runs the session-0 system processes and the
// service itself (as SYSTEM), and one winlogon.exe (SYSTEM) in every other session the
// session manager knows, until a scenario ends it. Tokens are objects shared by the handles
// that reach them: OpenProcessToken reaches the process's own token, DuplicateTokenEx makes a
// new one. Access rights are checked per handle as Windows checks them for these calls.
// Processes the service creates are recorded with what they were started with; they run
// until a scenario ends them. Handle kinds: "Snapshot", "Process", "Thread", "Token",
// "Environment".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_sessions.h"

namespace sim {

class SimProcesses : public win::Processes {
public:
    SimProcesses(FaultPlan& faults, HandleTable& handles, SimSessions& sessions, SimFiles& files);

    win::DWORD CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD processId, win::HANDLE* out) override;
    win::DWORD Process32FirstW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) override;
    win::DWORD Process32NextW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) override;
    win::DWORD ProcessIdToSessionId(win::DWORD processId, win::DWORD* sessionId) override;
    win::DWORD GetCurrentProcessId() override;
    win::DWORD OpenProcess(win::DWORD access, win::DWORD processId, win::HANDLE* out) override;
    win::DWORD OpenProcessToken(win::HANDLE process, win::DWORD access, win::HANDLE* out) override;
    win::DWORD LookupPrivilegeValueW(const wchar_t* name, win::LUID* out) override;
    win::DWORD AdjustTokenPrivileges(win::HANDLE token, const win::LUID& privilege, win::DWORD attributes) override;
    win::DWORD DuplicateTokenEx(win::HANDLE token, win::DWORD access, win::DWORD impersonationLevel,
                                win::DWORD tokenType, win::HANDLE* out) override;
    win::DWORD SetTokenSessionId(win::HANDLE token, win::DWORD sessionId) override;
    win::DWORD CreateEnvironmentBlock(win::HANDLE token, bool inherit, win::ENVIRONMENT_BLOCK* out) override;
    win::DWORD DestroyEnvironmentBlock(win::ENVIRONMENT_BLOCK block) override;
    win::DWORD CreateProcessAsUserW(win::HANDLE token, const wchar_t* applicationName, wchar_t* commandLine,
                                    win::DWORD flags, win::ENVIRONMENT_BLOCK environment,
                                    const wchar_t* currentDirectory, const wchar_t* desktop,
                                    win::PROCESS_INFORMATION* out) override;
    win::DWORD GetExitCodeProcess(win::HANDLE process, win::DWORD* exitCode) override;
    win::DWORD CloseHandle(win::HANDLE handle) override;

    // ---- set-up and inspection for tests ----
    struct Token {
        std::wstring user;
        win::DWORD session = 0;
        win::DWORD type = win::TokenPrimary;
        win::DWORD impersonationLevel = win::SecurityAnonymous;
        std::map<std::wstring, bool> privileges;  // held, by name, with whether enabled
    };
    struct Process {
        win::DWORD pid = 0;
        std::wstring exe;    // the file name, as a snapshot lists it
        std::wstring image;  // the full path, when known
        std::shared_ptr<Token> token;
        bool running = true;
        win::DWORD exitCode = win::STILL_ACTIVE;
    };
    // What a process was started with by CreateProcessAsUserW.
    struct Creation {
        win::DWORD pid;
        std::wstring image;  // the program that runs
        std::optional<std::wstring> applicationName;
        std::wstring commandLine;
        std::wstring desktop;
        win::DWORD flags;
        Token token;  // the token's state as the process got it
        std::optional<std::vector<std::wstring>> environment;
        std::optional<std::wstring> currentDirectory;
    };

    // A running process as SYSTEM (holding the SYSTEM privileges) unless told otherwise.
    win::DWORD AddProcess(const std::wstring& exe, win::DWORD session, const std::wstring& user = L"SYSTEM");
    // Ends a process; an ended winlogon.exe is not started again for its session.
    void EndProcess(win::DWORD pid, win::DWORD exitCode = 0);
    std::optional<win::DWORD> Find(const std::wstring& exe, win::DWORD session);
    std::optional<Process> Get(win::DWORD pid);
    // Takes a privilege away from a process's token.
    void RevokePrivilege(win::DWORD pid, const std::wstring& name);
    std::vector<Creation> Creations() const;

private:
    struct Open {
        std::string kind;
        win::DWORD pid = 0;                     // Process, Thread
        std::shared_ptr<Token> token;           // Token
        win::DWORD access = 0;                  // Token
        std::vector<win::PROCESSENTRY32W> list;  // Snapshot
        std::size_t next = 0;                   // Snapshot
        std::vector<std::wstring> environment;  // Environment
    };
    void SyncSessionsLocked();
    Process* FindLocked(win::DWORD pid);
    Open* Handle(win::HANDLE h, const char* kind);
    win::HANDLE AddHandle(Open open);
    std::optional<std::wstring> ResolveImage(const wchar_t* applicationName, const std::wstring& commandLine,
                                             win::DWORD* error) const;

    FaultPlan& faults_;
    HandleTable& handles_;
    SimSessions& sessions_;
    SimFiles& files_;
    mutable std::mutex lock_;
    std::vector<Process> processes_;
    std::set<win::DWORD> winlogonEnded_;  // sessions whose winlogon.exe a scenario ended
    std::map<std::uint64_t, Open> open_;
    std::vector<Creation> creations_;
    win::DWORD nextPid_ = 0x1F0;
    win::DWORD selfPid_ = 0;
};

}  // namespace sim
