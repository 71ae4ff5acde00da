// The two event threads on a simulated laptop: what another program's event brings to the
// registry and the pad, how the threads end (exit events, teardown, a second start, a
// failed wait), and how a named event is opened to every user.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/feature_report.h"
#include "monitors/pst_monitor.h"
#include "native/service_fixture.h"
#include "platform/processes.h"
#include "settings/api_events.h"

namespace tavo::test {
namespace {

const std::wstring kBob = kInForce + L"\\bob";
constexpr wchar_t kPST[] = L"[MonitorPSTUIChangePSTDeviceStautsFunc] ";
constexpr wchar_t kAPI[] = L"[GetAPIStatusFunc] ";
constexpr win::WORD kOptions = 0x03A1;

// As recorded: each message ends in one "\r\n".
std::wstring Line(const std::wstring& text) { return text + L"\r\n"; }
std::wstring PstLine(const std::wstring& text) { return Line(kPST + text); }
std::wstring ApiLine(const std::wstring& text) { return Line(kAPI + text); }

// Sets a named event as another program does: opened by name, set, closed.
void SetNamed(const wchar_t* name) {
    win::HANDLE h{};
    ASSERT_EQ(win::Sync().OpenEventW(win::EVENT_MODIFY_STATE | win::SYNCHRONIZE, name, &h), win::ERROR_SUCCESS)
        << std::string(name, name + std::wcslen(name));
    ASSERT_EQ(win::Sync().SetEvent(h), win::ERROR_SUCCESS);
    win::Sync().CloseHandle(h);
}

using Values = std::map<std::wstring, std::optional<win::DWORD>>;

class EventThreadTest : public ServiceTest {
protected:
    explicit EventThreadTest(const char* laptop = "touchpad") : ServiceTest(laptop) {}

