#include "platform/sim/sim_processes.h"

#include <algorithm>
#include <cwctype>

namespace sim {
namespace {

constexpr win::DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

struct Privilege {
    const wchar_t* name;
    win::DWORD luid;
};
constexpr Privilege kPrivileges[] = {
    {L"SeCreateTokenPrivilege", 2},   {L"SeAssignPrimaryTokenPrivilege", 3}, {L"SeIncreaseQuotaPrivilege", 5},
    {L"SeTcbPrivilege", 7},           {L"SeSecurityPrivilege", 8},           {L"SeTakeOwnershipPrivilege", 9},           {L"SeShutdownPrivilege", 19},
    {L"SeDebugPrivilege", 20},        {L"SeChangeNotifyPrivilege", 23},      {L"SeImpersonatePrivilege", 29},
};

bool SameText(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(static_cast<wint_t>(x)) == std::towupper(static_cast<wint_t>(y));
           });
}

// What LocalSystem holds; enabled as Windows enables them by default.
std::map<std::wstring, bool> SystemPrivileges() {
    return {{L"SeAssignPrimaryTokenPrivilege", false}, {L"SeIncreaseQuotaPrivilege", false},
            {L"SeTcbPrivilege", true},                 {L"SeDebugPrivilege", true},
            {L"SeChangeNotifyPrivilege", true},        {L"SeImpersonatePrivilege", true},
            {L"SeTakeOwnershipPrivilege", false}};
}

