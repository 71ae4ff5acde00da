// A model of the session manager: the console session and the sessions it knows, each with
// its user and connect state. A fresh machine has the services session 0 (no user,
// disconnected) and nobody at the console.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sessions.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_registry.h"

namespace sim {

struct SimSession {
    win::DWORD id = 0;
    std::wstring userName;  // empty: nobody is logged on to it
    win::DWORD connectState = win::WTSDisconnected;
};

// A user account as the profile service knows it.
struct SimUser {
    std::wstring name;
    std::wstring localAppData;  // what SHGetFolderPathW(CSIDL_LOCAL_APPDATA) gives with the user's token
};

class SimSessions : public win::Sessions {
public:
    SimSessions(FaultPlan& faults, HandleTable& handles);
    // With the registry that user profiles mount their hives in.
    SimSessions(FaultPlan& faults, HandleTable& handles, SimRegistry& registry);

    win::DWORD WTSGetActiveConsoleSessionId() override;
    win::DWORD WTSQueryUserName(win::DWORD sessionId, std::wstring* userName) override;
    win::DWORD WTSQueryConnectState(win::DWORD sessionId, win::DWORD* state) override;
    win::DWORD WTSQueryUserToken(win::DWORD sessionId, win::HANDLE* token) override;
    win::DWORD CloseHandle(win::HANDLE token) override;
    win::DWORD LoadUserProfileW(win::HANDLE token, win::PROFILEINFOW* profile) override;
    win::DWORD UnloadUserProfile(win::HANDLE token, win::HKEY profile) override;

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
    std::vector<win::DWORD> SessionIds() const;
    // Adds or replaces an account; an empty folder means the usual
    // "C:\\Users\\<name>\\AppData\\Local". Logging a user on adds an unknown account this way.
    void AddUser(std::wstring name, std::wstring localAppData = L"");
    std::optional<SimUser> User(const std::wstring& name) const;
    // The account an open token (handle kind "TOKEN") belongs to.
    std::optional<SimUser> TokenUser(win::HANDLE token) const;

    // User profiles. An account's hive is the file "C:\\Users\\<name>\\NTUSER.DAT"; while
    // any load of the profile is outstanding it is mounted at HKEY_USERS\\<the account's SID>.
    // Logging on does not load the profile by itself here, so a test sees exactly the loads
    // the code under test makes. Loads are counted as handle kind "Profile".
    std::wstring UserSid(const std::wstring& name);
    std::wstring UserHivePath(const std::wstring& name);  // "HKEY_USERS\\<SID>"
    // Fills the account's hive from ".reg" text addressed at HKEY_CURRENT_USER.
    void ImportUserHive(const std::wstring& name, std::wstring_view regText);
    int ProfileLoads(const std::wstring& name) const;  // outstanding loads

private:
    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    win::DWORD console_ = win::kNoConsoleSession;
    std::map<win::DWORD, SimSession> sessions_;
    std::map<std::wstring, SimUser> users_;
    std::map<std::uint64_t, std::wstring> tokens_;  // open token -> account name
    SimRegistry* registry_ = nullptr;
    std::map<std::wstring, std::wstring> sids_;         // account name -> SID, assigned on first use
    std::map<std::wstring, int> profileLoads_;          // account name -> outstanding loads
    struct LoadedProfile {
        std::wstring user;
        std::uint64_t handle;  // its "Profile" entry
    };
    std::map<std::uint64_t, LoadedProfile> profiles_;  // by hProfile
    std::wstring SidLocked(const std::wstring& name);
};

}  // namespace sim
