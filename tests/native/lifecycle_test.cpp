// The service's lifecycle on a simulated laptop: what start, logon, logoff, resume, device
// arrival, stop and shutdown leave in the trace, in the registry and on the device.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "laptops/laptops.h"
#include "native/service_fixture.h"
#include "rpc/procedures.h"
#include "rpc/rpc_server.h"
#include "service/entry.h"
#include "service/sample_service.h"
#include "service/win32_error.h"
#include "settings/settings_records.h"

namespace tavo::test {
namespace {

TEST_F(LifecycleTest, StartWithAUserAtTheConsoleRunsTheLogonAndAppliesTheUsersSettings) {
    AliceWithCompanion();
    machine.registry.SetDword(kInForce, kValueAABB, 1);
    Start();

    ExpectInOrder({L"Service in OnStart++\r\n", L"RegRead_AABB::Read AABB = 1\r\n",
                   L"Read HKR Registry : PalmDefaultOption = 2\r\n", L"[OnStart] ReadPSTStatusFromDM = 0\r\n",
                   L"DetectUserLogon::SessionId = 1\r\n",
                   L"DetectUserLogon::WTSQuerySessionInformation Scuuess : WTSConnectState=0\r\n",
                   L"DetectUserLogon::UserLogon = 1\r\n", L"Service in OnLogon++\r\n", L"OnLogon::UserName=alice\r\n",
                   L"OnLogon::User:alice", L"<PalmControl> UWPInstall = 1, SWCInstall = 1\r\n",
                   L"<ForcePadControl> Set UI Mode Command\r\n", L"Service in OnLogon--\r\n",
                   L"Service in OnStart--\r\n"});
    EXPECT_FALSE(Has(L"<Palm> OnStart Set Dynamic Mode Command\r\n"));
    EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
    EXPECT_EQ(service->lastAABB.load(), 1);
    EXPECT_EQ(PalmLevel(kInForce), 3) << "the user's settings are put in force";
    EXPECT_EQ(livePalmSettings.Load(), kAlicePalm);
    EXPECT_EQ(liveForcepadSettings.Load(), kAliceForcepad);
    EXPECT_EQ(Haptic(), kAliceHaptic) << "and pushed into the pad";
    // The RPC work item, then the monitor, the launch, the watcher and the driver cleanup,
    // each long-running.
    const auto history = machine.threads.History();
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history[0].kind, "work");
    for (std::size_t i = 1; i < history.size(); ++i) {
        EXPECT_EQ(history[i].kind, "queue");
        EXPECT_EQ(history[i].flags, win::WT_EXECUTELONGFUNCTION);
    }

