// The touchpad service object and its lifecycle: what runs at start, logon, logoff,
// resume, device arrival and stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "monitors/folder_watcher.h"
#include "monitors/monitor_runs.h"
#include "platform/wintypes.h"
#include "service/service_base.h"

namespace tavo {

inline constexpr wchar_t kServiceDescription[] = L"Service for TAVO Pad Suite";

// The driver key search at start: tries, and the pause after each try that fails.
inline constexpr int kDriverKeySearchTries = 5;
inline constexpr win::DWORD kDriverKeySearchPauseMs = 500;
// How many polls, kStopPollMs apart, the object's end gives the work that still runs: a
// driver-cleanup run may take 11 s, a monitor's pause 2 s.
inline constexpr int kTeardownPolls = 150;

class CSampleService;

// What the service object shares with the work it hands to pool threads. Each item holds it
// for as long as it may run, so what an item touches stays valid even when the object's end
// could not wait for it; no item starts once the object has closed it.
class ServiceWork {
public:
    explicit ServiceWork(CSampleService* service) : service_(service) {}

    MonitorRuns toggleFlag;   // the toggle-flag monitor's runs
    MonitorRuns watcher;      // the folder watcher's runs
    std::atomic<std::int32_t> lastAABB{0};
    std::mutex LauncherLock;  // launches never overlap
    std::mutex cleanupLock;   // nor do driver-cleanup runs

    // An item about to run counts itself in: the object, or null once it is closed (then the
    // item must not run).
    CSampleService* Enter();
    void Leave();
    // No item starts from now on.
    void Close();
    int Running() const;

private:
    mutable std::mutex lock_;
    CSampleService* service_;
    int running_ = 0;
};

class CSampleService : public CServiceBase {
public:
    CSampleService();
    ~CSampleService() override;

    // Echoes to the console in console mode, then writes to the provider.
    void WriteTraceString(const wchar_t* text, win::BYTE level) override;

    void OnStart(win::DWORD argc, wchar_t** argv) override;
    void OnStop() override;
    void OnLogon() override;
    void OnLogoff() override;
    void OnResume() override;
    void OnPlugin() override;

    void SetConsoleMode(bool on) { consoleMode = on ? 1 : 0; }

    const std::shared_ptr<ServiceWork> work;
    // The thread-pool work item that serves the RPC interface; none until OnStart.
    std::atomic<win::PTP_WORK> rpcWork{};
    std::atomic<std::uint8_t> consoleMode{0};
    // The AABB value last seen, set at start and by the toggle-flag monitor.
    std::atomic<std::int32_t>& lastAABB;
    // The toggle-flag monitor's and the folder watcher's runs, with the stop events they show.
    MonitorRuns& toggleFlagRuns;
    MonitorRuns& watcherRuns;

    // Queues a folder watcher as a logon does, once the logon has stopped the previous one.
    void QueueDirectoryWatcher();
};

// Queues body as a long-running pool work item of the service; `operation` names it in the
// log should it end by an exception. It runs only while the object lives, which then waits
// for it to end. Raises Win32Error with the system's code when it cannot be queued; the
// service's status sequences turn that into a service status.
void QueueLongRunningWork(CSampleService* service, const char* operation, std::function<void()> body);

// Rewrites the installed service's description and its mouse-arrival start trigger.
void SetServiceInfo();

// Whether a user is active at the console, with its three log lines.
bool DetectUserLogon();

}  // namespace tavo
