#include <string>
#include <vector>

#include "native/sim_fixture.h"
#include "service/entry.h"
#include "service/service_base.h"
#include "log/trace_log.h"

namespace tavo::test {
namespace {

class EntryTest : public SimTest {
protected:
    int Run(std::vector<std::wstring> args) {
        args.insert(args.begin(), L"TavoTouchpadService.exe");
        std::vector<wchar_t*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return ServiceEntry(static_cast<int>(args.size()), argv.data());
    }
    EntryMode Mode(std::vector<std::wstring> args) {
        args.insert(args.begin(), L"prog");
        std::vector<wchar_t*> argv;
        for (auto& a : args) argv.push_back(a.data());
        return SelectMode(static_cast<int>(args.size()), argv.data());
    }
    std::wstring Out() const { return machine.console.Text(); }
};

TEST_F(EntryTest, ModeSelection) {
    EXPECT_EQ(Mode({L"/INSTALL"}), EntryMode::Install);
    EXPECT_EQ(Mode({L"-Install"}), EntryMode::Install);
    EXPECT_EQ(Mode({L"-install", L"extra"}), EntryMode::Install);
    EXPECT_EQ(Mode({L"/ReMoVe"}), EntryMode::Remove);
    EXPECT_EQ(Mode({L"-console", L"ignored", L"too"}), EntryMode::Console);
    EXPECT_EQ(Mode({L"install"}), EntryMode::Dispatcher);
    EXPECT_EQ(Mode({}), EntryMode::Dispatcher);
    EXPECT_EQ(Mode({L""}), EntryMode::Dispatcher);
    EXPECT_EQ(Mode({L"-"}), EntryMode::Usage);
    EXPECT_EQ(Mode({L"-help"}), EntryMode::Usage);
    EXPECT_EQ(Mode({L"-installx"}), EntryMode::Usage);
    EXPECT_EQ(Mode({L"--install"}), EntryMode::Usage);
}

TEST_F(EntryTest, UsageTextAndNoTraceSession) {
    EXPECT_EQ(Run({L"-help"}), 0);
    EXPECT_EQ(Out(), L"Parameters:\n -install  to install the service.\n -remove   to remove the service.\n"
                     L" -console  to run in console mode.\n");
    EXPECT_FALSE(machine.etw.Session(L"TAVO").has_value());
    EXPECT_EQ(machine.etw.RegisteredProviders(), 0);
}

TEST_F(EntryTest, InstallCreatesAQuotedOwnProcessServiceAndStartsIt) {
    machine.system.SetModulePath(L"C:\\Program Files\\TAVO Suite\\TavoTouchpadService.exe");
    EXPECT_EQ(Run({L"/INSTALL"}), 0);
    EXPECT_EQ(Out(), L"TAVOPTPService is installed.\nTAVOPTPService is started.\n");
    auto svc = machine.scm.Service(L"TAVOPTPService");
    ASSERT_TRUE(svc.has_value());
    // Quoted: unquoted, Windows would try "C:\Program.exe" first.
    EXPECT_EQ(svc->binaryPath, L"\"C:\\Program Files\\TAVO Suite\\TavoTouchpadService.exe\"");
    EXPECT_EQ(svc->displayName, L"TAVO PTP Service");
    EXPECT_EQ(svc->serviceType, 0x10u);
    EXPECT_EQ(svc->startType, 3u);
    EXPECT_EQ(svc->errorControl, 1u);
    EXPECT_EQ(svc->startRequests, 1);
    EXPECT_EQ(machine.scm.OpenHandles(), 0);
    EXPECT_TRUE(machine.etw.Written().empty()) << "install writes no trace";
}

TEST_F(EntryTest, SecondInstallReportsServiceExists) {
    Run({L"-install"});
    machine.console.Clear();
    EXPECT_EQ(Run({L"-Install"}), 0);
    EXPECT_EQ(Out(), L"CreateService failed w/err 0x00000431\n");
    EXPECT_EQ(machine.scm.OpenHandles(), 0);
}

TEST_F(EntryTest, InstallFailures) {
    machine.faults.Fail("OpenSCManagerW", 5);
    Run({L"-install"});
    EXPECT_EQ(Out(), L"OpenSCManager failed w/err 0x00000005\n");
    machine.faults.Clear();
    machine.console.Clear();

    machine.faults.Fail("StartServiceW", 1053);
    Run({L"-install"});
    EXPECT_EQ(Out(), L"TAVOPTPService is installed.\nStartService failed w/err 0x0000041d\n");
    EXPECT_TRUE(machine.scm.Service(L"TAVOPTPService").has_value()) << "a service that failed to start stays";
    EXPECT_EQ(machine.scm.OpenHandles(), 0);
}

TEST_F(EntryTest, AModulePathThatDoesNotFitIsNotInstalled) {
    machine.system.SetModulePath(L"C:\\" + std::wstring(300, L'd') + L"\\TavoTouchpadService.exe");
    Run({L"-install"});
    EXPECT_EQ(Out(), L"GetModuleFileName failed w/err 0x0000007a\n");
    EXPECT_FALSE(machine.scm.Service(L"TAVOPTPService").has_value());
}

TEST_F(EntryTest, RemoveRunningServicePrintsStopLines) {
    Run({L"-install"});
    machine.console.Clear();
    EXPECT_EQ(Run({L"-remove"}), 0);
    EXPECT_EQ(Out(), L"Stopping TAVOPTPService.\nTAVOPTPService is stopped.\nTAVOPTPService is removed.\n");
    EXPECT_FALSE(machine.scm.Service(L"TAVOPTPService").has_value());
    EXPECT_EQ(machine.system.Sleeps(), std::vector<win::DWORD>{1000});
}

TEST_F(EntryTest, RemoveSlowStoppingServicePrintsADotPerSecond) {
    sim::ServiceRecord record;
    record.name = L"TAVOPTPService";
    record.status.dwCurrentState = win::SERVICE_RUNNING;
    record.stopPendingQueries = 3;
    machine.scm.AddService(record);
    Run({L"-remove"});
    EXPECT_EQ(Out(), L"Stopping TAVOPTPService....\nTAVOPTPService is stopped.\nTAVOPTPService is removed.\n");
    EXPECT_EQ(machine.system.Sleeps(), (std::vector<win::DWORD>{1000, 1000, 1000, 1000}));
}

TEST_F(EntryTest, RemoveStoppedServiceSkipsTheStopLines) {
    sim::ServiceRecord record;
    record.name = L"TAVOPTPService";
    machine.scm.AddService(record);
    Run({L"/remove"});
    EXPECT_EQ(Out(), L"TAVOPTPService is removed.\n");
    EXPECT_TRUE(machine.system.Sleeps().empty());
}

TEST_F(EntryTest, RemoveFailures) {
    Run({L"-remove"});
    EXPECT_EQ(Out(), L"OpenService failed w/err 0x00000424\n");
    machine.console.Clear();
    Run({L"-install"});
    machine.console.Clear();
    machine.faults.Fail("QueryServiceStatus", 6);
    machine.faults.Fail("DeleteService", 5);
    Run({L"-remove"});
    // The stop was accepted but its outcome could not be read.
    EXPECT_EQ(Out(), L"Stopping TAVOPTPService.\nTAVOPTPService is stopped.\nDeleteService failed w/err 0x00000005\n");
    EXPECT_EQ(machine.scm.OpenHandles(), 0);
}

TEST_F(EntryTest, DispatcherModeFromAConsoleFailsWith1063) {
    EXPECT_EQ(Run({L"install"}), 0);
    EXPECT_EQ(Out(), L"Service failed to run w/err 0x00000427\n");
    // The object was built and torn down: provider registered, then unregistered.
    EXPECT_TRUE(Logged(L"Register Event Success\r\n"));
    EXPECT_EQ(machine.etw.RegisteredProviders(), 0);
    EXPECT_EQ(serviceInstance.load(), nullptr);
}

TEST_F(EntryTest, DispatcherModeRunsTheServiceAndSetsItsDescriptionAndTrigger) {
    Run({L"-install"});
    machine.scm.LaunchAs(L"TAVOPTPService");
    machine.scm.QueueControl(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    machine.console.Clear();
    // Work items run as they are queued, as a pool with free threads would: none is left
    // queued, holding its context, when the process's service object is gone.
    machine.threads.SetMode(sim::SimThreads::Mode::Inline);
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(Out(), L"");
    auto svc = machine.scm.Service(L"TAVOPTPService");
    ASSERT_TRUE(svc.has_value());
    EXPECT_EQ(svc->description, L"Service for TAVO Pad Suite");
    ASSERT_TRUE(svc->startTrigger.has_value());
    EXPECT_EQ(*svc->startTrigger, win::GUID_DEVCLASS_MOUSE);
    EXPECT_EQ(svc->status.dwCurrentState, win::SERVICE_STOPPED);
    for (const wchar_t* line : {L"SetServiceInfo++\r\n", L"OpenSCManager Success\r\n", L"OpenService Success\r\n",
                                L"SetServiceInfo--\r\n", L"DoSessionChange:: WTS_SESSION_LOGON\r\n",
                                L"Service trying to start.\r\n"})
        EXPECT_TRUE(Logged(line)) << std::string(line, line + std::wcslen(line));
    EXPECT_EQ(machine.handles.OpenCount(), 0);
}

TEST_F(EntryTest, ServiceInfoFailuresAreLoggedAndTheRunGoesOn) {
    Run({L"-install"});
    machine.faults.Fail("ChangeServiceConfig2W", 1733);
    machine.console.Clear();
    Run({L"junk"});
    EXPECT_TRUE(Logged(L"Set Service Description fail. (Error=1733)\r\n"));
    EXPECT_TRUE(Logged(L"Set Service Trigger Info fail. (Error=1733)\r\n"));
    machine.faults.Clear();
    machine.faults.Fail("OpenServiceW", 1060);
    Run({L"junk"});
    EXPECT_TRUE(Logged(L"OpenService failed w/err 0x00000424\r\n"));
    EXPECT_EQ(machine.handles.OpenCount(), 0);
}

// Console mode serves the interface in the foreground: a normal end of listening returns 0
// and destroys the object; a server that cannot be set up ends the process with its code
// and leaves the trace session running.
TEST_F(EntryTest, ConsoleModeServesTheInterfaceAndExitsWithTheServersCode) {
    struct Case {
        const char* fault;
        win::DWORD code;
        std::wstring out;
    } cases[] = {
        {nullptr, 0,
         L"4: Starting Rpc Server..\n4: RpcServerUseProtseqEp Result = 0\r\n\n"
         L"4: RpcServerStart::hResult=0 (=0)\r\n\n"},
        {"RpcServerRegisterIf3", 1711,
         L"4: Starting Rpc Server..\n4: RpcServerUseProtseqEp Result = 0\r\n\n"
         L"4: RpcServerStart::hResult=1711 (=0)\r\n\nRpcServerConnect returned: 0x6af\n4: Starting Rpc Server..\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        sim::Machine fresh;
        fresh.Install();
        ResetProcessState();
        if (c.fault) fresh.faults.Fail(c.fault, c.code);
        win::DWORD exitCode = 0;
        try {
            EXPECT_EQ(Run({L"-console", L"more"}), 0);
        } catch (const sim::ProcessExit& e) {
            exitCode = e.code;
        }
        EXPECT_EQ(exitCode, c.code);
        // The echo starts once the object is built, so its construction lines stay off the console.
        EXPECT_EQ(fresh.console.Text(), c.out);
        EXPECT_EQ(fresh.etw.Session(L"TAVO").has_value(), c.code != 0) << "destroyed only on a normal end";
        EXPECT_TRUE(fresh.rpc.Registered().has_value() == (c.code == 0));
        EXPECT_EQ(fresh.rpc.BadVectorUses(), 0);
        // The ended process would have taken the object left alive with it.
        if (c.code != 0) delete static_cast<CServiceBase*>(traceTarget.load());
    }
    ResetProcessState();
    machine.Install();
}

}  // namespace
}  // namespace tavo::test
