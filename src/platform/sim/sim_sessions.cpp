#include "platform/sim/sim_sessions.h"

namespace sim {
namespace {

std::wstring DefaultLocalAppData(const std::wstring& user) { return L"C:\\Users\\" + user + L"\\AppData\\Local"; }

}  // namespace

SimSessions::SimSessions(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {
    sessions_[0] = SimSession{0, L"", win::WTSDisconnected};
}

win::DWORD SimSessions::WTSGetActiveConsoleSessionId() {
    // Windows reports no error here; an injected fault means "no session at the console".
    if (faults_.Check("WTSGetActiveConsoleSessionId")) return win::kNoConsoleSession;
    std::lock_guard<std::mutex> lock(lock_);
    return console_;
}

win::DWORD SimSessions::WTSQueryUserName(win::DWORD sessionId, std::wstring* userName) {
    if (auto e = faults_.Check("WTSQuerySessionInformationW")) return e;
    if (userName == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(sessionId);
    if (it == sessions_.end()) return win::ERROR_FILE_NOT_FOUND;
    *userName = it->second.userName;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSessions::WTSQueryConnectState(win::DWORD sessionId, win::DWORD* state) {
    if (auto e = faults_.Check("WTSQuerySessionInformationW")) return e;
    if (state == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(sessionId);
    if (it == sessions_.end()) return win::ERROR_FILE_NOT_FOUND;
    *state = it->second.connectState;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSessions::WTSQueryUserToken(win::DWORD sessionId, win::HANDLE* token) {
    if (auto e = faults_.Check("WTSQueryUserToken")) return e;
    if (token == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(sessionId);
    if (it == sessions_.end()) return win::ERROR_FILE_NOT_FOUND;
    if (it->second.userName.empty()) return win::ERROR_NO_TOKEN;
    std::uint64_t h = handles_.Open("TOKEN");
    tokens_[h] = it->second.userName;
    *token = static_cast<win::HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimSessions::CloseHandle(win::HANDLE token) {
    if (auto e = faults_.Check("CloseHandle")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto h = static_cast<std::uint64_t>(token);
    if (!handles_.Close(h, "TOKEN")) return win::ERROR_INVALID_HANDLE;
    tokens_.erase(h);
    return win::ERROR_SUCCESS;
}

void SimSessions::AddSession(win::DWORD id, std::wstring userName, win::DWORD connectState) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!userName.empty() && !users_.contains(userName)) users_[userName] = SimUser{userName, DefaultLocalAppData(userName)};
    sessions_[id] = SimSession{id, std::move(userName), connectState};
}

void SimSessions::RemoveSession(win::DWORD id) {
    std::lock_guard<std::mutex> lock(lock_);
    sessions_.erase(id);
}

void SimSessions::SetConsoleSession(win::DWORD id) {
    std::lock_guard<std::mutex> lock(lock_);
    console_ = id;
}

void SimSessions::LogOn(std::wstring userName, win::DWORD id) {
    AddSession(id, std::move(userName), win::WTSActive);
    SetConsoleSession(id);
}

void SimSessions::AddUser(std::wstring name, std::wstring localAppData) {
    std::lock_guard<std::mutex> lock(lock_);
    if (localAppData.empty()) localAppData = DefaultLocalAppData(name);
    users_[name] = SimUser{name, std::move(localAppData)};
}

std::optional<SimUser> SimSessions::User(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = users_.find(name);
    if (it == users_.end()) return std::nullopt;
    return it->second;
}

std::optional<SimUser> SimSessions::TokenUser(win::HANDLE token) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto t = tokens_.find(static_cast<std::uint64_t>(token));
    if (t == tokens_.end()) return std::nullopt;
    auto u = users_.find(t->second);
    if (u == users_.end()) return SimUser{t->second, DefaultLocalAppData(t->second)};
    return u->second;
}

std::vector<win::DWORD> SimSessions::SessionIds() const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<win::DWORD> ids;
    for (const auto& [id, s] : sessions_) ids.push_back(id);
    return ids;
}

std::optional<SimSession> SimSessions::Session(win::DWORD id) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    return it->second;
}

}  // namespace sim
