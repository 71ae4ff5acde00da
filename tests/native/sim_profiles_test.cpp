// The simulated profile service mounts a user's hive only while the profile is loaded, as
// on Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "platform/sim/machine.h"

namespace {

win::PROFILEINFOW Profile(wchar_t* user) {
    win::PROFILEINFOW p{};
    p.dwSize = win::kProfileInfoSize;
    p.dwFlags = win::PI_NOUI;
    p.lpUserName = user;
    return p;
}

TEST(SimProfiles, HiveIsMountedWhileAnyLoadIsOutstanding) {
    sim::Machine m;
    m.Install();
    m.sessions.LogOn(L"alice");
    m.sessions.ImportUserHive(L"alice", L"[HKEY_CURRENT_USER\\Control Panel\\Mouse]\n\"Speed\"=dword:0000000a\n");
    const std::wstring hive = m.sessions.UserHivePath(L"alice");
    EXPECT_FALSE(m.registry.KeyExists(hive));

    win::UniqueToken token;
    ASSERT_EQ(win::Wts().WTSQueryUserToken(1, token.put()), 0u);
    wchar_t name[] = L"alice";
    auto first = Profile(name);
    auto second = Profile(name);
    ASSERT_EQ(win::Wts().LoadUserProfileW(token.get(), &first), 0u);
    ASSERT_EQ(win::Wts().LoadUserProfileW(token.get(), &second), 0u);
    EXPECT_NE(first.hProfile, second.hProfile);
    EXPECT_EQ(m.registry.Dword(hive + L"\\Control Panel\\Mouse", L"Speed"), 10u);
    EXPECT_EQ(m.handles.OpenCount("Profile"), 2);

    // hProfile is the hive's root key.
    win::UniqueHKey key;
    ASSERT_EQ(win::Reg().RegOpenKeyExW(first.hProfile, L"Control Panel\\Mouse", 0, win::KEY_QUERY_VALUE, key.put()), 0);
    key.reset();

    EXPECT_EQ(win::Wts().UnloadUserProfile(token.get(), first.hProfile), 0u);
    EXPECT_TRUE(m.registry.KeyExists(hive)) << "one load is still outstanding";
    EXPECT_EQ(win::Wts().UnloadUserProfile(token.get(), first.hProfile), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(win::Wts().UnloadUserProfile(token.get(), second.hProfile), 0u);
    EXPECT_FALSE(m.registry.KeyExists(hive));
    EXPECT_EQ(m.handles.OpenCount("Profile"), 0);
    EXPECT_EQ(m.handles.OpenCount("HKEY"), 0);

    // What was written while mounted stays in the hive file for the next load.
    auto again = Profile(name);
    ASSERT_EQ(win::Wts().LoadUserProfileW(token.get(), &again), 0u);
    EXPECT_EQ(m.registry.Dword(hive + L"\\Control Panel\\Mouse", L"Speed"), 10u);
    EXPECT_EQ(win::Wts().UnloadUserProfile(token.get(), again.hProfile), 0u);
}

TEST(SimProfiles, RefusesBadRequestsAndLeavesTheOutputAlone) {
    sim::Machine m;
    m.Install();
    m.sessions.LogOn(L"bob");
    win::UniqueToken token;
    ASSERT_EQ(win::Wts().WTSQueryUserToken(1, token.put()), 0u);
    const auto sentinel = static_cast<win::HKEY>(0x5A5A);

    wchar_t empty[] = L"";
    auto p = Profile(empty);
    p.hProfile = sentinel;
    EXPECT_EQ(win::Wts().LoadUserProfileW(token.get(), &p), win::ERROR_INVALID_PARAMETER) << "no user name";
    wchar_t name[] = L"bob";
    p = Profile(name);
    p.dwSize = 48;
    p.hProfile = sentinel;
    EXPECT_EQ(win::Wts().LoadUserProfileW(token.get(), &p), win::ERROR_INVALID_PARAMETER) << "wrong size";
    p.dwSize = win::kProfileInfoSize;
    EXPECT_EQ(win::Wts().LoadUserProfileW(static_cast<win::HANDLE>(0x77), &p), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(p.hProfile, sentinel);
    EXPECT_EQ(m.handles.OpenCount("Profile"), 0);
}

}  // namespace
