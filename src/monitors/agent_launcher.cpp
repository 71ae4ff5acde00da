#include "monitors/agent_launcher.h"

#include <cwctype>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/sessions.h"
#include "platform/system.h"

namespace tavo {
namespace {

bool SameName(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
    return *a == *b;
}

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

// The first winlogon.exe of the session, opened with its token; the error is the last one
// met (ERROR_NO_MORE_FILES when the walk found none).
win::DWORD OpenWinlogonToken(win::HANDLE snapshot, const win::PROCESSENTRY32W& first, win::DWORD session,
                             win::UniqueProcessHandle* process, win::UniqueProcessHandle* token) {
    win::PROCESSENTRY32W entry = first;
    win::DWORD error = win::ERROR_SUCCESS;
    for (;;) {
        win::DWORD owner = 0;
        if (SameName(entry.szExeFile, kWinlogonExe) &&
            win::Proc().ProcessIdToSessionId(entry.th32ProcessID, &owner) == win::ERROR_SUCCESS && owner == session) {
            error = win::Proc().OpenProcess(win::MAXIMUM_ALLOWED, entry.th32ProcessID, process->put());
            if (error == win::ERROR_SUCCESS) error = win::Proc().OpenProcessToken(process->get(), kWinlogonTokenAccess, token->put());
            return error;
        }
        error = win::Proc().Process32NextW(snapshot, &entry);
        if (error != win::ERROR_SUCCESS) return error;
    }
}

}  // namespace

void LaunchInputAgent() {
    std::wstring path;
    win::DWORD error = win::ERROR_SUCCESS;
    if (!AgentPath(&path, &error)) {
        TraceLog("LaunchInputAgent::KVRInput path unavailable, Error: %u\n", error);
        return;
    }
    // Quoted, so that a directory with a space cannot be read as another program.
    std::wstring quoted = L"\"" + path + L"\"";
    TraceLog("szCmdLine = %S\n", quoted.c_str());

    const win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();

    win::UniqueProcessHandle snapshot;
    error = win::Proc().CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0, snapshot.put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("CreateToolhelp32Snapshot Fail : %u\n", error);
        return;
    }
    win::PROCESSENTRY32W entry{};
    error = win::Proc().Process32FirstW(snapshot.get(), &entry);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Process32First Fail : %u\n", error);
        return;
    }
    win::UniqueProcessHandle winlogon;
    win::UniqueProcessHandle token;
    error = OpenWinlogonToken(snapshot.get(), entry, session, &winlogon, &token);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Process token open Error: %u\n", error);
        return;
    }
    win::LUID debug{};
    error = win::Proc().LookupPrivilegeValueW(win::SE_DEBUG_NAME, &debug);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("Lookup Privilege value Error: %u\n", error);
        return;
    }
    win::UniqueProcessHandle primary;
    // Without its own copy in the console session the agent would start as the service, in
    // session 0: CreateProcessAsUserW takes a missing token for the caller's.
    error = win::Proc().DuplicateTokenEx(token.get(), win::MAXIMUM_ALLOWED, win::SecurityIdentification,
                                         win::TokenPrimary, primary.put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("LaunchInputAgent::DuplicateTokenEx Error: %u\n", error);
        return;
    }
    error = win::Proc().SetTokenSessionId(primary.get(), session);
    if (error != win::ERROR_SUCCESS) {
        TraceLog("LaunchInputAgent::SetTokenInformation Error: %u\n", error);
        return;
    }

    error = win::Proc().AdjustTokenPrivileges(primary.get(), debug, win::SE_PRIVILEGE_ENABLED);
    if (error == win::ERROR_NOT_ALL_ASSIGNED) {
        TraceLog("Token does not have the provilege\n");
        return;
    }
    if (error != win::ERROR_SUCCESS) TraceLog("Adjust Privilege value Error: %u\n", error);

    win::UniqueEnvironmentBlock environment;
    win::DWORD flags = win::NORMAL_PRIORITY_CLASS | win::CREATE_NEW_CONSOLE;
    if (win::Proc().CreateEnvironmentBlock(primary.get(), true, environment.put()) == win::ERROR_SUCCESS)
        flags |= win::CREATE_UNICODE_ENVIRONMENT;

    std::vector<wchar_t> commandLine(quoted.begin(), quoted.end());
    commandLine.push_back(L'\0');
    win::PROCESS_INFORMATION created{};
    error = win::Proc().CreateProcessAsUserW(primary.get(), path.c_str(), commandLine.data(), flags, environment.get(),
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

}  // namespace tavo
