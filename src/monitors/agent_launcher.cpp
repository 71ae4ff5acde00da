#include "monitors/agent_launcher.h"

#include <string>
#include <vector>

#include "common/equals_no_case.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/sessions.h"
#include "platform/system.h"

namespace tavo {
namespace {

// "<current directory>\KVRInput.exe", or false with the reason when it cannot be had whole:
// a cut path would name another program.
bool AgentPath(std::wstring* path, win::DWORD* error) {
    wchar_t directory[kAgentPathChars] = {};
    win::DWORD length = 0;
    *error = win::Sys().GetCurrentDirectoryW(kAgentPathChars, directory, &length);
    if (*error != win::ERROR_SUCCESS) {
        if (*error == win::ERROR_INSUFFICIENT_BUFFER) *error = win::ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::wstring full(directory, length);
    if (full.empty() || full.back() != L'\\') full += L'\\';
    full += kInputAgentFileName;
    if (full.size() + 1 > kAgentPathChars) {
        *error = win::ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    *path = std::move(full);
    return true;
}

// The agent's path and its command line, logged.
bool AgentCommandLine(std::wstring* path, std::wstring* commandLine) {
    win::DWORD error = win::ERROR_SUCCESS;
    if (!AgentPath(path, &error)) {
        TraceLog("LaunchInputAgent::KVRInput path unavailable, Error: %u\n", error);
        return false;
    }
    // Quoted, so that a directory with a space cannot be read as another program.
    *commandLine = L"\"" + *path + L"\"";
    TraceLog("szCmdLine = %S\n", commandLine->c_str());
    return true;
}

// The first winlogon.exe of the session, opened with its token; the error is the last one
// met (ERROR_NO_MORE_FILES when the walk found none).
win::DWORD OpenWinlogonToken(win::HANDLE snapshot, const win::PROCESSENTRY32W& first, win::DWORD session,
                             win::UniqueProcessHandle* process, win::UniqueProcessHandle* token) {
    win::PROCESSENTRY32W entry = first;
    win::DWORD error = win::ERROR_SUCCESS;
    for (;;) {
        win::DWORD owner = 0;
        if (EqualsNoCase(entry.szExeFile, kWinlogonExe) &&
            win::Proc().ProcessIdToSessionId(entry.th32ProcessID, &owner) == win::ERROR_SUCCESS && owner == session) {
            error = win::Proc().OpenProcess(win::MAXIMUM_ALLOWED, entry.th32ProcessID, process->put());
            if (error == win::ERROR_SUCCESS) error = win::Proc().OpenProcessToken(process->get(), kWinlogonTokenAccess, token->put());
            return error;
        }
        error = win::Proc().Process32NextW(snapshot, &entry);
        if (error != win::ERROR_SUCCESS) return error;
    }
}

// The token of the session's winlogon.exe, found in a snapshot of all processes, logged
// when it cannot be had.
bool OpenConsoleWinlogonToken(win::DWORD session, win::UniqueProcessHandle* token) {
    win::UniqueProcessHandle snapshot;
    win::DWORD error = win::Proc().CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0, snapshot.put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("CreateToolhelp32Snapshot Fail : %u\n", error);
        return false;
    }
    win::PROCESSENTRY32W entry{};
    error = win::Proc().Process32FirstW(snapshot.get(), &entry);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Process32First Fail : %u\n", error);
        return false;
    }
    win::UniqueProcessHandle winlogon;
    error = OpenWinlogonToken(snapshot.get(), entry, session, &winlogon, token);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Process token open Error: %u\n", error);
        return false;
    }
    return true;
}

// A primary copy of winlogon's token in the console session, with SeDebugPrivilege enabled.
bool MakeAgentToken(win::HANDLE winlogonToken, win::DWORD session, win::UniqueProcessHandle* primary) {
    win::LUID debug{};
    win::DWORD error = win::Proc().LookupPrivilegeValueW(win::SE_DEBUG_NAME, &debug);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Lookup Privilege value Error: %u\n", error);
        return false;
    }
    // Without its own copy in the console session the agent would start as the service, in
    // session 0: CreateProcessAsUserW takes a missing token for the caller's.
    error = win::Proc().DuplicateTokenEx(winlogonToken, win::MAXIMUM_ALLOWED, win::SecurityIdentification,
                                         win::TokenPrimary, primary->put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("LaunchInputAgent::DuplicateTokenEx Error: %u\n", error);
        return false;
    }
    error = win::Proc().SetTokenSessionId(primary->get(), session);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("LaunchInputAgent::SetTokenInformation Error: %u\n", error);
        return false;
    }
    error = win::Proc().AdjustTokenPrivileges(primary->get(), debug, win::SE_PRIVILEGE_ENABLED);
    if (error == win::ERROR_NOT_ALL_ASSIGNED) {
        TraceLog("Token does not have the provilege\n");
        return false;
    }
    if (error != win::ERROR_SUCCESS) TraceLog("Adjust Privilege value Error: %u\n", error);
    return true;
}

// The token user's environment when it can be built, and the creation flags that go with it.
win::DWORD AgentEnvironment(win::HANDLE token, win::UniqueEnvironmentBlock* environment) {
    const win::DWORD flags = win::NORMAL_PRIORITY_CLASS | win::CREATE_NEW_CONSOLE;
    if (win::Proc().CreateEnvironmentBlock(token, true, environment->put()) != win::ERROR_SUCCESS) return flags;
    return flags | win::CREATE_UNICODE_ENVIRONMENT;
}

// Starts the agent on the interactive desktop and logs how it went; the agent then runs on
// its own.
void StartAgent(win::HANDLE token, const std::wstring& path, const std::wstring& commandLine) {
    win::UniqueEnvironmentBlock environment;
    const win::DWORD flags = AgentEnvironment(token, &environment);
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    win::PROCESS_INFORMATION created{};
    win::DWORD error = win::Proc().CreateProcessAsUserW(token, path.c_str(), line.data(), flags, environment.get(),
                                                        nullptr, kInputAgentDesktop, &created);
    TraceLog("CreateProcessAsUser Error: %u\n", error);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Run KVRInput fail\n");
        return;
    }
    const win::UniqueProcessHandle agent(created.hProcess);
    const win::UniqueProcessHandle agentThread(created.hThread);
    win::DWORD exitCode = 0;
    error = win::Proc().GetExitCodeProcess(agent.get(), &exitCode);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("LaunchInputAgent::GetExitCodeProcess Error: %u\n", error);
        return;
    }
    TraceLog("Run KVRInput, exitCode: %d\n", static_cast<int>(exitCode));
}

}  // namespace

void LaunchInputAgent() {
    std::wstring path, commandLine;
    if (!AgentCommandLine(&path, &commandLine)) return;
    const win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();
    win::UniqueProcessHandle winlogonToken;
    if (!OpenConsoleWinlogonToken(session, &winlogonToken)) return;
    win::UniqueProcessHandle agentToken;
    if (!MakeAgentToken(winlogonToken.get(), session, &agentToken)) return;
    StartAgent(agentToken.get(), path, commandLine);
}

}  // namespace tavo
