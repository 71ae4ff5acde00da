// The service, its toggle-flag monitor, its folder watchers and its launches on real
// threads, with the test writing the registry and the folders and sending controls from
// threads of its own: the race check of the monitors (run it under ThreadSanitizer).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "native/service_fixture.h"

namespace tavo::test {
namespace {

// Polls until the condition holds, for at most ten seconds.
bool Eventually(const std::function<bool()>& condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(ServiceTest, MonitorWatcherLaunchesAndLifecycleOnRealThreads) {
    AliceWithCompanion();
    machine.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
    machine.threads.SetMode(sim::SimThreads::Mode::RealThreads);
    NewService();
    {
        // Launches wait for the lock: none starts while the test holds it.
        std::lock_guard<std::mutex> hold(LauncherLock);
        service->Start(0, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(machine.processes.Creations().empty());
    }
    ASSERT_TRUE(Eventually([&] { return machine.processes.Creations().size() == 1; }));
    ASSERT_TRUE(Eventually([&] { return machine.threads.WaitingCount() == 4; }))
        << "the two monitors, the watcher and the API-event thread wait";

    machine.registry.SetDword(kInForce, kValueAABB, 0);
    ASSERT_TRUE(Eventually([&] { return service->lastAABB.load() == 0; })) << "the monitor answered the toggle";

    // A logon on the control thread while the agent toggles again and an application is
    // installed: all at once.
    std::thread control([] {
        CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON, nullptr, nullptr);
    });
    machine.registry.SetDword(kInForce, kValueAABB, 1);
    machine.files.AddFolder(L"C:\\Users\\alice\\AppData\\Local\\Packages\\Other.App_1");
    control.join();
    ASSERT_TRUE(Eventually([&] { return machine.processes.Creations().size() == 2; }));

    CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    EndMonitors();
    EXPECT_EQ(service->currentState(), win::SERVICE_STOPPED);
    EXPECT_EQ(CountLogged(L"Service in OnLogon--\r\n"), 2);
    EXPECT_EQ(machine.threads.UnfinishedCount(), 0);
    service.reset();  // closes the named events
    for (const char* kind : {"Event", "ChangeNotification", "Snapshot", "Process", "Thread", "Token", "Environment"})
        EXPECT_EQ(machine.handles.OpenCount(kind), 0) << kind;
}

}  // namespace
}  // namespace tavo::test