    // Every forcepad value, the capability and the palm level under key.
    Values Snapshot(const std::wstring& key) const {
        Values v;
        for (const auto& f : RecordLayout<ForcepadSettings>::fields) v[f.valueName] = machine.registry.Dword(key, f.valueName);
        v[kValueForcepadCapability] = machine.registry.Dword(key, kValueForcepadCapability);
        v[kValuePalmCheckLevel] = machine.registry.Dword(key, kValuePalmCheckLevel);
        return v;
    }
    ForcepadSettings Stored(const std::wstring& key) const {
        ForcepadSettings r;
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            Field(r, i) = static_cast<std::int32_t>(
                machine.registry.Dword(key, RecordLayout<ForcepadSettings>::fields[i].valueName).value_or(0xDEAD));
        return r;
    }
    bool Ended(const std::atomic<win::HANDLE>& thread) const {
        const win::HANDLE t = thread.load();
        return t == win::HANDLE{} || machine.sync.IsSignalled(t) == true;
    }
    // Ends the toggle-flag monitor and the folder watcher, leaving the event threads to the
    // service object.
    void EndOtherMonitors() {
        for (int round = 0; round < 2000 && machine.threads.UnfinishedCount() > EventThreadsRunning(); ++round) {
            service->toggleFlagRuns.StopAndPoll(0);
            StopDirectoryWatcher(service->watcherRuns, 0);
            if (machine.threads.CurrentMode() == sim::SimThreads::Mode::RealThreads)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            machine.threads.RunPending();
        }
    }
};

// ---- the API events ----------------------------------------------------------------------

struct ApiCase {
    const char* name;
    int event;
    const wchar_t* value;  // the one value that changes, under alice and in force
    win::DWORD now;
    const wchar_t* line;
};

class ApiEventTest : public EventThreadTest, public testing::WithParamInterface<ApiCase> {};

TEST_P(ApiEventTest, ChangesExactlyItsValueForTheUserAndInForceAndNothingReachesThePad) {
    const ApiCase& c = GetParam();
    AliceWithCompanion();
    machine.registry.SetDword(kAlice, kValueUseTopZoneAsVadavAreduButtonsEnabled, c.now == 1 ? 0 : 1);
    machine.registry.SetDword(kAlice, kValueForcepadCapability, 7);
    machine.registry.SetDword(kInForce, kValueForcepadCapability, 7);
    StoreForcepad(kBob, {1, 1, 1, 1, 1, 1, 1, 1, 1});
    Start();
    const Values alice = Snapshot(kAlice), inForce = Snapshot(kInForce), bob = Snapshot(kBob);
    firmware->ClearReports();
    Mark();

    SetNamed(kAPIEventNames[c.event]);
    machine.threads.RunPending();

    EXPECT_EQ(Count(ApiLine(c.line)), 1);
    for (const auto& [key, before] : {std::pair{kAlice, alice}, std::pair{kInForce, inForce}}) {
        Values after = Snapshot(key);
        EXPECT_EQ(after[c.value], c.now) << std::string(key.begin(), key.end());
        after[c.value] = before.at(c.value);
        EXPECT_EQ(after, before) << "no other value changes";
    }
    EXPECT_EQ(Snapshot(kBob), bob);
    EXPECT_TRUE(firmware->Reports().empty()) << "the pad follows at the next push, not now";
    EXPECT_EQ(EventThreadsRunning(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Api, ApiEventTest,
    testing::Values(
        ApiCase{"TopZoneOn", 0, kValueUseTopZoneAsVadavAreduButtonsEnabled, 1,
                L"API SetEvent for Updating 3HB Value to On in Registry"},
        ApiCase{"TopZoneOff", 1, kValueUseTopZoneAsVadavAreduButtonsEnabled, 0,
                L"API SetEvent for Updating 3HB Value to Off in Registry"},
        ApiCase{"CapabilityEnable", 2, kValueForcepadCapability, 1,
                L"API SetEvent for Updating Forcepad Capability Value to Enable in Registry"},
        ApiCase{"CapabilityDisable", 3, kValueForcepadCapability, 0,
                L"API SetEvent for Updating Forcepad Capability Value to Disable in Registry"}),
    [](const testing::TestParamInfo<ApiCase>& info) { return std::string(info.param.name); });

TEST_F(EventThreadTest, TwoQuickSettingsOfOneApiEventCollapseIntoOneAction) {
    AliceWithCompanion();
    Start();
    Mark();
    SetNamed(kAPIEventNames[0]);
    SetNamed(kAPIEventNames[0]);
    machine.threads.RunPending();
    EXPECT_EQ(Count(ApiLine(L"API SetEvent for Updating 3HB Value to On in Registry")), 1);
}

// Any program may set the four API events; the two exit events end their threads for good,
// so they keep the default security: only the service's account and administrators.
TEST_F(EventThreadTest, TheApiEventsCarryANullDaclAndTheExitEventsTheDefaultSecurity) {
    Start();
    struct Case {
        const wchar_t* name;
        bool nullDacl;
    } cases[] = {{kAPIEventNames[0], true},      {kAPIEventNames[1], true},
                 {kAPIEventNames[2], true},      {kAPIEventNames[3], true},
                 {kAPIEventNames[kAPIExitEvent], false}, {kPSTEventNames[kPSTExitEvent], false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::wcslen(c.name)));
        const auto security = machine.sync.SecurityOf(c.name);
        ASSERT_TRUE(security.has_value());
        if (c.nullDacl) {
            EXPECT_FALSE(security->dacl.has_value());
        } else {
            ASSERT_TRUE(security->dacl.has_value());
            const auto want = sim::SimSync::DefaultSecurity();
            ASSERT_EQ(security->dacl->size(), want.dacl->size());
            for (std::size_t i = 0; i < want.dacl->size(); ++i) {
                EXPECT_EQ((*security->dacl)[i].sid, (*want.dacl)[i].sid);
                EXPECT_EQ((*security->dacl)[i].accessMask, (*want.dacl)[i].accessMask);
            }
            EXPECT_EQ(security->owner, want.owner);
        }
    }
    for (int i = 0; i < kAPIEventCount; ++i)
        EXPECT_TRUE(Has(Line(L"[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[" + std::to_wstring(i) + L"] Successfully")));
}

// ---- the pointing-stick events -------------------------------------------------------------

class PstTest : public EventThreadTest {
protected:
    PstTest() : EventThreadTest("forcepad") {}
};

struct PstCase {
    const char* name;
    int event;  // 0 enable, 1 disable
    std::int32_t enabledBefore, previousManual;
    std::int32_t enabledAfter, notGrayOutAfter;
};

class PstColumnTest : public PstTest, public testing::WithParamInterface<PstCase> {};

TEST_P(PstColumnTest, RewritesTheTopZoneOptionsPushesThemAndStoresThemTwice) {
    const PstCase& c = GetParam();
    AliceWithCompanion();
    const ForcepadSettings before{4, 1, 75, 2, 2, c.enabledBefore, 1, c.event, c.previousManual};
    Start();
    StoreForcepad(kAlice, before);
    StoreForcepad(kInForce, {});
    firmware->Set(kOptions, 0x0307 & ~kOptionTopZoneButtons);
    firmware->ClearReports();
    Mark();

    SetNamed(kPSTEventNames[c.event]);
    machine.threads.RunPending();

    const std::wstring tag = c.event == 0 ? L" #1" : L" #2";
    ExpectInOrder({PstLine(c.event == 0 ? L"GetPSTUI_EnableDeviceEvnet[0] Triggered, PST UI Enable PST"
                                        : L"GetPSTUI_EnableDeviceEvnet[1] Triggered, PST UI Disable PST"),
                   PstLine(L"CurrentControlItem = 4" + tag), PstLine(L"HapticEnabled = 1" + tag),
                   PstLine(L"HapticFeedbackCheckSlider = 75" + tag), PstLine(L"FingerDetectionForceCheckOption = 2" + tag),
                   PstLine(L"ClickForceCheckOption = 2" + tag),
                   PstLine(L"UseTopZoneAsVadavAreduButtonsEnabled = " + std::to_wstring(c.enabledBefore) + tag),
                   PstLine(L"VadavAreduButtonClickForceCheckOption = 1" + tag),
                   Line(L"[SetForcePadFunction] Case USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM_Win11"),
                   Line(L"SyncForcepadSettings::Save Registry")});
    ForcepadSettings want = before;
    want.CurrentControlItem = 5;
    want.UseTopZoneAsVadavAreduButtonsEnabled = c.enabledAfter;
    want.UseTopZoneAsVadavAreduButtonsNotGrayOut = c.notGrayOutAfter;
    EXPECT_EQ(Stored(kAlice), want);
    EXPECT_EQ(Stored(kInForce), want);
    const win::WORD options = firmware->Value(kOptions).value_or(0);
    EXPECT_EQ((options & kOptionTopZoneButtons) != 0, c.enabledAfter == 1) << std::hex << options;
    EXPECT_EQ(options & ~kOptionTopZoneButtons, 0x0307 & ~kOptionTopZoneButtons) << "the other bits stay";
}

INSTANTIATE_TEST_SUITE_P(Pst, PstColumnTest,
                         testing::Values(PstCase{"EnableAfterManualOn", 0, 0, 1, 1, 1},
                                         PstCase{"EnableWithBothOff", 0, 0, 0, 0, 1},
                                         PstCase{"EnableStoredAsThree", 0, 3, 0, 1, 1},
                                         PstCase{"EnableManualTwoIsNotOn", 0, 0, 2, 0, 1},
                                         PstCase{"Disable", 1, 1, 1, 0, 0}),
                         [](const testing::TestParamInfo<PstCase>& info) { return std::string(info.param.name); });

TEST_F(PstTest, EnableAndDisableBeforeTheMonitorWakesAreTakenEnableFirst) {
    AliceWithCompanion();
    Start();
    Mark();
    SetNamed(kPSTEventNames[1]);
    SetNamed(kPSTEventNames[0]);
    machine.threads.RunPending();
    ExpectInOrder({PstLine(L"GetPSTUI_EnableDeviceEvnet[0] Triggered, PST UI Enable PST"),
                   PstLine(L"GetPSTUI_EnableDeviceEvnet[1] Triggered, PST UI Disable PST")});
    EXPECT_EQ(Stored(kAlice).UseTopZoneAsVadavAreduButtonsEnabled, 0);
    EXPECT_EQ(Stored(kInForce).UseTopZoneAsVadavAreduButtonsNotGrayOut, 0);
}

// What an event changes in the user's record goes back only to the user whose key was read,
// in that key: a failed read leaves the live record (or an earlier user's), and the console
// may change between the read and the write.
TEST_F(PstTest, AnEventWritesTheRecordBackOnlyToTheUserWhoseKeyWasRead) {
    AliceWithCompanion();
    Start();
    // Unlike the live record, loaded from alice's key at the start.
    const ForcepadSettings mine{3, 0, 100, 1, 0, 0, 2, 0, 0};
    struct Event {
        const wchar_t* name;
        void (*change)(ForcepadSettings&);
    } events[] = {
        {kPSTEventNames[0],
         [](ForcepadSettings& r) {
             r.CurrentControlItem = 5;
             r.UseTopZoneAsVadavAreduButtonsNotGrayOut = 1;
         }},
        {kAPIEventNames[0], [](ForcepadSettings& r) { r.UseTopZoneAsVadavAreduButtonsEnabled = 1; }},
    };
    struct Case {
        const char* what;
        const char* failing;  // fails at its next use: the read of alice's key
        win::DWORD error;
        bool consoleChanges;  // to bob, right after alice's key was read
    } cases[] = {
        {"no user name", "WTSQuerySessionInformationW", win::ERROR_FILE_NOT_FOUND, false},
        {"key refused", "RegCreateKeyExW", win::ERROR_ACCESS_DENIED, false},
        {"console changes to bob", nullptr, 0, true},
    };
    for (const Event& e : events) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::string(e.name, e.name + std::wcslen(e.name)));
            machine.sessions.LogOn(L"alice");
            StoreForcepad(kAlice, mine);
            if (c.failing) machine.faults.Fail(c.failing, c.error, 1);
            if (c.consoleChanges)
                machine.faults.SetHook([this, done = false](std::string_view call, int) mutable -> win::DWORD {
                    if (!done && call == "RegCloseKey") {
                        done = true;
                        machine.sessions.LogOn(L"bob", 2);
                    }
                    return 0;
                });

            SetNamed(e.name);
            machine.threads.RunPending();
            machine.faults.SetHook(nullptr);
            machine.faults.Clear();

            ForcepadSettings want = mine;
            if (c.consoleChanges) e.change(want);
            EXPECT_EQ(Stored(kAlice), want);
            EXPECT_FALSE(machine.registry.Dword(kBob, kValueHapticFeedbackCheckSlider).has_value());
        }
    }
}

