// A model of the session manager: the console session and the sessions it knows, each with
// its user and connect state. A fresh machine has the services session 0 (no user,
// disconnected) and nobody at the console.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sessions.h"
#include "platform/sim/faults.h"

namespace sim {

struct SimSession {
    win::DWORD id = 0;
    std::wstring userName;  // empty: nobody is logged on to it
    win::DWORD connectState = win::WTSDisconnected;
};

class SimSessions : public win::Sessions {
public:
    SimSessions(FaultPlan& faults, HandleTable& handles);

    win::DWORD WTSGetActiveConsoleSessionId() override;
    win::DWORD WTSQueryUserName(win::DWORD sessionId, std::wstring* userName) override;
    win::DWORD WTSQueryConnectState(win::DWORD sessionId, win::DWORD* state) override;

    // ---- set-up and inspection for tests ----
    // Adds or replaces a session.
    void AddSession(win::DWORD id, std::wstring userName, win::DWORD connectState = win::WTSActive);
    void RemoveSession(win::DWORD id);
    // Attaches a session to the console (kNoConsoleSession detaches it). The session need
    // not exist: Windows can report a console session that is still being set up.
    void SetConsoleSession(win::DWORD id);
    // The usual interactive case in one step: session id at the console, user logged on, active.
    void LogOn(std::wstring userName, win::DWORD id = 1);
    std::optional<SimSession> Session(win::DWORD id) const;

private:
    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    win::DWORD console_ = win::kNoConsoleSession;
    std::map<win::DWORD, SimSession> sessions_;
};

}  // namespace sim
