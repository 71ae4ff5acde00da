// The companion folder watcher on a simulated laptop: which folder changes re-run the
// settings decisions, how its start-up attempts end, how a logon hands over to a new
// watcher, and that every way it ends leaves nothing open.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "monitors/folder_watcher.h"
#include "monitors/pst_monitor.h"
#include "settings/api_events.h"
#include "native/service_fixture.h"

namespace tavo::test {
namespace {

const std::wstring kPackages = L"C:\\Users\\alice\\AppData\\Local\\Packages";
constexpr wchar_t kWake[] = L"DetectDirectoryChangeThread::MultiObjectNumber = 1\r\n";
constexpr wchar_t kStopped[] = L"DetectDirectoryChangeThread::MultiObjectNumber = 0\r\n";
constexpr wchar_t kEnd[] = L"DetectDirectoryChangeThread--\r\n";
constexpr wchar_t kRetry[] = L"DetectDirectoryChangeThread::ChangeHandle[1] is invalid or NULL, Retry\r\n";
constexpr wchar_t kWatching[] = L"DetectDirectoryChangeThread::ChangeHandle[1] is Valid, wait change...\r\n";

class WatcherTest : public ServiceTest {
protected:
    int Sleeps(win::DWORD ms) const {
        const auto sleeps = machine.system.Sleeps();
        return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), ms));
    }
    // Events the watcher does not own: the monitor's two and the named events of a start.
    int OthersEvents() const {
        int held = service->toggleFlagRuns.Running() ? 2 : 0;
        for (const auto& slot : GetPSTUI_EnableDeviceEvnet) held += slot.load() != win::HANDLE{};
        for (const auto& slot : GetAPIStatusEvent) held += slot.load() != win::HANDLE{};
        return held;
    }
    // Its slots are empty and its handles closed.
    void ExpectWatcherEnded() const {
        EXPECT_FALSE(service->watcherRuns.Running());
        EXPECT_EQ(service->watcherRuns.Shown(), nullptr);
        EXPECT_EQ(machine.handles.OpenCount("ChangeNotification"), 0);
        EXPECT_EQ(machine.handles.OpenCount("Event"), OthersEvents());
    }
    // The watcher alone, queued for the service as a logon queues it.
    void RunWatcher() {
        if (!service) NewService();
        service->QueueDirectoryWatcher();
        machine.threads.RunPending();
    }
};

// A run of folder changes below alice's Packages while her watcher waits.
struct Change {
    const char* what;
    void (*act)(sim::Machine& m);
    int companion;  // what DetectUWPInstall finds afterwards
    bool reapplies;
};
struct ChangesCase {
    const char* name;
    bool companionAtStart;
    std::vector<Change> changes;
};

void OtherApp(sim::Machine& m) { m.files.AddFolder(kPackages + L"\\Other.App_1"); }
void AnotherApp(sim::Machine& m) { m.files.AddFolder(kPackages + L"\\Another.App_2"); }
void CompanionRemoved(sim::Machine& m) { m.files.Remove(CompanionPackageFolder(L"alice")); }
void CompanionInstalled(sim::Machine& m) { m.files.AddFolder(CompanionPackageFolder(L"alice")); }

class WatcherChangesTest : public WatcherTest, public testing::WithParamInterface<ChangesCase> {};

