// The toggle-flag monitor and the input-agent launcher on a simulated laptop: what a write
// under the settings key brings to the pad and the registry, how the monitor ends and how
// it weathers failures, and what a launch starts and releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "monitors/agent_launcher.h"
#include "native/service_fixture.h"
#include "platform/processes.h"

namespace tavo::test {
namespace {

constexpr win::DWORD kPause = 2000;

class MonitorTest : public ServiceTest {
protected:
    int Pauses() const {
        const auto sleeps = machine.system.Sleeps();
        return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), kPause));
    }
    // The monitor's handles are gone and its slots empty.
    void ExpectMonitorEnded() const {
        EXPECT_FALSE(service->toggleFlagRuns.Running());
        EXPECT_EQ(service->toggleFlagRuns.Shown(), nullptr);
        EXPECT_EQ(machine.handles.OpenCount("Event"), EventThreadEvents());
        EXPECT_EQ(machine.handles.OpenCount("HKEY"), 0);
        EXPECT_EQ(machine.registry.PendingNotifications(), 0);
    }
};

// What a write under the settings key, while alice's settings are in force, brings about.
struct AabbCase {
    const char* name;
    void (*atStart)(sim::Machine& m);  // AABB as the start finds it
    std::int32_t lastAtStart;
    void (*write)(sim::Machine& m);
    int wakeUps;
    bool reapplies;
    std::int32_t palmLevelAfter;  // in force; the set-up leaves 2 there, a re-application 3
    std::int32_t lastAfter;
};

void NoAabb(sim::Machine&) {}
void Aabb1(sim::Machine& m) { m.registry.SetDword(kInForce, kValueAABB, 1); }
void Aabb0(sim::Machine& m) { m.registry.SetDword(kInForce, kValueAABB, 0); }

class AabbChangeTest : public MonitorTest, public testing::WithParamInterface<AabbCase> {};

TEST_P(AabbChangeTest, OnlyAChangeOfAabbReappliesTheSettings) {
    const AabbCase& c = GetParam();
    AliceWithCompanion();
    c.atStart(machine);
    Start();
    EXPECT_EQ(service->lastAABB.load(), c.lastAtStart);
    // Settle: this write wakes the monitor too, and AABB did not change.
    StorePalm(kInForce, {2, 0, 0, 0, 0});
    machine.threads.RunPending();
    firmware->Set(kHapticStrength, kUntouched);
    Mark();

    c.write(machine);
    machine.threads.RunPending();

    EXPECT_EQ(Count(L"AABB:: MultiObjectNumber = 1\r\n"), c.wakeUps);
    EXPECT_EQ(Count(L"Enter ==> ForcePadControl\r\n"), c.reapplies ? 1 : 0);
    EXPECT_EQ(Haptic(), c.reapplies ? kAliceHaptic : kUntouched);
    EXPECT_EQ(PalmLevel(kInForce), c.palmLevelAfter);
    EXPECT_EQ(service->lastAABB.load(), c.lastAfter);
    EXPECT_EQ(machine.registry.PendingNotifications(), 1) << "waiting for the next change";
}

