#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "native/sim_fixture.h"
#include "service/service_base.h"
#include "log/trace_log.h"
#include "service/win32_error.h"

namespace tavo::test {
namespace {

// A service whose lifecycle operations count their calls and fail on request.
class ProbeService : public CServiceBase {
public:
    void OnStart(win::DWORD, wchar_t**) override {
        ++starts;
        if (startError) throw Win32Error{startError};
        if (startThrowsOther) throw std::runtime_error("boom");
    }
    void OnStop() override {
        ++stops;
        if (stops <= failingStops) throw Win32Error{5};
    }
    void OnShutdown() override { ++shutdowns; }
    void OnLogon() override {
        ++logons;
        if (logonError) throw Win32Error{logonError};
    }
    void OnLogoff() override { ++logoffs; }
    void OnResume() override { ++resumes; }
    void OnPlugin() override { ++plugins; }

    win::DWORD startError = 0;
    bool startThrowsOther = false;
    int failingStops = 0;
    win::DWORD logonError = 0;
    std::atomic<int> starts{0}, stops{0}, shutdowns{0}, logons{0}, logoffs{0}, resumes{0}, plugins{0};
};

class ServiceBaseTest : public SimTest {
protected:
    // Runs the service as the manager would: dispatcher, ServiceMain thread, controls.
    win::DWORD Dispatch(ProbeService& service) {
        serviceInstance = &service;
        sim::ServiceRecord record;
        record.name = kServiceName;
        machine.scm.AddService(record);
        machine.scm.LaunchAs(kServiceName);
        return machine.scm.StartServiceCtrlDispatcherW(kServiceName, &CServiceBase::ServiceMain);
    }
    struct Step {
        win::DWORD state, checkPoint, exitCode;
    };
    void ExpectReports(const std::vector<Step>& expected) {
        auto reports = machine.scm.Reports();
        ASSERT_EQ(reports.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(reports[i].dwCurrentState, expected[i].state);
            EXPECT_EQ(reports[i].dwCheckPoint, expected[i].checkPoint);
            EXPECT_EQ(reports[i].dwWin32ExitCode, expected[i].exitCode);
            EXPECT_EQ(reports[i].dwControlsAccepted, 0xC5u);
            EXPECT_EQ(reports[i].dwServiceType, 0x10u);
            EXPECT_EQ(reports[i].dwWaitHint, 0u);
            EXPECT_EQ(reports[i].dwServiceSpecificExitCode, 0u);
        }
    }
};

TEST_F(ServiceBaseTest, StartAndStopReportWithCheckPoints) {
    ProbeService service;
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    EXPECT_EQ(Dispatch(service), 0u);
    ExpectReports({{2, 1, 0}, {4, 0, 0}, {3, 2, 0}, {1, 0, 0}});
    EXPECT_EQ(service.starts, 1);
    EXPECT_EQ(service.stops, 1);
    EXPECT_TRUE(Logged(L"Service trying to start.\r\n"));
}

TEST_F(ServiceBaseTest, CheckPointsKeepCountingAcrossOperations) {
    ProbeService service;
    machine.scm.QueueControl(win::SERVICE_CONTROL_PAUSE, 0);
    machine.scm.QueueControl(win::SERVICE_CONTROL_CONTINUE, 0);
    machine.scm.QueueControl(win::SERVICE_CONTROL_INTERROGATE, 0);
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    Dispatch(service);
    ExpectReports({{2, 1, 0}, {4, 0, 0}, {6, 2, 0}, {7, 3, 0}, {5, 4, 0}, {4, 0, 0}, {3, 5, 0}, {1, 0, 0}});
}

TEST_F(ServiceBaseTest, RaisedErrorFromOnStartStopsWithThatExitCode) {
    ProbeService service;
    service.startError = 1450;
    Dispatch(service);
    ExpectReports({{2, 1, 0}, {1, 0, 1450}});
    EXPECT_TRUE(Logged(L"Service Start Fail, Err=1450\r\n"));
}

TEST_F(ServiceBaseTest, OtherFailureFromOnStartStopsWithExitCodeZero) {
    ProbeService service;
    service.startThrowsOther = true;
    Dispatch(service);
    ExpectReports({{2, 1, 0}, {1, 0, 0}});
    EXPECT_TRUE(Logged(L"Service failed to start.\r\n"));
}

TEST_F(ServiceBaseTest, FailedStopReturnsToTheRememberedState) {
    ProbeService service;
    service.failingStops = 1;
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    Dispatch(service);
    ExpectReports({{2, 1, 0}, {4, 0, 0}, {3, 2, 0}, {4, 0, 0}, {3, 3, 0}, {1, 0, 0}});
    EXPECT_TRUE(Logged(L"Service Stop Fail, Error=5\r\n"));
}

TEST_F(ServiceBaseTest, ShutdownReportsStoppedWithoutRunningOnStop) {
    ProbeService service;
    machine.scm.QueueControl(win::SERVICE_CONTROL_SHUTDOWN, 0);
    Dispatch(service);
    ExpectReports({{2, 1, 0}, {4, 0, 0}, {1, 0, 0}});
    EXPECT_EQ(service.stops, 0);
    EXPECT_EQ(service.shutdowns, 1);
}

TEST_F(ServiceBaseTest, HandlerRegistrationFailureEndsServiceMainWithoutStarting) {
    machine.faults.Fail("RegisterServiceCtrlHandlerExW", 1083);
    ProbeService service;
    EXPECT_EQ(Dispatch(service), 0u);
    EXPECT_TRUE(machine.scm.Reports().empty());
    EXPECT_EQ(service.starts, 0);
}

TEST_F(ServiceBaseTest, MouseArrivalsReachOnPluginThroughTheDeviceRegistration) {
    ProbeService service;
    machine.scm.QueueDeviceInterfaceEvent(win::DBT_DEVICEARRIVAL, win::GUID_CLASS_MOUSE, L"\\\\?\\HID#VID_1234&PID_5678");
    machine.scm.QueueDeviceInterfaceEvent(win::DBT_DEVICEREMOVECOMPLETE, win::GUID_CLASS_MOUSE, L"\\\\?\\HID#gone");
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    Dispatch(service);
    EXPECT_EQ(service.plugins, 1);
    EXPECT_TRUE(Logged(L"Device Name : \\\\?\\HID#VID_1234&PID_5678\r\n"));
    EXPECT_TRUE(Logged(L"DoDeviceChange:: Device Remove\r\n"));
    EXPECT_EQ(machine.handles.OpenCount("HDEVNOTIFY"), 1) << "held until the object is destroyed";
}

TEST_F(ServiceBaseTest, WithoutADeviceRegistrationNoArrivalArrives) {
    machine.faults.Fail("RegisterDeviceNotificationW", 5);
    ProbeService service;
    machine.scm.QueueDeviceInterfaceEvent(win::DBT_DEVICEARRIVAL, win::GUID_CLASS_MOUSE, L"mouse");
    machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
    Dispatch(service);
    EXPECT_EQ(service.plugins, 0);
    EXPECT_EQ(service.stops, 1) << "the service runs on without arrivals";
}

TEST_F(ServiceBaseTest, DeviceRegistrationIsReleasedWithTheObject) {
    {
        ProbeService service;
        machine.scm.QueueControl(win::SERVICE_CONTROL_STOP, 0);
        Dispatch(service);
    }
    EXPECT_EQ(machine.handles.OpenCount(), 0);
}

// ---- session-change bookkeeping ----

class SessionChangeTest : public SimTest {
protected:
    void Run(std::initializer_list<win::DWORD> events) {
        for (auto e : events) service.DoSessionChange(e);
    }
    ProbeService service;
};

TEST_F(SessionChangeTest, LockBetweenLogonAndUnlockAllowsASecondLogon) {
    Run({win::WTS_SESSION_LOGON, win::WTS_SESSION_LOCK, win::WTS_SESSION_UNLOCK});
    EXPECT_EQ(service.logons, 2);
}

TEST_F(SessionChangeTest, UnlockStraightAfterLogonIsSkipped) {
    Run({win::WTS_SESSION_LOGON, win::WTS_SESSION_UNLOCK});
    EXPECT_EQ(service.logons, 1);
    EXPECT_TRUE(Logged(L"Now is WTS_SESSION_UNLOCK, Last is WTS_SESSION_LOGON, Donot enter OnLogon()\r\n"));
    EXPECT_TRUE(Logged(L"DoSessionChange:: WTS_SESSION_UNLOCK\r\n"));
}

TEST_F(SessionChangeTest, DisconnectAfterLogoffIsSkippedButAloneRunsLogoff) {
    Run({win::WTS_SESSION_LOGOFF, win::WTS_CONSOLE_DISCONNECT});
    EXPECT_EQ(service.logoffs, 1);
    EXPECT_TRUE(Logged(L"Now is WTS_CONSOLE_DISCONNECT, Last is WTS_SESSION_LOGOFF, Donot enter OnLogoff()\r\n"));
    Run({win::WTS_CONSOLE_CONNECT, win::WTS_CONSOLE_DISCONNECT});
    EXPECT_EQ(service.logoffs, 2) << "fast user switching: a disconnect by itself logs off";
}

TEST_F(SessionChangeTest, EveryEventTypeUpdatesTheLastEvent) {
    // The first logon always runs; any other event in between re-arms the next one.
    Run({win::WTS_SESSION_LOGON, win::WTS_SESSION_CREATE, win::WTS_SESSION_LOGON, 42, win::WTS_SESSION_LOGON,
         win::WTS_SESSION_LOGON});
    EXPECT_EQ(service.logons, 3);
    EXPECT_TRUE(Logged(L"DoSessionChange:: Unknow SessionID\r\n"));
    EXPECT_TRUE(Logged(L"DoSessionChange:: WTS_SESSION_CREATE\r\n"));
}

TEST_F(SessionChangeTest, AFailingLogonOnTheControlThreadIsContained) {
    serviceInstance = &service;
    service.logonError = 8;
    EXPECT_EQ(CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON, nullptr,
                                                  nullptr),
              win::NO_ERROR);
    EXPECT_EQ(service.logons, 1);
    EXPECT_TRUE(Logged(L"ServiceControlHandler:: control 14 failed, Err=8\r\n"));
    // The failed logon still counts as the last event.
    service.logonError = 0;
    service.DoSessionChange(win::WTS_SESSION_UNLOCK);
    EXPECT_EQ(service.logons, 1);
}

TEST_F(SessionChangeTest, PowerEvents) {
    service.DoPowerChange(win::PBT_APMRESUMESUSPEND);
    service.DoPowerChange(win::PBT_APMRESUMEAUTOMATIC);
    service.DoPowerChange(win::PBT_APMSUSPEND);
    EXPECT_EQ(service.resumes, 1);
    EXPECT_TRUE(Logged(L"DoPowerChange:: PBT_APMRESUMESUSPEND (0x0007)\r\n"));
    EXPECT_TRUE(Logged(L"DoPowerChange:: PBT_APMRESUMEAUTOMATIC (0x0012)\r\n"));
    EXPECT_TRUE(Logged(L"DoPowerChange:: dwEventType = 0x00000004\r\n"));
}

// ---- device-event classification ----

std::vector<unsigned char> Header(win::DWORD size, win::DWORD type) {
    std::vector<unsigned char> data(size, 0);
    std::memcpy(data.data(), &size, 4);
    std::memcpy(data.data() + 4, &type, 4);
    return data;
}

TEST_F(SessionChangeTest, DeviceEventsAreClassifiedFromTheBytesTheHeaderCovers) {
    auto arrival = sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, L"\\\\?\\HID#touchpad");
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, arrival.data());
    EXPECT_EQ(service.plugins, 1);
    EXPECT_TRUE(Logged(L"DoDeviceChange:: Device plug-in\r\n"));
    EXPECT_TRUE(Logged(L"Device Name : \\\\?\\HID#touchpad\r\n"));

    auto otherClass = sim::DeviceInterfaceBroadcast(win::GUID_DEVCLASS_MOUSE, L"x");
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, otherClass.data());
    EXPECT_TRUE(Logged(L"dbcc_classguid is NOT GUID_CLASS_MOUSE\r\n"));

    auto handleEvent = Header(40, win::DBT_DEVTYP_HANDLE);
    std::memset(handleEvent.data() + 16, 0xFF, 8);
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, handleEvent.data());
    EXPECT_TRUE(Logged(L"dbch_handle is INVALID_HANDLE_VALUE\r\n"));

    auto volume = Header(20, 2);
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, volume.data());
    EXPECT_TRUE(Logged(L"dbch_devicetype is NOT DBT_DEVTYP_DEVICEINTERFACE\r\n"));
    EXPECT_EQ(service.plugins, 1);

    service.DoDeviceChange(0x0007, nullptr);
    EXPECT_TRUE(Logged(L"DoPowerChange:: dwEventType = 0x00000007\r\n"));
}

TEST_F(SessionChangeTest, ShortNotificationsAreNeverReadPastTheirSize) {
    // Exactly-sized heap blocks: a read past the header's size is an overrun under ASan.
    auto shortInterface = Header(20, win::DBT_DEVTYP_DEVICEINTERFACE);
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, shortInterface.data());
    EXPECT_TRUE(Logged(L"dbcc_classguid is NOT GUID_CLASS_MOUSE\r\n"));

    auto headerOnly = Header(12, win::DBT_DEVTYP_DEVICEINTERFACE);
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, headerOnly.data());

    // A name without its terminator ends at the structure's end.
    auto unterminated = sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, L"abcd");
    unterminated.resize(unterminated.size() - 2);
    win::DWORD size = static_cast<win::DWORD>(unterminated.size());
    std::memcpy(unterminated.data(), &size, 4);
    service.DoDeviceChange(win::DBT_DEVICEARRIVAL, unterminated.data());
    EXPECT_TRUE(Logged(L"Device Name : abcd\r\n"));
    EXPECT_EQ(service.plugins, 1);
}

}  // namespace
}  // namespace tavo::test
