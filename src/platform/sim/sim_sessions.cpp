#include "platform/sim/sim_sessions.h"

namespace sim {

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

void SimSessions::AddSession(win::DWORD id, std::wstring userName, win::DWORD connectState) {
    std::lock_guard<std::mutex> lock(lock_);
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

std::optional<SimSession> SimSessions::Session(win::DWORD id) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    return it->second;
}

}  // namespace sim
