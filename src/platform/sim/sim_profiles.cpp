// The profile service's part of the session model: loading a user's profile mounts the
// user's hive under HKEY_USERS, counted per account, and the last unload detaches it.
#include <string>

#include "platform/sim/sim_sessions.h"

namespace sim {
namespace {

constexpr char kProfileKind[] = "Profile";
// The machine's domain part of every local account's SID; accounts get RIDs from 1001 on.
constexpr wchar_t kMachineSidPrefix[] = L"S-1-5-21-2715034410-3412093185-1530843257-";

std::wstring HiveFile(const std::wstring& name) { return L"C:\\Users\\" + name + L"\\NTUSER.DAT"; }

}  // namespace

SimSessions::SimSessions(FaultPlan& faults, HandleTable& handles, SimRegistry& registry)
    : SimSessions(faults, handles) {
    registry_ = &registry;
}

std::wstring SimSessions::SidLocked(const std::wstring& name) {
    auto [it, added] = sids_.try_emplace(name);
    if (added) it->second = kMachineSidPrefix + std::to_wstring(1000 + sids_.size());
    return it->second;
}

std::wstring SimSessions::UserSid(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(lock_);
    return SidLocked(name);
}

std::wstring SimSessions::UserHivePath(const std::wstring& name) { return L"HKEY_USERS\\" + UserSid(name); }

void SimSessions::ImportUserHive(const std::wstring& name, std::wstring_view regText) {
    registry_->ImportHive(HiveFile(name), regText);
}

int SimSessions::ProfileLoads(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = profileLoads_.find(name);
    return it == profileLoads_.end() ? 0 : it->second;
}

win::DWORD SimSessions::LoadUserProfileW(win::HANDLE token, win::PROFILEINFOW* profile) {
    if (auto e = faults_.Check("LoadUserProfileW")) return e;
    if (profile == nullptr || profile->dwSize != win::kProfileInfoSize || profile->lpUserName == nullptr ||
        profile->lpUserName[0] == L'\0')
        return win::ERROR_INVALID_PARAMETER;
    if (registry_ == nullptr) return win::ERROR_NOT_SUPPORTED;
    std::lock_guard<std::mutex> lock(lock_);
    // The token names the account; lpUserName only names a profile folder still to be made.
    auto t = tokens_.find(static_cast<std::uint64_t>(token));
    if (t == tokens_.end()) return win::ERROR_INVALID_HANDLE;
    const std::wstring user = t->second;
    const std::wstring mount = L"HKEY_USERS\\" + SidLocked(user);
    int& loads = profileLoads_[user];
    if (loads == 0 && !registry_->LoadHive(mount, HiveFile(user))) return win::ERROR_GEN_FAILURE;
    const win::HKEY root = registry_->OpenHiveRoot(mount);
    if (root == win::HKEY{}) return win::ERROR_GEN_FAILURE;
    ++loads;
    profiles_[static_cast<std::uint64_t>(root)] = LoadedProfile{user, handles_.Open(kProfileKind)};
    profile->hProfile = root;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSessions::UnloadUserProfile(win::HANDLE token, win::HKEY profile) {
    if (auto e = faults_.Check("UnloadUserProfile")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (!tokens_.contains(static_cast<std::uint64_t>(token))) return win::ERROR_INVALID_HANDLE;
    auto p = profiles_.find(static_cast<std::uint64_t>(profile));
    if (p == profiles_.end()) return win::ERROR_INVALID_HANDLE;
    const std::wstring user = p->second.user;
    handles_.Close(p->second.handle, kProfileKind);
    profiles_.erase(p);
    registry_->CloseHiveRoot(profile);
    if (--profileLoads_[user] == 0) registry_->UnloadHive(L"HKEY_USERS\\" + SidLocked(user));
    return win::ERROR_SUCCESS;
}

}  // namespace sim