TEST_F(PstTest, EventsTheServiceMadeAreOpenedToEveryoneAndTheUisOwnAreLeftAsTheyAre) {
    win::HANDLE ui{};
    ASSERT_EQ(win::Sync().CreateEventW(nullptr, false, false, kPSTEventNames[0], &ui, nullptr), win::ERROR_SUCCESS);
    const auto uiSecurity = machine.sync.SecurityOf(kPSTEventNames[0]);
    Start();
    EXPECT_FALSE(Has(PstLine(L"OpenEvent PSTUI_ENABLEDEVICE Fail, GetLastError() = 0x00000002")));
    EXPECT_TRUE(Has(PstLine(L"OpenEvent PSTUI_DISABLEDEVICE Fail, GetLastError() = 0x00000002")));
    EXPECT_EQ(machine.sync.SecurityOf(kPSTEventNames[0])->dacl, uiSecurity->dacl);
    const auto made = machine.sync.SecurityOf(kPSTEventNames[1]);
    ASSERT_TRUE(made && made->dacl);
    ASSERT_EQ(made->dacl->size(), 2u);
    EXPECT_EQ((*made->dacl)[0].sid, L"S-1-1-0");
    EXPECT_EQ((*made->dacl)[1].sid, L"S-1-5-32-545");
    win::Sync().CloseHandle(ui);
}