std::wstring FileName(const std::wstring& path) {
    auto cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace

SimProcesses::SimProcesses(FaultPlan& faults, HandleTable& handles, SimSessions& sessions, SimFiles& files)
    : faults_(faults), handles_(handles), sessions_(sessions), files_(files) {
    for (const wchar_t* exe : {L"System", L"smss.exe", L"csrss.exe", L"wininit.exe", L"services.exe", L"lsass.exe"})
        AddProcess(exe, 0);
    selfPid_ = AddProcess(L"TavoTouchpadService.exe", 0);
}

win::DWORD SimProcesses::AddProcess(const std::wstring& exe, win::DWORD session, const std::wstring& user) {
    std::lock_guard<std::mutex> lock(lock_);
    Process p;
    p.pid = exe == L"System" ? 4 : (nextPid_ += 4);
    p.exe = exe;
    p.token = std::make_shared<Token>();
    p.token->user = user;
    p.token->session = session;
    p.token->privileges = user == L"SYSTEM" ? SystemPrivileges() : std::map<std::wstring, bool>{{L"SeChangeNotifyPrivilege", true}};
    processes_.push_back(p);
    return p.pid;
}

void SimProcesses::EndProcess(win::DWORD pid, win::DWORD exitCode) {
    std::lock_guard<std::mutex> lock(lock_);
    if (Process* p = FindLocked(pid)) {
        p->running = false;
        p->exitCode = exitCode;
        if (SameText(p->exe, L"winlogon.exe")) winlogonEnded_.insert(p->token->session);
    }
}

std::optional<win::DWORD> SimProcesses::Find(const std::wstring& exe, win::DWORD session) {
    std::lock_guard<std::mutex> lock(lock_);
    SyncSessionsLocked();
    for (const auto& p : processes_)
        if (p.running && SameText(p.exe, exe) && p.token->session == session) return p.pid;
    return std::nullopt;
}

std::optional<SimProcesses::Process> SimProcesses::Get(win::DWORD pid) {
    std::lock_guard<std::mutex> lock(lock_);
    if (Process* p = FindLocked(pid)) return *p;
    return std::nullopt;
}

void SimProcesses::RevokePrivilege(win::DWORD pid, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(lock_);
    SyncSessionsLocked();
    if (Process* p = FindLocked(pid)) p->token->privileges.erase(name);
}

std::vector<SimProcesses::Creation> SimProcesses::Creations() const {
    std::lock_guard<std::mutex> lock(lock_);
    return creations_;
}

SimProcesses::Process* SimProcesses::FindLocked(win::DWORD pid) {
    for (auto& p : processes_)
        if (p.pid == pid) return &p;
    return nullptr;
}

// Every interactive session has its winlogon.exe while it exists.
void SimProcesses::SyncSessionsLocked() {
    const std::vector<win::DWORD> ids = sessions_.SessionIds();
    for (auto& p : processes_) {
        if (p.running && SameText(p.exe, L"winlogon.exe") &&
            std::find(ids.begin(), ids.end(), p.token->session) == ids.end()) {
            p.running = false;
            p.exitCode = 0;
        }
    }
    for (win::DWORD id : ids) {
        if (id == 0 || winlogonEnded_.contains(id)) continue;
        const bool has = std::any_of(processes_.begin(), processes_.end(), [&](const Process& p) {
            return p.running && SameText(p.exe, L"winlogon.exe") && p.token->session == id;
        });
        if (has) continue;
        Process p;
        p.pid = (nextPid_ += 4);
        p.exe = L"winlogon.exe";
        p.image = L"C:\\Windows\\System32\\winlogon.exe";
        p.token = std::make_shared<Token>();
        p.token->user = L"SYSTEM";
        p.token->session = id;
        p.token->privileges = SystemPrivileges();
        processes_.push_back(p);
    }
}

SimProcesses::Open* SimProcesses::Handle(win::HANDLE h, const char* kind) {
    auto it = open_.find(static_cast<std::uint64_t>(h));
    if (it == open_.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

win::HANDLE SimProcesses::AddHandle(Open open) {
    const std::uint64_t h = handles_.Open(open.kind);
    open_[h] = std::move(open);
    return static_cast<win::HANDLE>(h);
}

win::DWORD SimProcesses::CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD, win::HANDLE* out) {
    if (auto e = faults_.Check("CreateToolhelp32Snapshot")) return e;
    if (out == nullptr || !(flags & win::TH32CS_SNAPPROCESS)) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    SyncSessionsLocked();
    Open snapshot;
    snapshot.kind = "Snapshot";
    for (const auto& p : processes_) {
        if (!p.running) continue;
        win::PROCESSENTRY32W e{};
        e.th32ProcessID = p.pid;
        std::wstring name = p.exe.substr(0, win::MAX_PATH - 1);
        std::copy(name.begin(), name.end(), e.szExeFile);
        snapshot.list.push_back(e);
    }
    *out = AddHandle(std::move(snapshot));
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::Process32FirstW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) {
    if (auto e = faults_.Check("Process32FirstW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* s = Handle(snapshot, "Snapshot");
    if (!s) return win::ERROR_INVALID_HANDLE;
    if (s->list.empty()) return win::ERROR_NO_MORE_FILES;
    *entry = s->list[0];
    s->next = 1;
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::Process32NextW(win::HANDLE snapshot, win::PROCESSENTRY32W* entry) {
    if (auto e = faults_.Check("Process32NextW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* s = Handle(snapshot, "Snapshot");
    if (!s) return win::ERROR_INVALID_HANDLE;
    if (s->next >= s->list.size()) return win::ERROR_NO_MORE_FILES;
    *entry = s->list[s->next++];
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::ProcessIdToSessionId(win::DWORD processId, win::DWORD* sessionId) {
    if (auto e = faults_.Check("ProcessIdToSessionId")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    SyncSessionsLocked();
    Process* p = FindLocked(processId);
    if (!p || !p->running) return win::ERROR_INVALID_PARAMETER;
    *sessionId = p->token->session;
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::GetCurrentProcessId() { return selfPid_; }

win::DWORD SimProcesses::OpenProcess(win::DWORD, win::DWORD processId, win::HANDLE* out) {
    if (auto e = faults_.Check("OpenProcess")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    SyncSessionsLocked();
    Process* p = FindLocked(processId);
    if (processId == 0 || !p || !p->running) return win::ERROR_INVALID_PARAMETER;
    Open open;
    open.kind = "Process";
    open.pid = processId;
    *out = AddHandle(std::move(open));
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::OpenProcessToken(win::HANDLE process, win::DWORD access, win::HANDLE* out) {
    if (auto e = faults_.Check("OpenProcessToken")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* h = Handle(process, "Process");
    if (!h) return win::ERROR_INVALID_HANDLE;
    Process* p = FindLocked(h->pid);
    if (!p) return win::ERROR_INVALID_HANDLE;
    Open open;
    open.kind = "Token";
    open.token = p->token;  // the process's own token, not a copy
    open.access = (access & win::MAXIMUM_ALLOWED) ? TOKEN_ALL_ACCESS : access;
    *out = AddHandle(std::move(open));
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::LookupPrivilegeValueW(const wchar_t* name, win::LUID* out) {
    if (auto e = faults_.Check("LookupPrivilegeValueW")) return e;
    if (name == nullptr || out == nullptr) return win::ERROR_INVALID_PARAMETER;
    for (const auto& p : kPrivileges) {
        if (SameText(p.name, name)) {
            *out = win::LUID{p.luid, 0};
            return win::ERROR_SUCCESS;
        }
    }
    return win::ERROR_NO_SUCH_PRIVILEGE;
}

win::DWORD SimProcesses::AdjustTokenPrivileges(win::HANDLE token, const win::LUID& privilege, win::DWORD attributes) {
    if (auto e = faults_.Check("AdjustTokenPrivileges")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* t = Handle(token, "Token");
    if (!t) return win::ERROR_INVALID_HANDLE;
    if (!(t->access & win::TOKEN_ADJUST_PRIVILEGES)) return win::ERROR_ACCESS_DENIED;
    for (const auto& p : kPrivileges) {
        if (p.luid != privilege.LowPart || privilege.HighPart != 0) continue;
        auto held = t->token->privileges.find(p.name);
        if (held == t->token->privileges.end()) break;
        held->second = (attributes & win::SE_PRIVILEGE_ENABLED) != 0;
        return win::ERROR_SUCCESS;
    }
    return win::ERROR_NOT_ALL_ASSIGNED;
}

win::DWORD SimProcesses::DuplicateTokenEx(win::HANDLE token, win::DWORD access, win::DWORD impersonationLevel,
                                          win::DWORD tokenType, win::HANDLE* out) {
    if (auto e = faults_.Check("DuplicateTokenEx")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* t = Handle(token, "Token");
    if (!t) return win::ERROR_INVALID_HANDLE;
    if (!(t->access & win::TOKEN_DUPLICATE)) return win::ERROR_ACCESS_DENIED;
    if ((tokenType != win::TokenPrimary && tokenType != win::TokenImpersonation) || impersonationLevel > 3)
        return win::ERROR_INVALID_PARAMETER;
    Open open;
    open.kind = "Token";
    open.token = std::make_shared<Token>(*t->token);
    open.token->type = tokenType;
    open.token->impersonationLevel = impersonationLevel;
    open.access = (access & win::MAXIMUM_ALLOWED) ? TOKEN_ALL_ACCESS : access;
    *out = AddHandle(std::move(open));
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::SetTokenSessionId(win::HANDLE token, win::DWORD sessionId) {
    if (auto e = faults_.Check("SetTokenInformation")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* t = Handle(token, "Token");
    if (!t) return win::ERROR_INVALID_HANDLE;
    if (!(t->access & win::TOKEN_ADJUST_SESSIONID)) return win::ERROR_ACCESS_DENIED;
    t->token->session = sessionId;
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::CreateEnvironmentBlock(win::HANDLE token, bool inherit, win::ENVIRONMENT_BLOCK* out) {
    if (auto e = faults_.Check("CreateEnvironmentBlock")) return e;
    if (out == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring user = L"SYSTEM";
    if (token != win::HANDLE{}) {
        Open* t = Handle(token, "Token");
        if (!t) return win::ERROR_INVALID_HANDLE;
        if (!(t->access & win::TOKEN_QUERY)) return win::ERROR_ACCESS_DENIED;
        user = t->token->user;
    }
    Open open;
    open.kind = "Environment";
    const std::wstring profile =
        user == L"SYSTEM" ? L"C:\\Windows\\system32\\config\\systemprofile" : L"C:\\Users\\" + user;
    open.environment = {L"SystemRoot=C:\\Windows", L"USERNAME=" + user, L"USERPROFILE=" + profile};
    if (inherit) open.environment.push_back(L"Path=C:\\Windows\\system32;C:\\Windows");
    *out = static_cast<win::ENVIRONMENT_BLOCK>(static_cast<std::uint64_t>(AddHandle(std::move(open))));
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::DestroyEnvironmentBlock(win::ENVIRONMENT_BLOCK block) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(block);
    if (!Handle(static_cast<win::HANDLE>(h), "Environment")) return win::ERROR_INVALID_PARAMETER;
    open_.erase(h);
    handles_.Close(h, "Environment");
    return win::ERROR_SUCCESS;
}

std::optional<std::wstring> SimProcesses::ResolveImage(const wchar_t* applicationName,
                                                       const std::wstring& commandLine, win::DWORD* error) const {
    auto parentExists = [&](const std::wstring& path) {
        auto cut = path.rfind(L'\\');
        return cut != std::wstring::npos && (cut == 2 || files_.Exists(path.substr(0, cut)));
    };
    if (applicationName != nullptr) {
        const std::wstring path(applicationName);
        if (files_.IsFile(path)) return path;
        *error = parentExists(path) ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    // No application name: Windows takes the program from the command line, trying each
    // run of words up to a space in turn unless the first word is quoted.
    std::vector<std::wstring> candidates;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        auto close = commandLine.find(L'"', 1);
        candidates.push_back(commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
    } else {
        for (std::size_t at = commandLine.find(L' '); at != std::wstring::npos; at = commandLine.find(L' ', at + 1))
            candidates.push_back(commandLine.substr(0, at));
        candidates.push_back(commandLine);
    }
    for (std::wstring c : candidates) {
        if (FileName(c).find(L'.') == std::wstring::npos) c += L".exe";
        if (c.find(L'\\') == std::wstring::npos) c = L"C:\\Windows\\system32\\" + c;
        if (files_.IsFile(c)) return c;
    }
    *error = win::ERROR_FILE_NOT_FOUND;
    return std::nullopt;
}

win::DWORD SimProcesses::CreateProcessAsUserW(win::HANDLE token, const wchar_t* applicationName,
                                              wchar_t* commandLine, win::DWORD flags,
                                              win::ENVIRONMENT_BLOCK environment, const wchar_t* currentDirectory,
                                              const wchar_t* desktop, win::PROCESS_INFORMATION* out) {
    if (auto e = faults_.Check("CreateProcessAsUserW")) return e;
    if (out == nullptr || (applicationName == nullptr && commandLine == nullptr)) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    // No token at all is no error: Windows starts the program as the caller, in its session.
    const Token* as = FindLocked(selfPid_)->token.get();
    if (token != win::HANDLE{}) {
        Open* t = Handle(token, "Token");
        if (!t) return win::ERROR_INVALID_HANDLE;
        constexpr win::DWORD kNeeded = win::TOKEN_QUERY | win::TOKEN_DUPLICATE | win::TOKEN_ASSIGN_PRIMARY;
        if ((t->access & kNeeded) != kNeeded) return win::ERROR_ACCESS_DENIED;
        if (t->token->type != win::TokenPrimary) return win::ERROR_BAD_TOKEN_TYPE;
        as = t->token.get();
    }
    std::optional<std::vector<std::wstring>> env;
    if (environment != win::ENVIRONMENT_BLOCK{}) {
        Open* block = Handle(static_cast<win::HANDLE>(static_cast<std::uint64_t>(environment)), "Environment");
        // The block is UTF-16: read without the flag it would be taken for ANSI text.
        if (!block || !(flags & win::CREATE_UNICODE_ENVIRONMENT)) return win::ERROR_INVALID_PARAMETER;
        env = block->environment;
    }
    const std::wstring line = commandLine ? std::wstring(commandLine) : std::wstring(applicationName);
    win::DWORD error = win::ERROR_SUCCESS;
    auto image = ResolveImage(applicationName, line, &error);
    if (!image) return error;

    Process p;
    p.pid = (nextPid_ += 4);
    p.exe = FileName(*image);
    p.image = *image;
    p.token = std::make_shared<Token>(*as);
    processes_.push_back(p);
    creations_.push_back(Creation{p.pid, *image,
                                  applicationName ? std::optional<std::wstring>(applicationName) : std::nullopt, line,
                                  desktop ? desktop : L"", flags, *as, env,
                                  currentDirectory ? std::optional<std::wstring>(currentDirectory) : std::nullopt});
    Open process;
    process.kind = "Process";
    process.pid = p.pid;
    Open thread;
    thread.kind = "Thread";
    thread.pid = p.pid;
    out->hProcess = AddHandle(std::move(process));
    out->hThread = AddHandle(std::move(thread));
    out->dwProcessId = p.pid;
    out->dwThreadId = p.pid + 2;
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::GetExitCodeProcess(win::HANDLE process, win::DWORD* exitCode) {
    if (auto e = faults_.Check("GetExitCodeProcess")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Open* h = Handle(process, "Process");
    if (!h) return win::ERROR_INVALID_HANDLE;
    Process* p = FindLocked(h->pid);
    if (!p) return win::ERROR_INVALID_HANDLE;
    *exitCode = p->running ? win::STILL_ACTIVE : p->exitCode;
    return win::ERROR_SUCCESS;
}

win::DWORD SimProcesses::CloseHandle(win::HANDLE handle) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(handle);
    auto it = open_.find(h);
    if (it == open_.end() || it->second.kind == "Environment") return win::ERROR_INVALID_HANDLE;
    handles_.Close(h, it->second.kind);
    open_.erase(it);
    return win::ERROR_SUCCESS;
}

}  // namespace sim