    // The first logon notification afterwards runs the logon again; a repeat does not.
    Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    EXPECT_EQ(Count(L"Service in OnLogon++\r\n"), 2);
}

// A session change can arrive while the start is still running: the logon then runs on the
// control thread beside the start's own. Both apply the same choice; under ThreadSanitizer
// this is also the race check of the start against the control handler.
TEST_F(LifecycleTest, ALogonDuringTheStartRunsBesideIt) {
    AliceWithCompanion();
    machine.threads.SetMode(sim::SimThreads::Mode::RealThreads);
    NewService();
    std::thread starter([&] { service->Start(0, nullptr); });
    Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    starter.join();
    EndMonitors();

    EXPECT_EQ(Count(L"Service in OnLogon--\r\n"), 2);
    EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
    EXPECT_EQ(PalmLevel(kInForce), 3);
    EXPECT_EQ(livePalmSettings.Load(), kAlicePalm);
    EXPECT_EQ(liveForcepadSettings.Load(), kAliceForcepad);
}

// Start with nobody active at the console: nothing reaches the device, and the live
// records are what is in force.
struct NoUserCase {
    const char* name;
    void (*stage)(sim::Machine& m);
    const wchar_t* queryLine;  // the connect-state line, or null when no session was asked
};

class StartWithoutUserTest : public LifecycleTest, public testing::WithParamInterface<NoUserCase> {};

TEST_P(StartWithoutUserTest, LoadsTheSettingsInForceAndSendsNothing) {
    const NoUserCase& c = GetParam();
    InstallCompanion(machine, L"alice");
    StorePalm(kAlice, kAlicePalm);
    const PalmSettings inForcePalm{1, 5, 6, 7, 8};
    const ForcepadSettings inForceForcepad{7, 0, 25, 1, 3, 0, 1, 0, 1};
    StorePalm(kInForce, inForcePalm);
    StoreForcepad(kInForce, inForceForcepad);
    c.stage(machine);
    firmware->Set(kHapticStrength, kUntouched);
    firmware->ClearReports();

    Start();

    if (c.queryLine) {
        EXPECT_TRUE(Has(c.queryLine));
    }
    ExpectInOrder({L"DetectUserLogon::UserLogon = 0\r\n", L"SyncTouchpadSettings::Read Registry\r\n",
                   L"SyncForcepadSettings::Read Registry\r\n", L"<Palm> OnStart Set Dynamic Mode Command\r\n",
                   L"Service in OnStart--\r\n"});
    EXPECT_FALSE(Has(L"Service in OnLogon++\r\n"));
    EXPECT_EQ(livePalmSettings.Load(), inForcePalm);
    EXPECT_EQ(liveForcepadSettings.Load(), inForceForcepad);
    EXPECT_EQ(DeviceWrites(), 0) << "only reads reach the device at start";
    EXPECT_EQ(PalmLevel(kInForce), 1);
    EXPECT_EQ(PalmLevel(kAlice), 3);
    EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, StartWithoutUserTest,
    testing::Values(
        NoUserCase{"NoConsoleSession", [](sim::Machine&) {}, nullptr},
        NoUserCase{"LogonScreen",
                   [](sim::Machine& m) {
                       m.sessions.AddSession(1, L"", win::WTSConnected);
                       m.sessions.SetConsoleSession(1);
                   },
                   L"DetectUserLogon::WTSQuerySessionInformation Scuuess : WTSConnectState=1\r\n"},
        NoUserCase{"DisconnectedUser",
                   [](sim::Machine& m) {
                       m.sessions.AddSession(1, L"alice", win::WTSDisconnected);
                       m.sessions.SetConsoleSession(1);
                   },
                   L"DetectUserLogon::WTSQuerySessionInformation Scuuess : WTSConnectState=4\r\n"},
        NoUserCase{"ConnectStateUnreadable",
                   [](sim::Machine& m) {
                       m.sessions.LogOn(L"alice");
                       m.faults.Fail("WTSQuerySessionInformationW", win::ERROR_GEN_FAILURE);
                   },
                   L"DetectUserLogon::WTSQuerySessionInformation Fail, Error = 31\r\n"}),
    [](const testing::TestParamInfo<NoUserCase>& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, TheDriverKeyIsSoughtFiveTimesHalfASecondApartThenTheStartGoesOn) {
    struct Case {
        bool driverPackage;
        std::vector<win::DWORD> sleeps;
        std::int32_t palmDefault;
        const wchar_t* defaultsLine;
    } cases[] = {{true, {}, 2, L"Open HKR Registry Success\r\n"},
                 {false, {500, 500, 500, 500, 500}, 0, L"Open HKR Registry Fail\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driverPackage ? "driver package installed" : "driver key missing");
        if (service) service.reset();
        ResetProcessState();
        sim::Machine fresh;
        fresh.Install();
        Build(fresh, LoadSimLaptop("touchpad", firmware));
        if (c.driverPackage) fresh.registry.Import(DriverPackageReg(L"0000", 2, 3, 1));
        auto local = std::make_unique<CSampleService>();
        local->Start(0, nullptr);
        fresh.threads.RunPending();
        std::vector<win::DWORD> searchPauses;
        for (win::DWORD ms : fresh.system.Sleeps())
            if (ms == 500) searchPauses.push_back(ms);
        EXPECT_EQ(searchPauses, c.sleeps);
        EXPECT_EQ(palmDefaults.Load().level, c.palmDefault);
        int defaultsLines = 0;
        for (const auto& r : fresh.etw.Written()) defaultsLines += r.text == c.defaultsLine;
        EXPECT_EQ(defaultsLines, 1);
        EXPECT_EQ(local->currentState(), win::SERVICE_RUNNING);
        local->toggleFlagRuns.StopAndPoll(0);
        fresh.threads.RunPending();
        WithdrawRpcInterface();
        local.reset();
        EXPECT_EQ(fresh.handles.OpenCount(), 0);
    }
    machine.Install();
}

TEST_F(LifecycleTest, AnRpcWorkItemThatCannotBeCreatedIsLoggedTwiceAndTheServiceRunsOn) {
    machine.faults.Fail("CreateThreadpoolWork", win::ERROR_NOT_ENOUGH_MEMORY);
    Start();
    int errorRecords = 0;
    for (const auto& r : machine.etw.Written())
        errorRecords += r.level == win::TRACE_LEVEL_ERROR && r.text == L"CreateThreadpoolWork failed";
    EXPECT_EQ(errorRecords, 1);
    EXPECT_EQ(Count(L"OnStart::CreateThreadpoolWork failed\r\n"), 1);
    for (const auto& queued : machine.threads.History()) EXPECT_NE(queued.kind, "work") << "nothing to submit";
    EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
    EXPECT_TRUE(Has(L"Service in OnStart--\r\n"));
}

// The RPC server fails on its pool thread while the start may still be running: the stop
// it asks for waits for the start's report, so the manager sees RUNNING, then the stop. A
// stop the service makes itself keeps the users' settings (a manager's stop resets them).
TEST_F(LifecycleTest, AnRpcServerThatCannotBeSetUpStopsTheServiceAfterItsStartIsReported) {
    AliceWithCompanion();
    StorePalm(kInForce + L"\\bob", {1, 2, 3, 4, 5});
    auto run = [](std::vector<std::wstring> args) {
        args.insert(args.begin(), L"TavoTouchpadService.exe");
        std::vector<wchar_t*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return ServiceEntry(static_cast<int>(args.size()), argv.data());
    };
    run({L"-install"});
    machine.scm.LaunchAs(L"TAVOPTPService");
    machine.threads.SetMode(sim::SimThreads::Mode::RealThreads);
    machine.faults.Fail("RpcServerRegisterIf3", 1711);
    Mark();
    EXPECT_EQ(run({}), 0);
    machine.threads.Join();

    std::vector<win::DWORD> states;
    for (const auto& r : machine.scm.Reports())
        if (states.empty() || states.back() != r.dwCurrentState) states.push_back(r.dwCurrentState);
    EXPECT_EQ(states, (std::vector<win::DWORD>{win::SERVICE_START_PENDING, win::SERVICE_RUNNING,
                                               win::SERVICE_STOP_PENDING, win::SERVICE_STOPPED}));
    EXPECT_EQ(machine.scm.Reports().back().dwWin32ExitCode, 0u);
    ExpectInOrder({L"RpcServerStart::hResult=1711 (=0)\r\n", L"Service in OnStop++\r\n",
                   L"OnStop::Stopped By The Service Itself, Users' Settings Kept\r\n",
                   L"Exit <== ForcePadControl\r\n", L"Service in OnStop--\r\n"});
    EXPECT_EQ(machine.rpc.BadVectorUses(), 0) << "no binding vector was kept, and none was handed on";
    EXPECT_EQ(PalmLevel(kAlice), kAlicePalm.level);
    EXPECT_EQ(PalmLevel(kInForce + L"\\bob"), 1);
    EXPECT_EQ(machine.registry.Dword(kAlice, kValueHapticFeedbackCheckSlider),
              static_cast<win::DWORD>(kAliceForcepad.HapticFeedbackCheckSlider));
}

TEST_F(LifecycleTest, LongRunningWorkIsQueuedWithItsServiceOrRaisesTheSystemsCode) {
    NewService();
    CSampleService* ranWith = nullptr;
    int runs = 0;
    CSampleService* const s = service.get();
    const auto op = [&ranWith, &runs, s] {
        ranWith = s;
        ++runs;
    };
    struct Case {
        win::DWORD fault;
    } cases[] = {{0}, {win::ERROR_NOT_ENOUGH_MEMORY}, {1450}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ranWith = nullptr;
        runs = 0;
        machine.faults.Clear();
        if (c.fault) machine.faults.Fail("QueueUserWorkItem", c.fault);
        win::DWORD raised = 0;
        try {
            QueueLongRunningWork(service.get(), "a test item", op);
        } catch (const Win32Error& e) {
            raised = e.code;
        }
        EXPECT_EQ(raised, c.fault);
        EXPECT_EQ(machine.threads.RunPending(), c.fault ? 0 : 1);
        EXPECT_EQ(runs, c.fault ? 0 : 1);
        EXPECT_EQ(ranWith, c.fault ? nullptr : service.get());
    }
    const auto history = machine.threads.History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].kind, "queue");
    EXPECT_EQ(history[0].flags, win::WT_EXECUTELONGFUNCTION);
}

// A long-running item that cannot be queued stops the start with the system's code, at
// whichever of the start's queuings it happens; on the control thread it is contained.
struct QueueFailure {
    const char* name;
    bool userAtStart;
    int failingQueuing;  // among QueueUserWorkItem calls from the start on
    bool duringStart;    // else during a later logon notification
    std::vector<std::wstring> before;  // what was done before the failure
};

class QueueFailureTest : public LifecycleTest, public testing::WithParamInterface<QueueFailure> {};

TEST_P(QueueFailureTest, RaisesTheSystemsCode) {
    const QueueFailure& c = GetParam();
    constexpr win::DWORD kNoQuota = 1450;  // ERROR_NO_SYSTEM_RESOURCES
    if (c.userAtStart) AliceWithCompanion();
    if (c.duringStart) machine.faults.Fail("QueueUserWorkItem", kNoQuota, c.failingQueuing);
    Start();
    if (!c.duringStart) {
        AliceWithCompanion();
        Mark();
        machine.faults.Fail("QueueUserWorkItem", kNoQuota, c.failingQueuing);
        Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    }
    ExpectInOrder(c.before);
    if (c.duringStart) {
        EXPECT_TRUE(Has(L"Service Start Fail, Err=1450\r\n"));
        EXPECT_FALSE(Has(L"Service in OnStart--\r\n"));
        EXPECT_EQ(service->currentState(), win::SERVICE_STOPPED);
    } else {
        EXPECT_TRUE(Has(L"ServiceControlHandler:: control 14 failed, Err=1450\r\n"));
        EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
    }
    int queued = 0;
    for (const auto& q : machine.threads.History()) queued += q.kind == "queue";
    EXPECT_EQ(queued, c.duringStart ? c.failingQueuing - 1 : 1 + c.failingQueuing - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, QueueFailureTest,
    testing::Values(QueueFailure{"Monitor", false, 1, true, {L"RegRead_AABB::Read AABB = -1\r\n"}},
                    QueueFailure{"MonitorWithAUserAtTheConsole", true, 1, true, {L"RegRead_AABB::Read AABB = -1\r\n"}},
                    QueueFailure{"LaunchAtTheStartsLogon", true, 2, true, {L"Service in OnLogon++\r\n"}},
                    QueueFailure{"WatcherAtTheStartsLogon", true, 3, true, {L"Service in OnLogon++\r\n"}},
                    QueueFailure{"LaunchAtALaterLogon", false, 1, false, {L"Service in OnLogon++\r\n"}},
                    QueueFailure{"WatcherAtALaterLogon", false, 2, false, {L"Service in OnLogon++\r\n"}},
                    QueueFailure{"CleanupAtTheStartsLogon", true, 4, true, {L"Service in OnLogon++\r\n"}},
                    QueueFailure{"CleanupAtALaterLogon", false, 3, false, {L"Service in OnLogon++\r\n"}}),
    [](const testing::TestParamInfo<QueueFailure>& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, TheStartQueuesTheMonitorAfterReadingAabbAndTheLogonQueuesTheLaunchAndTheWatcher) {
    AliceWithCompanion();
    machine.registry.SetDword(kInForce, kValueAABB, 0);
    NewService();
    service->Start(0, nullptr);
    EXPECT_EQ(service->lastAABB.load(), 0);
    EXPECT_EQ(machine.threads.PendingCount(), 7) << "the RPC work, the monitor, the launch, the watcher, the driver "
                                                    "cleanup, the pointing-stick monitor and the API-event thread";
    machine.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
    machine.threads.RunPending();
    ExpectInOrder({L"RegRead_AABB::Read AABB = 0\r\n", L"Service in OnLogon++\r\n", L"Service in OnLogon--\r\n",
                   L"Service in OnStart--\r\n", L"szCmdLine = \"C:\\Windows\\system32\\KVRInput.exe\"\r\n",
                   L"Run KVRInput, exitCode: 259\r\n", L"DetectDirectoryChangeThread++\r\n"});
    EXPECT_EQ(machine.processes.Creations().size(), 1u);
    EXPECT_EQ(machine.threads.WaitingCount(), 4) << "the two monitors, the watcher and the API-event thread wait";
}

TEST_F(LifecycleTest, AStopEndsTheMonitorAndTheWatcherAndLeavesNothingOfThemOpen) {
    AliceWithCompanion();
    Start();
    ASSERT_NE(service->toggleFlagRuns.Shown(), nullptr);
    ASSERT_NE(service->watcherRuns.Shown(), nullptr);
    Control(win::SERVICE_CONTROL_STOP, 0);
    ExpectInOrder({L"Service in OnStop++\r\n", L"Service in OnStop--\r\n"});
    EXPECT_EQ(Count(L"AABB:: MultiObjectNumber = 0\r\n"), 1);
    EXPECT_EQ(Count(L"DetectDirectoryChangeThread::MultiObjectNumber = 0\r\n"), 1);
    EXPECT_EQ(BlockRetryLoop.load(), 1);
    EXPECT_EQ(machine.threads.UnfinishedCount(), 2) << "only the two event threads, which the object's end stops";
    for (const MonitorRuns* runs : {&service->toggleFlagRuns, &service->watcherRuns}) {
        EXPECT_FALSE(runs->Running());
        EXPECT_EQ(runs->Shown(), nullptr);
    }
    // What stays until the object goes: its provider registration, the eight named events and
    // the two event threads.
    EXPECT_EQ(machine.handles.OpenCount("REGHANDLE"), 1);
    EXPECT_EQ(machine.handles.OpenCount("Event"), 8);
    EXPECT_EQ(machine.handles.OpenCount("Thread"), 2);
    EXPECT_EQ(machine.handles.OpenCount(), 11);
}

// The stopper finds the monitor's stop event and sets it; here the monitor ends and lets go
// of its events in between, as it may on another thread. The stopper must not then set a
// closed handle: Windows may have given its value to some other object.
struct EndingWhileStopped {
    const char* name;
    win::DWORD control;
    win::DWORD eventType;
    void (*wake)(sim::Machine& m);  // what brings the monitor out of its wait
    void (*end)(sim::FaultPlan& f);  // and makes it end there
};

TEST_F(LifecycleTest, AStopperNeverSetsAStopEventItsMonitorHasClosed) {
    const EndingWhileStopped cases[] = {
        {"toggle-flag monitor, by the stop", win::SERVICE_CONTROL_STOP, 0,
         [](sim::Machine& m) { m.registry.SetDword(kInForce, kValuePalmCheckLevel, 4); },
         [](sim::FaultPlan& f) {
             f.FailNext("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1);
             f.FailNext("CreateEventW", win::ERROR_NOT_ENOUGH_MEMORY, 2);
         }},
        {"folder watcher, by a logon", win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON,
         [](sim::Machine& m) { m.files.AddFolder(L"C:\\Users\\alice\\AppData\\Local\\Packages\\Other.App_1"); },
         [](sim::FaultPlan& f) { f.FailNext("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (service) {
            EndMonitors();
            WithdrawRpcInterface();
            service.reset();
        }
        ResetProcessState();
        if (!Logged(L"Service in OnStart++\r\n")) AliceWithCompanion();
        NewService();
        Start();
        const int usedBefore = machine.handles.ClosedUses();
        std::atomic<bool> armed{true};
        machine.faults.SetHook([&](std::string_view call, int) -> win::DWORD {
            if (call == "SetEvent" && armed.exchange(false)) {
                c.end(machine.faults);
                c.wake(machine);
                machine.threads.RunReady();
            }
            return 0;
        });
        Control(c.control, c.eventType);
        machine.faults.SetHook(nullptr);
        machine.faults.Clear();
        EXPECT_FALSE(armed.load()) << "the stopper set an event";
        EXPECT_EQ(machine.handles.ClosedUses() - usedBefore, 0);
    }
}

// A stop, or the end of the process, that comes before the pool has started the work the
// start queued: the monitor and the watcher end at once when they start, and after the
// object's end nothing of it starts at all.
TEST_F(LifecycleTest, WorkQueuedBeforeAStopOrTheObjectsEndEndsAtOnce) {
    struct Case {
        const char* name;
        bool objectGoes;  // else a stop
    } cases[] = {{"stop", false}, {"end of the process", true}};
    AliceWithCompanion();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (service) {
            EndMonitors();
            WithdrawRpcInterface();
            service.reset();
        }
        ResetProcessState();
        NewService();
        service->Start(0, nullptr);
        ASSERT_GT(machine.threads.PendingCount(), 4);
        if (c.objectGoes) {
            serviceInstance = nullptr;
            service.reset();
        } else {
            CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
        }
        machine.threads.RunPending();

        if (c.objectGoes) {
            EXPECT_EQ(machine.threads.UnfinishedCount(), 0) << "nothing waits for a stop that will not come";
            EXPECT_EQ(machine.handles.OpenCount(), 0) << "nothing of the object started";
            continue;
        }
        EXPECT_EQ(machine.threads.UnfinishedCount(), EventThreadsRunning()) << "only the two event threads";
        EXPECT_EQ(Count(L"AABB:: MultiObjectNumber = 0\r\n"), 0) << "the monitor never waited";
        ExpectInOrder({L"Service in OnStop--\r\n", L"DetectDirectoryChangeThread++\r\n",
                       L"DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n",
                       L"DetectDirectoryChangeThread--\r\n"});
        EXPECT_EQ(BlockRetryLoop.load(), 1);
        for (const char* kind : {"ChangeNotification", "HKEY"}) EXPECT_EQ(machine.handles.OpenCount(kind), 0) << kind;
        EXPECT_EQ(machine.handles.OpenCount("Event"), EventThreadEvents());
    }
}

// A shutdown only reports the service stopped; its monitors still run when main destroys
// the object, and must be gone before it is.
TEST_F(LifecycleTest, TheServiceObjectEndsItsMonitorsBeforeItGoes) {
    AliceWithCompanion();
    Start();
    Control(win::SERVICE_CONTROL_SHUTDOWN, 0);
    ASSERT_EQ(machine.threads.WaitingCount(), 4);
    service.reset();
    EXPECT_EQ(CountLogged(L"AABB:: MultiObjectNumber = 0\r\n"), 1);
    EXPECT_EQ(CountLogged(L"DetectDirectoryChangeThread--\r\n"), 1);
    EXPECT_EQ(machine.threads.UnfinishedCount(), 0);
    for (const char* kind : {"Event", "ChangeNotification", "HKEY", "Thread"})
        EXPECT_EQ(machine.handles.OpenCount(kind), 0) << kind;
    WithdrawRpcInterface();  // a shutdown leaves the interface to the process's end
}

// An exception that reaches the edge of one of the service's threads (an allocation that
// fails, say) is logged with the operation it ended; the process goes on, nothing stays
// open, and the service still answers. Each row throws from the first seam call of that
// thread after it is armed: right before the trigger, or during the pause named.
struct ThrowingBoundary {
    const char* name;
    const char* call;
    win::DWORD armAtPause;  // 0: armed before the trigger
    void (*trigger)(ServiceTest& t);
    const wchar_t* line;
};

class ThreadBoundaryTest : public LifecycleTest, public testing::WithParamInterface<ThrowingBoundary> {
public:
    void Arm(const char* call) {
        machine.faults.SetHook([call, armed = std::make_shared<bool>(true)](std::string_view c, int) -> win::DWORD {
            if (*armed && c == call) {
                *armed = false;
                throw std::bad_alloc();
            }
            return 0;
        });
    }
    void Trigger(win::DWORD control, win::DWORD eventType) { Control(control, eventType); }
    void SetNamed(const wchar_t* name) {
        win::HANDLE event{};
        ASSERT_EQ(win::Sync().OpenEventW(win::EVENT_MODIFY_STATE, name, &event), win::ERROR_SUCCESS);
        win::Sync().SetEvent(event);
        win::Sync().CloseHandle(event);
        machine.threads.RunPending();
    }
    sim::Machine& Machine() { return machine; }
    CSampleService& Service() { return *service; }
};

TEST_P(ThreadBoundaryTest, AnExceptionIsLoggedWithItsOperationAndTheServiceGoesOn) {
    const ThrowingBoundary& c = GetParam();
    AliceWithCompanion();
    machine.registry.SetString(kInForce, L"Version", L"2.0.0.5");
    NewService();
    if (c.trigger != nullptr) {
        Start();
        Mark();
    }
    if (c.armAtPause == 0) {
        Arm(c.call);
    } else {
        machine.system.DuringSleep([&](win::DWORD ms) {
            if (ms == c.armAtPause) Arm(c.call);
        });
    }
    if (c.trigger != nullptr) {
        c.trigger(*this);
    } else {
        Start();
    }
    machine.system.DuringSleep(nullptr);
    machine.faults.SetHook(nullptr);

    EXPECT_EQ(Count(c.line), 1);
    EXPECT_EQ(service->currentState(), win::SERVICE_RUNNING);
    Mark();
    Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMESUSPEND);
    EXPECT_TRUE(Has(L"Service in OnResume--\r\n")) << "the service still answers";
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, ThreadBoundaryTest,
    testing::Values(
        ThrowingBoundary{"RpcWorkItem", "RpcServerUseProtseqEpW", 0, nullptr,
                         L"RpcServerStart:: ended by an exception: std::bad_alloc\r\n"},
        ThrowingBoundary{"ToggleFlagMonitor", "RegNotifyChangeKeyValue", 0,
                         [](ServiceTest& t) {
                             auto& b = static_cast<ThreadBoundaryTest&>(t);
                             b.Machine().registry.SetDword(kInForce, kValueAABB, 1);
                             b.Machine().threads.RunPending();
                         },
                         L"MonitorAABBChangeThread:: ended by an exception: std::bad_alloc\r\n"},
        ThrowingBoundary{"FolderWatcher", "FindNextChangeNotification", 0,
                         [](ServiceTest& t) {
                             auto& b = static_cast<ThreadBoundaryTest&>(t);
                             b.Machine().files.AddFolder(L"C:\\Users\\alice\\AppData\\Local\\Packages\\Other.App_1");
                             b.Machine().threads.RunPending();
                         },
                         L"DetectDirectoryChangeThread:: ended by an exception: std::bad_alloc\r\n"},
        ThrowingBoundary{"Launch", "CreateToolhelp32Snapshot", 0,
                         [](ServiceTest& t) {
                             static_cast<ThreadBoundaryTest&>(t).Trigger(win::SERVICE_CONTROL_SESSIONCHANGE,
                                                                         win::WTS_SESSION_LOGON);
                         },
                         L"LaunchInputAgent:: ended by an exception: std::bad_alloc\r\n"},
        ThrowingBoundary{"PointingStickThread", "RegOpenKeyExW", 0,
                         [](ServiceTest& t) {
                             static_cast<ThreadBoundaryTest&>(t).SetNamed(L"Global\\VQSMessage_PST_ON");
                         },
                         L"MonitorPSTUIChangePSTDeviceStautsFunc:: ended by an exception: std::bad_alloc\r\n"},
        ThrowingBoundary{"RpcCall", "RegOpenKeyExW", 0,
                         [](ServiceTest&) {
                             MeteringContext* context = OpenRpcEndpoint();
                             const PalmSettings palm{2, 10, 10, 20, 20};
                             ProcessSetTouchpadSettings(context, &palm);
                             CloseRpcEndpoint(&context);
                         },
                         L"ProcessSetTouchpadSettings:: ended by an exception: std::bad_alloc\r\n"}),
    [](const testing::TestParamInfo<ThrowingBoundary>& info) { return std::string(info.param.name); });

// Each occasion runs the decision pair with its own two flags. alice's stored palm level is
// 3 and the in-force level is 2 or 5 before the occasion; what is in force, what is stored
// for her and what the pad last received tell the flags apart.
struct Occasion {
    const char* name;
    win::DWORD control;
    win::DWORD eventType;
    const wchar_t* entryLine;  // null: the occasion runs no lifecycle operation
    const wchar_t* exitLine;
    std::int32_t inForceBefore;
    std::int32_t inForceAfter;
    std::int32_t aliceAfter;
    win::WORD haptic;
    std::uint8_t blockRetryLoop;
};

class OccasionTest : public LifecycleTest, public testing::WithParamInterface<Occasion> {};

TEST_P(OccasionTest, RunsTheDecisionPairWithItsFlags) {
    const Occasion& c = GetParam();
    Start();  // nobody at the console yet: nothing decided
    AliceWithCompanion();
    StorePalm(kInForce, {c.inForceBefore, 0, 0, 0, 0});
    firmware->Set(kHapticStrength, kUntouched);
    BlockRetryLoop = 0;
    Mark();

    std::vector<unsigned char> data;
    if (c.control == win::SERVICE_CONTROL_DEVICEEVENT)
        data = sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, L"\\\\?\\HID#VEN_TAVO&DEV_0C5E&Col01");
    Control(c.control, c.eventType, data);

    if (c.entryLine) {
        ExpectInOrder({c.entryLine, L"Enter ==> ForcePadControl\r\n", L"Exit <== ForcePadControl\r\n", c.exitLine});
    } else {
        EXPECT_FALSE(Has(L"Enter ==> ForcePadControl\r\n"));
    }
    EXPECT_EQ(PalmLevel(kInForce), c.inForceAfter);
    EXPECT_EQ(PalmLevel(kAlice), c.aliceAfter);
    EXPECT_EQ(Haptic(), c.haptic);
    EXPECT_EQ(BlockRetryLoop.load(), c.blockRetryLoop);
}

constexpr win::DWORD kSession = win::SERVICE_CONTROL_SESSIONCHANGE;
constexpr win::DWORD kPower = win::SERVICE_CONTROL_POWEREVENT;

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, OccasionTest,
    testing::Values(
        // sessionEnding 0, fromInForce 0: the companion is looked for, found, and decides.
        // The logon's new folder watcher clears the stop flag the logon raised.
        Occasion{"Logon_InForce2", kSession, win::WTS_SESSION_LOGON, L"Service in OnLogon++\r\n",
                 L"Service in OnLogon--\r\n", 2, 3, 3, kAliceHaptic, 0},
        Occasion{"Logon_InForce5", kSession, win::WTS_SESSION_LOGON, L"Service in OnLogon++\r\n",
                 L"Service in OnLogon--\r\n", 5, 3, 3, kAliceHaptic, 0},
        Occasion{"Plugin_InForce2", win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL,
                 L"Service in OnPlugin++\r\n", L"Service in OnPlugin--\r\n", 2, 3, 3, kAliceHaptic, 0},
        Occasion{"Plugin_InForce5", win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL,
                 L"Service in OnPlugin++\r\n", L"Service in OnPlugin--\r\n", 5, 3, 3, kAliceHaptic, 0},
        // fromInForce 1: the level in force stands for the companion (5: not installed, so
        // the dynamic level replaces hers and nothing is pushed).
        Occasion{"Resume_InForce2", kPower, win::PBT_APMRESUMESUSPEND, L"Service in OnResume++\r\n",
                 L"Service in OnResume--\r\n", 2, 3, 3, kAliceHaptic, 0},
        Occasion{"Resume_InForce5", kPower, win::PBT_APMRESUMESUSPEND, L"Service in OnResume++\r\n",
                 L"Service in OnResume--\r\n", 5, 5, 5, kUntouched, 0},
        // sessionEnding 1: in UI mode nothing is stored and the pad gets the default set.
        Occasion{"Logoff_InForce2", kSession, win::WTS_SESSION_LOGOFF, L"Service in OnLogoff++\r\n",
                 L"Service in OnLogoff--\r\n", 2, 2, 3, kDefaultSetHaptic, 0},
        Occasion{"Logoff_InForce5", kSession, win::WTS_SESSION_LOGOFF, L"Service in OnLogoff++\r\n",
                 L"Service in OnLogoff--\r\n", 5, 5, 5, kUntouched, 0},
        // A stop also resets every user's store to the driver's defaults (level 2).
        Occasion{"Stop_InForce2", win::SERVICE_CONTROL_STOP, 0, L"Service in OnStop++\r\n", L"Service in OnStop--\r\n",
                 2, 2, 2, kDefaultSetHaptic, 1},
        Occasion{"Stop_InForce5", win::SERVICE_CONTROL_STOP, 0, L"Service in OnStop++\r\n", L"Service in OnStop--\r\n",
                 5, 5, 2, kDefaultSetHaptic, 1},
        // A shutdown only reports the service stopped.
        Occasion{"Shutdown_InForce2", win::SERVICE_CONTROL_SHUTDOWN, 0, nullptr, nullptr, 2, 2, 3, kUntouched, 0},
        Occasion{"Shutdown_InForce5", win::SERVICE_CONTROL_SHUTDOWN, 0, nullptr, nullptr, 5, 5, 3, kUntouched, 0}),
    [](const testing::TestParamInfo<Occasion>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavo::test
