// The service, its toggle-flag monitor, its folder watchers and its launches on real
// threads, with the test writing the registry and the folders and sending controls from
// threads of its own: the race check of the monitors (run it under ThreadSanitizer).
#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <functional>
#include <memory>
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
        std::lock_guard<std::mutex> hold(service->work->LauncherLock);
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

// The object's end while a launch still runs (it waits here for the launch lock): the end
// waits for it, and when the launch outlasts the bound, the end says so and goes, and the
// launch ends later without touching what went.
TEST_F(ServiceTest, TheObjectsEndWaitsForTheWorkThatRunsWithinItsBound) {
    struct Case {
        const char* name;
        bool releasedInTime;
    } cases[] = {{"launch ends in time", true}, {"launch outlasts the bound", false}};
    AliceWithCompanion();
    machine.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
    machine.threads.SetMode(sim::SimThreads::Mode::RealThreads);
    const std::wstring boundHit = L"~CSampleService:: 1 work items and 0 RPC calls still run after " +
                                  std::to_wstring(kTeardownPolls * kStopPollMs) + L" ms; left to end alone\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewService();
        const std::shared_ptr<ServiceWork> work = service->work;
        const std::size_t launched = machine.processes.Creations().size();
        std::unique_lock<std::mutex> hold(work->LauncherLock);
        service->Start(0, nullptr);
        // Everything but the launch ends or waits for a stop; the launch waits for the lock.
        ASSERT_TRUE(Eventually([&] { return machine.threads.WaitingCount() == 4 && work->Running() == 3; }));
        std::atomic<bool> gone{false};
        std::thread end([&] {
            serviceInstance = nullptr;
            service.reset();
            gone = true;
        });
        if (c.releasedInTime) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_FALSE(gone.load()) << "the end waits for the launch";
            hold.unlock();
            end.join();
            EXPECT_EQ(machine.processes.Creations().size(), launched + 1);
            EXPECT_EQ(CountLogged(boundHit), 0);
        } else {
            end.join();
            EXPECT_EQ(CountLogged(boundHit), 1);
            hold.unlock();
            ASSERT_TRUE(Eventually([&] { return machine.threads.UnfinishedCount() == 0; }));
            EXPECT_EQ(machine.processes.Creations().size(), launched + 1) << "the launch went on alone";
        }
        machine.threads.Join();
        EXPECT_EQ(work->Running(), 0);
        WithdrawRpcInterface();  // a service that was not stopped leaves it to the process's end
    }
}

}  // namespace
}  // namespace tavo::test
