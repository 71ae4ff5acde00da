// The simulated machine's threads, events, waits and processes: what the monitor scenarios
// rely on to step a loop one wake-up at a time and to see what a launch started.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "native/sim_fixture.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace tavo::test {
namespace {

// A pool item that waits on one event until it is set, counting its wake-ups; it ends on
// the wake-up numbered `rounds`.
struct Waiter {
    win::HANDLE event{};
    int rounds = 1;
    int wakeUps = 0;
    bool ended = false;
    static void Run(void* context) {
        auto* w = static_cast<Waiter*>(context);
        while (w->wakeUps < w->rounds) {
            win::DWORD error = 0;
            if (win::Sync().WaitForSingleObject(w->event, win::INFINITE, &error) != win::WAIT_OBJECT_0) break;
            ++w->wakeUps;
        }
        w->ended = true;
    }
};

class SimWaitsTest : public SimTest {
protected:
    win::UniqueEvent Event(bool manualReset = false) {
        win::UniqueEvent e;
        EXPECT_EQ(win::Sync().CreateEventW(nullptr, manualReset, false, nullptr, e.put(), nullptr), win::ERROR_SUCCESS);
        return e;
    }
};

TEST_F(SimWaitsTest, AWaitingItemParksAndRunsOnOneWakeUpPerSignal) {
    win::UniqueEvent event = Event();
    Waiter waiter{event.get(), 3};
    ASSERT_EQ(win::Thr().QueueUserWorkItem(&Waiter::Run, &waiter, win::WT_EXECUTELONGFUNCTION), win::ERROR_SUCCESS);
    EXPECT_EQ(machine.threads.RunPending(), 1);
    EXPECT_EQ(machine.threads.WaitingCount(), 1) << "parked on its first wait";
    for (int signal = 1; signal <= 3; ++signal) {
        EXPECT_EQ(waiter.wakeUps, signal - 1);
        machine.threads.RunPending();
        EXPECT_EQ(waiter.wakeUps, signal - 1) << "nothing signalled: it stays parked";
        ASSERT_EQ(win::Sync().SetEvent(event.get()), win::ERROR_SUCCESS);
        machine.threads.RunPending();
        EXPECT_EQ(waiter.wakeUps, signal);
    }
    EXPECT_TRUE(waiter.ended);
    EXPECT_EQ(machine.threads.WaitingCount(), 0);
    EXPECT_EQ(machine.sync.Waits(), 3);
}

TEST_F(SimWaitsTest, TheThreadInControlLetsParkedItemsRunWhenItSleepsOrWaits) {
    struct Case {
        const char* name;
        void (*yield)(win::HANDLE own);
    } cases[] = {{"Sleep", [](win::HANDLE) { win::Sys().Sleep(100); }},
                 {"FiniteWait", [](win::HANDLE own) {
                      win::DWORD error = 0;
                      EXPECT_EQ(win::Sync().WaitForSingleObject(own, 100, &error), win::WAIT_TIMEOUT);
                  }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        win::UniqueEvent event = Event(), own = Event();
        Waiter waiter{event.get(), 1};
        ASSERT_EQ(win::Thr().QueueUserWorkItem(&Waiter::Run, &waiter, 0), win::ERROR_SUCCESS);
        machine.threads.RunPending();
        win::Sync().SetEvent(event.get());
        EXPECT_FALSE(waiter.ended) << "signalled, but the test has not let go yet";
        c.yield(own.get());
        EXPECT_TRUE(waiter.ended);
    }
}

TEST_F(SimWaitsTest, AWaitNothingCanSatisfyFailsLoudlyOnTheThreadInControlAndTimesOutWhenFinite) {
    win::UniqueEvent event = Event();
    win::DWORD error = 0;
    EXPECT_THROW(win::Sync().WaitForSingleObject(event.get(), win::INFINITE, &error), std::logic_error);
    EXPECT_EQ(win::Sync().WaitForSingleObject(event.get(), 5000, &error), win::WAIT_TIMEOUT);
}

// An item still waiting at teardown unwinds and gives back what it holds.
TEST_F(SimWaitsTest, TeardownEndsAParkedItemAndItsHandlesAreReleased) {
    struct Holder {
        static void Run(void*) {
            win::UniqueEvent mine;
            win::Sync().CreateEventW(nullptr, true, false, nullptr, mine.put(), nullptr);
            win::DWORD error = 0;
            win::Sync().WaitForSingleObject(mine.get(), win::INFINITE, &error);
        }
    };
    {
        sim::Machine local;
        local.Install();
        ASSERT_EQ(win::Thr().QueueUserWorkItem(&Holder::Run, nullptr, 0), win::ERROR_SUCCESS);
        local.threads.RunPending();
        EXPECT_EQ(local.handles.OpenCount("Event"), 1);
        local.threads.Shutdown();
        EXPECT_EQ(local.handles.OpenCount(), 0);
    }
    machine.Install();
}

TEST_F(SimWaitsTest, WhatAnItemRaisesReachesTheThreadThatLetItRun) {
    const win::WorkCallback raise = [](void*) { throw std::runtime_error("from the item"); };
    ASSERT_EQ(win::Thr().QueueUserWorkItem(raise, nullptr, 0), win::ERROR_SUCCESS);
    EXPECT_THROW(machine.threads.RunPending(), std::runtime_error);
}

// Where Windows finds the program when none is named apart from the command line.
struct LaunchCase {
    const char* name;
    const wchar_t* applicationName;  // null: taken from the command line
    const wchar_t* commandLine;
    std::vector<const wchar_t*> files;
    win::DWORD error;
    const wchar_t* image;
};

class ProgramSearchTest : public SimTest, public testing::WithParamInterface<LaunchCase> {};

TEST_P(ProgramSearchTest, RunsTheProgramWindowsWouldPick) {
    const LaunchCase& c = GetParam();
    for (const wchar_t* f : c.files) machine.files.AddFile(f);
    win::UniqueProcessHandle process, token, primary;
    ASSERT_EQ(win::Proc().OpenProcess(win::MAXIMUM_ALLOWED, win::Proc().GetCurrentProcessId(), process.put()), 0u);
    ASSERT_EQ(win::Proc().OpenProcessToken(process.get(), win::MAXIMUM_ALLOWED, token.put()), 0u);
    ASSERT_EQ(win::Proc().DuplicateTokenEx(token.get(), win::MAXIMUM_ALLOWED, win::SecurityIdentification,
                                           win::TokenPrimary, primary.put()),
              0u);
    std::wstring line = c.commandLine;
    win::PROCESS_INFORMATION info{};
    EXPECT_EQ(win::Proc().CreateProcessAsUserW(primary.get(), c.applicationName, line.data(), 0, {}, nullptr,
                                               L"winsta0\\default", &info),
              c.error);
    const auto created = machine.processes.Creations();
    if (c.error != win::ERROR_SUCCESS) {
        EXPECT_TRUE(created.empty());
        return;
    }
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].image, c.image);
    win::UniqueProcessHandle started(info.hProcess), thread(info.hThread);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ProgramSearchTest,
    testing::Values(
        LaunchCase{"UnquotedPathWithASpaceRunsTheFirstProgramFound", nullptr, L"C:\\Program Files\\TAVO\\KVRInput.exe",
                   {L"C:\\Program.exe", L"C:\\Program Files\\TAVO\\KVRInput.exe"}, 0, L"C:\\Program.exe"},
        LaunchCase{"QuotedPath", nullptr, L"\"C:\\Program Files\\TAVO\\KVRInput.exe\"",
                   {L"C:\\Program.exe", L"C:\\Program Files\\TAVO\\KVRInput.exe"}, 0,
                   L"C:\\Program Files\\TAVO\\KVRInput.exe"},
        LaunchCase{"MissingApplication", L"C:\\Program Files\\TAVO\\KVRInput.exe", L"\"x\"", {}, win::ERROR_PATH_NOT_FOUND,
                   nullptr},
        LaunchCase{"MissingProgramInAFolderThatExists", L"C:\\Program Files\\TAVO\\KVRInput.exe", L"\"x\"",
                   {L"C:\\Program Files\\TAVO\\other.exe"}, win::ERROR_FILE_NOT_FOUND, nullptr}),
    [](const testing::TestParamInfo<LaunchCase>& info) { return std::string(info.param.name); });

TEST_F(SimWaitsTest, EverySessionHasItsWinlogonUntilTheScenarioEndsIt) {
    EXPECT_FALSE(machine.processes.Find(L"winlogon.exe", 1));
    machine.sessions.LogOn(L"alice", 1);
    machine.sessions.AddSession(2, L"", win::WTSConnected);
    const auto first = machine.processes.Find(L"winlogon.exe", 1);
    ASSERT_TRUE(first);
    ASSERT_TRUE(machine.processes.Find(L"winlogon.exe", 2));
    machine.processes.EndProcess(*first);
    EXPECT_FALSE(machine.processes.Find(L"winlogon.exe", 1)) << "not started again";
    machine.sessions.RemoveSession(2);
    EXPECT_FALSE(machine.processes.Find(L"winlogon.exe", 2)) << "it goes with its session";
}

}  // namespace
}  // namespace tavo::test