TEST_P(WatcherChangesTest, TheFirstChangeAlwaysReappliesLaterOnesOnlyWhenTheCompanionCameOrWent) {
    const ChangesCase& c = GetParam();
    if (c.companionAtStart) {
        AliceWithCompanion();
    } else {
        machine.sessions.LogOn(L"alice");
        machine.files.AddFolder(kPackages);
    }
    Start();
    ASSERT_TRUE(Has(kWatching));
    for (const Change& change : c.changes) {
        SCOPED_TRACE(change.what);
        Mark();
        change.act(machine);
        machine.threads.RunPending();
        EXPECT_EQ(Count(kWake), 1);
        EXPECT_EQ(Count(L"DetectDirectoryChangeThread::UWPInstall = " + std::to_wstring(change.companion) + L"\r\n"), 1);
        EXPECT_EQ(Count(L"Enter ==> ForcePadControl\r\n"), change.reapplies ? 1 : 0);
        EXPECT_EQ(machine.handles.OpenCount("ChangeNotification"), 1) << "re-armed, still watching";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, WatcherChangesTest,
    testing::Values(
        ChangesCase{"AnyFirstChange", true, {{"another application", OtherApp, 1, true}}},
        ChangesCase{"FirstChangeWithoutTheCompanion", false, {{"another application", OtherApp, 0, true}}},
        ChangesCase{"CompanionComingAndGoing",
                    true,
                    {{"another application", OtherApp, 1, true},
                     {"a third application", AnotherApp, 1, false},
                     {"the companion removed", CompanionRemoved, 0, true},
                     {"another application removed", [](sim::Machine& m) { m.files.Remove(kPackages + L"\\Other.App_1"); },
                      0, false},
                     {"the companion installed again", CompanionInstalled, 1, true}}}),
    [](const testing::TestParamInfo<ChangesCase>& info) { return std::string(info.param.name); });

// The start-up attempts on a Packages folder that is not there yet. What happens during the
// watcher's pauses is the scenario's: the folder may appear, or the service may stop.
struct AttemptsCase {
    const char* name;
    bool folderAtStart;
    int folderAtPause;  // 0: never
    int stopAtPause;    // 0: never
    int retries;
    const wchar_t* outcome;
};

class WatcherAttemptsTest : public WatcherTest, public testing::WithParamInterface<AttemptsCase> {};

TEST_P(WatcherAttemptsTest, TenAttemptsTwoSecondsApartEndedEarlyByAStop) {
    const AttemptsCase& c = GetParam();
    machine.sessions.LogOn(L"alice");
    if (c.folderAtStart) machine.files.AddFolder(kPackages);
    int pauses = 0;
    machine.system.DuringSleep([&](win::DWORD ms) {
        if (ms != kWatchRetryPauseMs) return;
        ++pauses;
        if (pauses == c.folderAtPause) machine.files.AddFolder(kPackages);
        if (pauses == c.stopAtPause) CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    });
    Start();
    machine.system.DuringSleep(nullptr);

    EXPECT_EQ(Count(kRetry), c.retries);
    EXPECT_EQ(Sleeps(kWatchRetryPauseMs), c.retries);
    EXPECT_TRUE(Has(c.outcome));
    if (std::wstring(c.outcome) == kWatching) {
        EXPECT_EQ(machine.handles.OpenCount("ChangeNotification"), 1);
        EXPECT_TRUE(service->watcherRuns.Running());
    } else {
        EXPECT_TRUE(Has(kEnd));
        ExpectWatcherEnded();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, WatcherAttemptsTest,
    testing::Values(AttemptsCase{"FolderThere", true, 0, 0, 0, kWatching},
                    AttemptsCase{"FolderAppearsDuringTheSecondPause", false, 2, 0, 2, kWatching},
                    AttemptsCase{"StopDuringTheFirstPause", false, 0, 1, 1,
                                 L"DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n"},
                    AttemptsCase{"StopDuringTheNinthPause", false, 0, 9, 9,
                                 L"DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n"},
                    AttemptsCase{"NeverThere", false, 0, 0, 10,
                                 L"DetectDirectoryChangeThread::ChangeHandle[1] is invalid o NULL, Exit Thread\r\n"}),
    [](const testing::TestParamInfo<AttemptsCase>& info) { return std::string(info.param.name); });

// Every other way a watcher ends, and the time-out it waits through.
struct EndCase {
    const char* name;
    void (*stage)(sim::Machine& m);
    void (*then)(sim::Machine& m);  // while it waits; may be null
    std::vector<std::wstring> lines;
    bool ends;
    bool stoppedBeforeItRuns = false;  // a stop between the logon's queuing and the watcher's start
};

class WatcherEndTest : public WatcherTest, public testing::WithParamInterface<EndCase> {};

TEST_P(WatcherEndTest, IsLoggedAndLeavesBothSlotsEmpty) {
    const EndCase& c = GetParam();
    c.stage(machine);
    if (!service) NewService();
    service->QueueDirectoryWatcher();
    if (c.stoppedBeforeItRuns) StopDirectoryWatcher(service->watcherRuns, 0);
    machine.threads.RunPending();
    if (c.then) {
        c.then(machine);
        machine.threads.RunPending();
    }
    ExpectInOrder(c.lines);
    EXPECT_EQ(Has(kEnd), c.ends);
    if (c.ends) {
        ExpectWatcherEnded();
    } else {
        EXPECT_EQ(machine.threads.WaitingCount(), 1);
    }
}

void AliceWithPackages(sim::Machine& m) {
    m.sessions.LogOn(L"alice");
    m.files.AddFolder(kPackages);
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, WatcherEndTest,
    testing::Values(
        EndCase{"NobodyAtTheConsole", [](sim::Machine&) {}, nullptr,
                {L"DetectDirectoryChangeThread++\r\n", L"DetectUWPInstall::Get UserAppDataPath Fail, Error=1008\r\n", kEnd},
                true},
        // The packages path would not fit its 256-character buffer: refused, not cut.
        EndCase{"PackagesPathTooLong",
                [](sim::Machine& m) {
                    m.sessions.AddUser(L"alice", L"C:\\Users\\" + std::wstring(240, L'a'));
                    m.sessions.LogOn(L"alice");
                },
                nullptr, {L"DetectUWPInstall::Get UserAppDataPath Fail, Error=206\r\n", kEnd}, true},
        EndCase{"WaitFails",
                [](sim::Machine& m) {
                    AliceWithPackages(m);
                    m.faults.Fail("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1);
                },
                nullptr,
                {kWatching, L"DetectDirectoryChangeThread::MultiObjectNumber = -1\r\n",
                 L"DetectDirectoryChangeThread::WaitForMultipleObjects fail (Err=6)\r\n", kEnd},
                true},
        EndCase{"NoStopEvent",
                [](sim::Machine& m) {
                    AliceWithPackages(m);
                    m.faults.Fail("CreateEventW", win::ERROR_NOT_ENOUGH_MEMORY, 1);
                },
                nullptr, {kWatching, L"DetectDirectoryChangeThread::WaitForMultipleObjects fail (Err=6)\r\n", kEnd},
                true},
        EndCase{"ReArmFails",
                [](sim::Machine& m) {
                    AliceWithPackages(m);
                    m.faults.Fail("FindNextChangeNotification", win::ERROR_INVALID_HANDLE);
                },
                OtherApp, {kWake, L"DetectDirectoryChangeThread::FindNextChangeNotification fail (Err=6)\r\n", kEnd},
                true},
        EndCase{"StoppedBeforeItStarts", AliceWithPackages, nullptr,
                {L"DetectDirectoryChangeThread++\r\n",
                 L"DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n", kEnd},
                true, true},
        EndCase{"TimeOutWaitsAgain",
                [](sim::Machine& m) {
                    AliceWithPackages(m);
                    m.sync.TimeOutNextWaits(1);
                },
                nullptr, {kWatching, L"DetectDirectoryChangeThread::MultiObjectNumber = 258\r\n"}, false}),
    [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

TEST_F(WatcherTest, ALogonWhileAWatcherWaitsEndsItThroughItsEventAndStartsANewOne) {
    AliceWithCompanion();
    Start();
    const win::HANDLE first = service->watcherRuns.Shown() ? service->watcherRuns.Shown()->get() : win::HANDLE{};
    ASSERT_NE(first, win::HANDLE{});
    const int polls = Sleeps(kWatcherStopPollMs);
    Mark();

    Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);

    ExpectInOrder({L"Service in OnLogon++\r\n", kStopped, kEnd, L"DetectDirectoryChangeThread++\r\n", kWatching});
    EXPECT_EQ(Sleeps(kWatcherStopPollMs) - polls, 1) << "it was gone at the first poll";
    EXPECT_EQ(BlockRetryLoop.load(), 0) << "cleared by the new watcher";
    EXPECT_NE(service->watcherRuns.Shown()->get(), first);
    EXPECT_EQ(machine.handles.OpenCount("ChangeNotification"), 1);
    EXPECT_EQ(machine.handles.OpenCount("Event"), OthersEvents() + 1) << "the new watcher's own";
    Mark();
    OtherApp(machine);
    machine.threads.RunPending();
    EXPECT_EQ(Count(kWake), 1) << "one watcher answers";
}

// A stop event that nobody clears (a watcher busy elsewhere): the logon polls eleven times
// and starts its own watcher anyway, which then sets that event again on its way in.
TEST_F(WatcherTest, ALogonWaitsAtMostElevenPollsForTheOldWatcher) {
    AliceWithCompanion();
    NewService();
    auto stuck = std::make_shared<win::UniqueEvent>();
    ASSERT_EQ(win::Sync().CreateEventW(nullptr, true, false, nullptr, stuck->put(), nullptr), win::ERROR_SUCCESS);
    auto stuckRun = std::make_unique<MonitorRuns::Run>(service->watcherRuns, service->watcherRuns.Issue());
    stuckRun->Show(stuck);
    int setAgain = 0;
    machine.system.DuringSleep([&](win::DWORD ms) {
        if (ms == kWatcherStopPollMs) win::Sync().ResetEvent(stuck->get());
    });
    Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    machine.system.DuringSleep(nullptr);
    setAgain = machine.sync.IsSignalled(stuck->get()).value_or(false) ? 1 : 0;

    EXPECT_EQ(Sleeps(kWatcherStopPollMs), kWatcherStopPolls);
    EXPECT_TRUE(Has(kWatching)) << "a new watcher all the same";
    EXPECT_EQ(setAgain, 1);
    EXPECT_NE(service->watcherRuns.Shown(), stuck);
    stuckRun.reset();
    EndMonitors();
    stuck.reset();
}

// Two watchers queued before either ran (a logon racing the start's own): the later one
// ends the earlier, so one watcher answers.
TEST_F(WatcherTest, AWatcherEndsAnEarlierOneStillShowingItsStopEvent) {
    AliceWithPackages(machine);
    NewService();
    service->QueueDirectoryWatcher();
    service->QueueDirectoryWatcher();
    machine.threads.RunPending();
    EXPECT_EQ(Count(kStopped), 1);
    EXPECT_EQ(Count(kEnd), 1);
    EXPECT_EQ(machine.handles.OpenCount("ChangeNotification"), 1);
    EXPECT_EQ(machine.threads.WaitingCount(), 1);
    Mark();
    OtherApp(machine);
    machine.threads.RunPending();
    EXPECT_EQ(Count(kWake), 1);
}

}  // namespace
}  // namespace tavo::test
