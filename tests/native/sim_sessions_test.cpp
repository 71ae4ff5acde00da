// The simulated session manager answers as Windows does for the cases the service meets.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/machine.h"

namespace {

TEST(SimSessions, ConsoleSessionUsersAndConnectStates) {
    sim::Machine m;
    m.Install();
    auto& wts = win::Wts();
    EXPECT_EQ(wts.WTSGetActiveConsoleSessionId(), win::kNoConsoleSession) << "a fresh machine has nobody at the console";

    std::wstring name = L"untouched";
    win::DWORD state = 99;
    ASSERT_EQ(wts.WTSQueryUserName(0, &name), 0u);
    EXPECT_EQ(name, L"") << "the services session has no user";
    ASSERT_EQ(wts.WTSQueryConnectState(0, &state), 0u);
    EXPECT_EQ(state, win::WTSDisconnected);

    m.sessions.LogOn(L"alice", 2);
    EXPECT_EQ(wts.WTSGetActiveConsoleSessionId(), 2u);
    ASSERT_EQ(wts.WTSQueryUserName(2, &name), 0u);
    EXPECT_EQ(name, L"alice");
    ASSERT_EQ(wts.WTSQueryConnectState(2, &state), 0u);
    EXPECT_EQ(state, win::WTSActive);

    // A session that does not exist: the query fails and leaves its outputs alone.
    name = L"untouched";
    state = 99;
    EXPECT_EQ(wts.WTSQueryUserName(7, &name), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(wts.WTSQueryConnectState(7, &state), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(name, L"untouched");
    EXPECT_EQ(state, 99u);
}

TEST(SimSessions, FaultsFailTheQueryAndHideTheConsole) {
    sim::Machine m;
    m.Install();
    m.sessions.LogOn(L"bob");
    m.faults.Fail("WTSQuerySessionInformationW", win::ERROR_ACCESS_DENIED, 2);
    std::wstring name;
    win::DWORD state = 99;
    EXPECT_EQ(win::Wts().WTSQueryUserName(1, &name), 0u);
    EXPECT_EQ(win::Wts().WTSQueryConnectState(1, &state), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(state, 99u);
    m.faults.Fail("WTSGetActiveConsoleSessionId", 1);
    EXPECT_EQ(win::Wts().WTSGetActiveConsoleSessionId(), win::kNoConsoleSession);
}

}  // namespace