// ---- how the threads end ------------------------------------------------------------------

struct ExitCase {
    const char* name;
    const wchar_t* exitEvent;
    bool pst;
    std::vector<std::wstring> lastLines;
};

class ExitEventTest : public EventThreadTest, public testing::WithParamInterface<ExitCase> {};

TEST_P(ExitEventTest, EndsTheThreadAtItsNextWake) {
    const ExitCase& c = GetParam();
    Start();
    const int waits = machine.sync.Waits();
    Mark();
    SetNamed(c.exitEvent);
    machine.threads.RunPending();
    EXPECT_EQ(Lines(), c.lastLines);
    EXPECT_TRUE(Ended(c.pst ? PSTMonitorThread : GetAPIStatusThread));
    EXPECT_EQ(machine.sync.Waits(), waits) << "no further wait";
}

INSTANTIATE_TEST_SUITE_P(
    Exit, ExitEventTest,
    testing::Values(ExitCase{"PointingStick", kPSTEventNames[kPSTExitEvent], true,
                             {PstLine(L"GetPSTUI_EnableDeviceEvnet[2] Triggered, Leave this Thread"),
                              PstLine(L"Exit <== MonitorPSTUIChangePSTDeviceStautsFunc()")}},
                    ExitCase{"Api", kAPIEventNames[kAPIExitEvent], false,
                             {ApiLine(L"Close Thread"), ApiLine(L"Exit <== GetAPIStatusFunc()")}}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

// The destructor ends both threads in its order and within its budget, stepped or on real
// threads.
class TeardownTest : public EventThreadTest, public testing::WithParamInterface<sim::SimThreads::Mode> {};

TEST_P(TeardownTest, TheDestructorEndsBothThreadsAndClosesEveryEvent) {
    machine.threads.SetMode(GetParam());
    Start();
    for (int i = 0; i < 2000 && EventThreadsRunning() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EndOtherMonitors();
    WithdrawRpcInterface();
    ASSERT_EQ(EventThreadsRunning(), 2);
    const auto started = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    machine.threads.Join();
    EXPECT_EQ(machine.threads.UnfinishedCount(), 0);
    ExpectInOrder({PstLine(L"Exit <== MonitorPSTUIChangePSTDeviceStautsFunc()"), ApiLine(L"Exit <== GetAPIStatusFunc()")});
    EXPECT_EQ(machine.handles.OpenCount("Event"), 0);
    EXPECT_EQ(machine.handles.OpenCount("Thread"), 0);
    EXPECT_EQ(PSTMonitorThread.load(), win::HANDLE{});
    EXPECT_EQ(GetAPIStatusThread.load(), win::HANDLE{});
}

INSTANTIATE_TEST_SUITE_P(Modes, TeardownTest,
                         testing::Values(sim::SimThreads::Mode::Deferred, sim::SimThreads::Mode::RealThreads),
                         [](const testing::TestParamInfo<sim::SimThreads::Mode>& info) {
                             return info.param == sim::SimThreads::Mode::Deferred ? std::string("Stepped")
                                                                                  : std::string("RealThreads");
                         });

TEST_F(PstTest, ASecondStartEndsTheEarlierThreadsFirstAndOnlyTheNewOnesAnswer) {
    AliceWithCompanion();
    Start();
    Mark();
    // The tail of a second OnStart in this process (its other steps are not this test's).
    StartPSTMonitor();
    StartAPIStatusEvents();
    machine.threads.RunPending();
    ExpectInOrder({PstLine(L"GetPSTUI_EnableDeviceEvnet[2] Triggered, Leave this Thread"),
                   PstLine(L"Enter ==> MonitorPSTUIChangePSTDeviceStautsFunc()")});
    ExpectInOrder({ApiLine(L"Close Thread"), Line(L"[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[0] Successfully"),
                   ApiLine(L"Enter ==> GetAPIStatusFunc()")});
    EXPECT_EQ(machine.threads.ThreadsCreated(), 4);
    EXPECT_EQ(EventThreadsRunning(), 2);
    Mark();
    SetNamed(kPSTEventNames[0]);
    SetNamed(kAPIEventNames[2]);
    machine.threads.RunPending();
    EXPECT_EQ(Count(PstLine(L"GetPSTUI_EnableDeviceEvnet[0] Triggered, PST UI Enable PST")), 1);
    EXPECT_EQ(Count(ApiLine(L"API SetEvent for Updating Forcepad Capability Value to Enable in Registry")), 1);
}

// A wait that fails ends the thread (it would fail again at once: a handle it waits on is
// gone); an event that could not be made is left out of the wait. Neither spins.
struct NoSpinCase {
    const char* name;
    void (*beforeStart)(sim::FaultPlan& f);
    bool failWaitsAfterStart;
    const wchar_t* setEvent;
    std::vector<std::wstring> lines;
    int waitsAfter;  // waits made after the event was set, the toggle-flag monitor's re-wait included
    int threadsRunning;
};

class NoSpinTest : public EventThreadTest, public testing::WithParamInterface<NoSpinCase> {};

TEST_P(NoSpinTest, TheThreadEndsOrWaitsOnButNeverSpins) {
    const NoSpinCase& c = GetParam();
    AliceWithCompanion();
    c.beforeStart(machine.faults);
    Start();
    machine.faults.Clear();
    // Once: a thread that retried at once would be waiting again afterwards.
    if (c.failWaitsAfterStart) machine.faults.FailNext("WaitForMultipleObjects", win::ERROR_INVALID_HANDLE, 1);
    const int waits = machine.sync.Waits();
    SetNamed(c.setEvent);
    machine.threads.RunPending();
    machine.faults.Clear();
    ExpectInOrder(c.lines);
    EXPECT_EQ(machine.sync.Waits() - waits, c.waitsAfter);
    EXPECT_EQ(EventThreadsRunning(), c.threadsRunning);
}

void NoFault(sim::FaultPlan&) {}

INSTANTIATE_TEST_SUITE_P(
    Waits, NoSpinTest,
    testing::Values(
        NoSpinCase{"ApiWaitFails", NoFault, true, kAPIEventNames[3],
                   {ApiLine(L"API SetEvent for Updating Forcepad Capability Value to Disable in Registry"),
                    ApiLine(L"Wait Fail, GetLastError() = 0x00000006"), ApiLine(L"Exit <== GetAPIStatusFunc()")},
                   1, 1},
        NoSpinCase{"PstWaitFails", NoFault, true, kPSTEventNames[1],
                   {PstLine(L"GetPSTUI_EnableDeviceEvnet[1] Triggered, PST UI Disable PST"),
                    PstLine(L"End Waiting, Unknown Status"), PstLine(L"Wait Fail, GetLastError() = 0x00000006"),
                    PstLine(L"Exit <== MonitorPSTUIChangePSTDeviceStautsFunc()")},
                   1, 1},
        // The fifth event made at start is the second API event.
        NoSpinCase{"ApiEventNotMade",
                   [](sim::FaultPlan& f) { f.Fail("CreateEventW", win::ERROR_ACCESS_DENIED, 5); }, false,
                   kAPIEventNames[0],
                   {Line(L"[GetAPIStatusEvent] CreateEvent GetAPIStatusEvent[1] Fail, GetLastError() = 0x00000005"),
                    ApiLine(L"API SetEvent for Updating 3HB Value to On in Registry")},
                   1, 2},
        NoSpinCase{"PstEventNotMade",
                   [](sim::FaultPlan& f) { f.Fail("CreateEventW", win::ERROR_ACCESS_DENIED, 2); }, false,
                   kPSTEventNames[0],
                   {PstLine(L"CreateEvent PSTUI_DISABLEDEVICE Fail, GetLastError() = 0x00000005"),
                    PstLine(L"GetPSTUI_EnableDeviceEvnet[0] Triggered, PST UI Enable PST")},
                   2, 2}),
    [](const testing::TestParamInfo<NoSpinCase>& info) { return std::string(info.param.name); });

// ---- opening an event to every user -----------------------------------------------------------

constexpr wchar_t kEventName[] = L"Global\\VQSMessage_PST_ON";
constexpr wchar_t kOtherUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";

struct GrantCase {
    const char* name;
    std::optional<sim::SimSync::ObjectSecurity> made;  // none: the event does not exist
    bool revokeTakeOwnership;
    bool granted;
    const wchar_t* ownerAfter;  // null: as made
    int privilegeAdjustments;
};

class GrantTest : public SimTest, public testing::WithParamInterface<GrantCase> {
protected:
    GrantTest() { RecordTrace(); }
};

TEST_P(GrantTest, AppliesEveryoneAndUsersTakingOwnershipOnlyWhenTheDaclMayNotBeWritten) {
    const GrantCase& c = GetParam();
    win::UniqueEvent event;
    if (c.made) {
        ASSERT_EQ(win::Sync().CreateEventW(nullptr, false, false, kEventName, event.put(), nullptr), win::ERROR_SUCCESS);
        machine.sync.SetSecurityOf(kEventName, *c.made);
    }
    const win::DWORD self = machine.processes.GetCurrentProcessId();
    if (c.revokeTakeOwnership) machine.processes.RevokePrivilege(self, L"SeTakeOwnershipPrivilege");

    EXPECT_EQ(GrantEventAccess(kEventName), c.granted);

    EXPECT_EQ(machine.faults.Uses("AdjustTokenPrivileges"), c.privilegeAdjustments);
    if (c.made) {
        const auto after = machine.sync.SecurityOf(kEventName);
        EXPECT_EQ(after->owner, c.ownerAfter ? c.ownerAfter : c.made->owner);
        if (c.granted) {
            ASSERT_TRUE(after->dacl.has_value());
            const std::vector<win::AceEntry> want{{L"S-1-1-0", win::GENERIC_ALL, 0, 0},
                                                  {L"S-1-5-32-545", win::GENERIC_ALL, 0, 0}};
            ASSERT_EQ(after->dacl->size(), want.size());
            for (std::size_t i = 0; i < want.size(); ++i) {
                EXPECT_EQ((*after->dacl)[i].sid, want[i].sid);
                EXPECT_EQ((*after->dacl)[i].accessMask, want[i].accessMask);
                EXPECT_EQ((*after->dacl)[i].aceType, 0);
            }
        } else {
            EXPECT_EQ(after->dacl.has_value(), c.made->dacl.has_value());
            if (after->dacl) {
                EXPECT_EQ(after->dacl->size(), c.made->dacl->size());
            }
        }
    }
    const auto token = machine.processes.Get(self)->token;
    EXPECT_FALSE(token->privileges.count(L"SeTakeOwnershipPrivilege") && token->privileges.at(L"SeTakeOwnershipPrivilege"))
        << "the privilege is disabled again";
    event.reset();
    EXPECT_EQ(machine.handles.OpenCount(), 0) << "SIDs, ACL, process and token released";
    EXPECT_TRUE(Written().empty()) << "the result is the only report";
}

const sim::SimSync::ObjectSecurity kForeignDenyingWriteDac{
    kOtherUser, std::vector<win::AceEntry>{{L"S-1-1-0", win::WRITE_DAC, 1, 0}, {L"S-1-1-0", win::EVENT_ALL_ACCESS, 0, 0}}};

INSTANTIATE_TEST_SUITE_P(
    Grant, GrantTest,
    testing::Values(GrantCase{"MadeByTheService", sim::SimSync::DefaultSecurity(), false, true, nullptr, 0},
                    GrantCase{"MadeByAnotherAccountDenyingWriteDac", kForeignDenyingWriteDac, false, true, L"S-1-5-32-545", 2},
                    GrantCase{"WithoutTheTakeOwnershipPrivilege", kForeignDenyingWriteDac, true, false, nullptr, 1},
                    GrantCase{"NoSuchEvent", std::nullopt, false, false, nullptr, 0}),
    [](const testing::TestParamInfo<GrantCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavo::test