INSTANTIATE_TEST_SUITE_P(
    Monitor, AabbChangeTest,
    testing::Values(
        AabbCase{"MissingThenZero", NoAabb, -1, Aabb0, 1, true, 3, 0},
        AabbCase{"StringThenDwordZero",
                 [](sim::Machine& m) { m.registry.SetString(kInForce, kValueAABB, L"1"); }, -1, Aabb0, 1, true, 3, 0},
        AabbCase{"OneThenZero", Aabb1, 1, Aabb0, 1, true, 3, 0},
        AabbCase{"ZeroThenOne", Aabb0, 0, Aabb1, 1, true, 3, 1},
        AabbCase{"ShortenedToTwoBytes", Aabb1, 1,
                 [](sim::Machine& m) { m.registry.SetRaw(kInForce, kValueAABB, win::REG_DWORD, {1, 0}); }, 1, true, 3,
                 -1},
        AabbCase{"Deleted", Aabb1, 1, [](sim::Machine& m) { m.registry.Import(L"[" + kInForce + L"]\n\"AABB\"=-\n"); },
                 1, true, 3, -1},
        AabbCase{"AnotherValueUnderTheKey", Aabb1, 1,
                 [](sim::Machine& m) { m.registry.SetDword(kInForce, kValuePalmCheckLevel, 4); }, 1, false, 4, 1},
        AabbCase{"TheSameValueAgain", Aabb1, 1, Aabb1, 0, false, 2, 1},
        AabbCase{"AValueOfAUsersSubkey", Aabb1, 1,
                 [](sim::Machine& m) { m.registry.SetDword(kAlice, kValuePalmCheckLevel, 1); }, 0, false, 2, 1}),
    [](const testing::TestParamInfo<AabbCase>& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, TheStopEventEndsTheMonitorAfterOneLoggedWaitResult) {
    Start();
    auto stop = service->toggleFlagRuns.Shown();
    ASSERT_NE(stop, nullptr);
    const int waits = machine.sync.Waits();
    Mark();
    ASSERT_EQ(win::Sync().SetEvent(stop->get()), win::ERROR_SUCCESS);
    stop.reset();  // the test's share of the event
    machine.threads.RunPending();
    EXPECT_EQ(Lines(), std::vector<std::wstring>{L"AABB:: MultiObjectNumber = 0\r\n"});
    EXPECT_EQ(machine.sync.Waits(), waits);
    EXPECT_EQ(machine.threads.UnfinishedCount(), EventThreadsRunning());
    ExpectMonitorEnded();
    machine.registry.SetDword(kInForce, kValueAABB, 1);
    machine.threads.RunPending();
    EXPECT_FALSE(Has(L"Enter ==> ForcePadControl\r\n")) << "nobody watches any more";
}

// Failures at the monitor's start and in its loop: each is logged, and the monitor either
// pauses and goes on, or ends having released everything; it never spins.
struct MonitorFault {
    const char* name;
    void (*inject)(sim::FaultPlan& f);
    std::vector<std::wstring> lines;
    int pauses;
    int eventsMade;  // CreateEventW calls of the monitor
    bool runsOn;
    int stopAtPause = 0;  // the service is stopped during this pause of the monitor (0: never)
};

class MonitorFaultTest : public MonitorTest, public testing::WithParamInterface<MonitorFault> {};

TEST_P(MonitorFaultTest, IsLoggedAndEitherPausesOrEnds) {
    const MonitorFault& c = GetParam();
    NewService();
    service->Start(0, nullptr);  // nobody at the console: the monitor is the one item queued
    ASSERT_EQ(machine.threads.PendingCount(), 4) << "the RPC work item, the monitor and the two event threads";
    const int eventsBefore = machine.faults.Uses("CreateEventW");
    c.inject(machine.faults);
    int pauses = 0;
    machine.system.DuringSleep([&](win::DWORD ms) {
        if (ms == kPause && ++pauses == c.stopAtPause)
            CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    });
    machine.threads.RunPending();
    machine.system.DuringSleep(nullptr);
    machine.faults.Clear();

    ExpectInOrder(c.lines);
    EXPECT_EQ(Pauses(), c.pauses);
    EXPECT_EQ(machine.faults.Uses("CreateEventW") - eventsBefore, c.eventsMade);
    if (!c.runsOn) {
        EXPECT_EQ(machine.threads.UnfinishedCount(), EventThreadsRunning());
        ExpectMonitorEnded();
        return;
    }
    Mark();
    machine.registry.SetDword(kInForce, kValueAABB, 0);
    machine.threads.RunPending();
    EXPECT_EQ(Count(L"Enter ==> ForcePadControl\r\n"), 1) << "it still answers a change";
    EXPECT_EQ(service->lastAABB.load(), 0);
    EXPECT_EQ(machine.handles.OpenCount("Event"), 2 + EventThreadEvents());
    EXPECT_EQ(machine.handles.OpenCount("HKEY"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Monitor, MonitorFaultTest,
    testing::Values(
        MonitorFault{"KeyCannotBeOpened", [](sim::FaultPlan& f) { f.Fail("RegOpenKeyExW", win::ERROR_ACCESS_DENIED, 1); },
                     {L"Fail to OpenRegKey=5\r\n"}, 0, 2, false},
        MonitorFault{"SecondEventCannotBeMade",
                     [](sim::FaultPlan& f) { f.Fail("CreateEventW", win::ERROR_NOT_ENOUGH_MEMORY, 2); }, {}, 0, 2, false},
        MonitorFault{"NotificationRefusedTwice", [](sim::FaultPlan& f) { f.FailNext("RegNotifyChangeKeyValue", 1450, 2); },
                     {L"AABB::Cannot Monitor REG Change, Error (000005AA)\r\n",
                      L"AABB::Cannot Monitor REG Change, Error (000005AA)\r\n"},
                     2, 2, true},
        // The key does not open again after the first refusal: the request on no key fails
        // too, and the next reopening recovers.
        MonitorFault{"KeyLostWhileRetrying",
                     [](sim::FaultPlan& f) {
                         f.FailNext("RegNotifyChangeKeyValue", 1450, 1);
                         f.Fail("RegOpenKeyExW", win::ERROR_FILE_NOT_FOUND, 2);
                     },
                     {L"AABB::Cannot Monitor REG Change, Error (000005AA)\r\n",
                      L"AABB::Cannot Monitor REG Change, Error (00000006)\r\n"},
                     2, 2, true},
        // The request does not wait on the stop event; the stop is seen after the pause.
        MonitorFault{"NotificationRefusedUntilTheServiceStops",
                     [](sim::FaultPlan& f) { f.Fail("RegNotifyChangeKeyValue", 1450); },
                     {L"AABB::Cannot Monitor REG Change, Error (000005AA)\r\n",
                      L"AABB::Cannot Monitor REG Change, Error (000005AA)\r\n"},
                     2, 2, false, 2},
        MonitorFault{"WaitFailsOnce", [](sim::FaultPlan& f) { f.Fail("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1); },
                     {L"AABB:: MultiObjectNumber = -1\r\n"}, 1, 4, true},
        MonitorFault{"WaitFailsFiveTimesInARow",
                     [](sim::FaultPlan& f) { f.FailNext("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 5); },
                     {L"AABB:: MultiObjectNumber = -1\r\n", L"AABB:: MultiObjectNumber = -1\r\n",
                      L"AABB:: MultiObjectNumber = -1\r\n", L"AABB:: MultiObjectNumber = -1\r\n",
                      L"AABB:: MultiObjectNumber = -1\r\n"},
                     5, 12, true},
        MonitorFault{"WaitFailsAndTheEventsCannotBeRemade",
                     [](sim::FaultPlan& f) {
                         f.Fail("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1);
                         f.Fail("CreateEventW", win::ERROR_NOT_ENOUGH_MEMORY, 3);
                     },
                     {L"AABB:: MultiObjectNumber = -1\r\n"}, 0, 4, false}),
    [](const testing::TestParamInfo<MonitorFault>& info) { return std::string(info.param.name); });

// ---- the launcher ------------------------------------------------------------------------

constexpr wchar_t kSystemAgent[] = L"C:\\Windows\\system32\\KVRInput.exe";

// alice at the console of session 1, the agent beside the service in the system folder.
struct LaunchCase {
    const char* name;
    void (*stage)(sim::Machine& m);
    std::vector<std::wstring> lines;
    const wchar_t* started;  // the agent's path, or null when nothing starts
    win::DWORD flags;
};

class LaunchTest : public ServiceTest, public testing::WithParamInterface<LaunchCase> {
protected:
    LaunchTest() {
        RecordTrace();
        machine.sessions.LogOn(L"alice", 1);
        machine.sessions.AddSession(2, L"bob");
        machine.files.AddFile(kSystemAgent);
    }
};

TEST_P(LaunchTest, StartsTheAgentAsTheConsoleSessionsWinlogonAndReleasesEverything) {
    const LaunchCase& c = GetParam();
    c.stage(machine);
    const auto winlogon = machine.processes.Find(L"winlogon.exe", 1);
    const auto before = winlogon ? machine.processes.Get(*winlogon) : std::nullopt;

    LaunchInputAgent();

    ExpectInOrder(c.lines);
    for (const char* kind : {"Snapshot", "Process", "Thread", "Token", "Environment"})
        EXPECT_EQ(machine.handles.OpenCount(kind), 0) << kind << " left open";
    const auto created = machine.processes.Creations();
    if (!c.started) {
        EXPECT_TRUE(created.empty());
        return;
    }
    ASSERT_EQ(created.size(), 1u);
    const auto& p = created[0];
    EXPECT_EQ(p.image, c.started);
    EXPECT_EQ(p.applicationName, std::optional<std::wstring>(c.started));
    EXPECT_EQ(p.commandLine, L"\"" + std::wstring(c.started) + L"\"");
    EXPECT_EQ(p.desktop, L"winsta0\\default");
    EXPECT_EQ(p.flags, c.flags);
    EXPECT_EQ(p.environment.has_value(), (c.flags & win::CREATE_UNICODE_ENVIRONMENT) != 0);
    EXPECT_EQ(p.currentDirectory, std::nullopt);
    EXPECT_EQ(p.token.user, L"SYSTEM");
    EXPECT_EQ(p.token.session, 1u);
    EXPECT_EQ(p.token.type, win::TokenPrimary);
    EXPECT_TRUE(p.token.privileges.at(win::SE_DEBUG_NAME));
    // The copy was adjusted, not winlogon's own token.
    ASSERT_TRUE(before);
    EXPECT_EQ(machine.processes.Get(*winlogon)->token->privileges, before->token->privileges);
}

constexpr win::DWORD kWithEnvironment = 0x430;
constexpr win::DWORD kWithoutEnvironment = 0x30;

INSTANTIATE_TEST_SUITE_P(
    Launcher, LaunchTest,
    testing::Values(
        LaunchCase{"Started",
                   [](sim::Machine&) {},
                   {L"szCmdLine = \"C:\\Windows\\system32\\KVRInput.exe\"\r\n", L"CreateProcessAsUser Error: 0\r\n",
                    L"Run KVRInput, exitCode: 259\r\n"},
                   kSystemAgent, kWithEnvironment},
        // A planted C:\Program.exe is what an unquoted path without an application name runs.
        LaunchCase{"DirectoryWithASpace",
                   [](sim::Machine& m) {
                       m.system.SetCurrentDirectory(L"C:\\Program Files\\TAVO");
                       m.files.AddFile(L"C:\\Program.exe");
                       m.files.AddFile(L"C:\\Program Files\\TAVO\\KVRInput.exe");
                   },
                   {L"szCmdLine = \"C:\\Program Files\\TAVO\\KVRInput.exe\"\r\n", L"Run KVRInput, exitCode: 259\r\n"},
                   L"C:\\Program Files\\TAVO\\KVRInput.exe", kWithEnvironment},
        LaunchCase{"DirectoryTooLongForTheAgentsPath",
                   [](sim::Machine& m) { m.system.SetCurrentDirectory(L"C:\\" + std::wstring(245, L'd')); },
                   {L"LaunchInputAgent::KVRInput path unavailable, Error: 206\r\n"}, nullptr, 0},
        LaunchCase{"CurrentDirectoryUnreadable",
                   [](sim::Machine& m) { m.faults.Fail("GetCurrentDirectoryW", win::ERROR_ACCESS_DENIED); },
                   {L"LaunchInputAgent::KVRInput path unavailable, Error: 5\r\n"}, nullptr, 0},
        LaunchCase{"NoWinlogonInTheConsoleSession",
                   [](sim::Machine& m) { m.processes.EndProcess(*m.processes.Find(L"winlogon.exe", 1)); },
                   {L"Process token open Error: 18\r\n"}, nullptr, 0},
        LaunchCase{"SnapshotRefused",
                   [](sim::Machine& m) { m.faults.Fail("CreateToolhelp32Snapshot", win::ERROR_NOT_ENOUGH_MEMORY); },
                   {L"CreateToolhelp32Snapshot Fail : 8\r\n"}, nullptr, 0},
        LaunchCase{"FirstEntryUnreadable",
                   [](sim::Machine& m) { m.faults.Fail("Process32FirstW", win::ERROR_BAD_LENGTH); },
                   {L"Process32First Fail : 24\r\n"}, nullptr, 0},
        LaunchCase{"WinlogonCannotBeOpened",
                   [](sim::Machine& m) { m.faults.Fail("OpenProcess", win::ERROR_ACCESS_DENIED); },
                   {L"Process token open Error: 5\r\n"}, nullptr, 0},
        LaunchCase{"ItsTokenCannotBeOpened",
                   [](sim::Machine& m) { m.faults.Fail("OpenProcessToken", win::ERROR_ACCESS_DENIED); },
                   {L"Process token open Error: 5\r\n"}, nullptr, 0},
        LaunchCase{"PrivilegeUnknown",
                   [](sim::Machine& m) { m.faults.Fail("LookupPrivilegeValueW", win::ERROR_NO_SUCH_PRIVILEGE); },
                   {L"Lookup Privilege value Error: 1313\r\n"}, nullptr, 0},
        LaunchCase{"PrivilegeNotHeld",
                   [](sim::Machine& m) {
                       m.processes.RevokePrivilege(*m.processes.Find(L"winlogon.exe", 1), win::SE_DEBUG_NAME);
                   },
                   {L"Token does not have the provilege\r\n"}, nullptr, 0},
        LaunchCase{"AdjustmentFailsAndTheLaunchGoesOn",
                   [](sim::Machine& m) { m.faults.Fail("AdjustTokenPrivileges", win::ERROR_INVALID_PARAMETER); },
                   {L"Adjust Privilege value Error: 87\r\n", L"Run KVRInput, exitCode: 259\r\n"}, kSystemAgent,
                   kWithEnvironment},
        LaunchCase{"NoEnvironment",
                   [](sim::Machine& m) { m.faults.Fail("CreateEnvironmentBlock", win::ERROR_ACCESS_DENIED); },
                   {L"CreateProcessAsUser Error: 0\r\n", L"Run KVRInput, exitCode: 259\r\n"}, kSystemAgent,
                   kWithoutEnvironment},
        // Going on without the copy would start the agent as the service, in session 0; a copy
        // that could not be put in the console session is not used either.
        LaunchCase{"TokenNotCopied",
                   [](sim::Machine& m) { m.faults.Fail("DuplicateTokenEx", win::ERROR_NOT_ENOUGH_MEMORY); },
                   {L"LaunchInputAgent::DuplicateTokenEx Error: 8\r\n"}, nullptr, 0},
        LaunchCase{"CopysSessionNotSet",
                   [](sim::Machine& m) { m.faults.Fail("SetTokenInformation", win::ERROR_PRIVILEGE_NOT_HELD); },
                   {L"LaunchInputAgent::SetTokenInformation Error: 1314\r\n"}, nullptr, 0},
        LaunchCase{"AgentMissing", [](sim::Machine& m) { m.files.Remove(kSystemAgent); },
                   {L"CreateProcessAsUser Error: 2\r\n", L"Run KVRInput fail\r\n"}, nullptr, 0},
        LaunchCase{"ExitCodeUnreadable",
                   [](sim::Machine& m) { m.faults.Fail("GetExitCodeProcess", win::ERROR_ACCESS_DENIED); },
                   {L"CreateProcessAsUser Error: 0\r\n", L"LaunchInputAgent::GetExitCodeProcess Error: 5\r\n"},
                   kSystemAgent, kWithEnvironment}),
    [](const testing::TestParamInfo<LaunchCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavo::test
