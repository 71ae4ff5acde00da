// The touchpad service object and its lifecycle: what runs at start, logon, logoff,
// resume, device arrival and stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/wintypes.h"
#include "service/service_base.h"

namespace tavo {

inline constexpr wchar_t kServiceDescription[] = L"Service for TAVO Pad Suite";

// The driver key search at start: tries, and the pause after each try that fails.
inline constexpr int kDriverKeySearchTries = 5;
inline constexpr win::DWORD kDriverKeySearchPauseMs = 500;
// How many 100 ms polls the destructor gives the toggle-flag monitor and the folder watcher.
inline constexpr int kTeardownMonitorPolls = 10;
inline constexpr int kTeardownWatcherPolls = 25;

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

    // The thread-pool work item that serves the RPC interface; none until OnStart.
    std::atomic<win::PTP_WORK> rpcWork{};
    std::atomic<std::uint8_t> consoleMode{0};
    // The AABB value last seen, set at start and by the toggle-flag monitor.
    std::atomic<std::int32_t> lastAABB{0};
    // The toggle-flag monitor's stop event (0) and change event (1), shown while it runs.
    std::atomic<win::HANDLE> aabbEvents[2]{};
    // The folder watcher's stop event (0) and change notification (1), shown while it runs;
    // a null stop event means that no watcher runs.
    std::atomic<win::HANDLE> ChangeHandle[2]{};
};

// Queues body as a long-running pool work item of the service; `operation` names it in the
// log should it end by an exception. Raises Win32Error with the system's code when it cannot
// be queued; the service's status sequences turn that into a service status.
void QueueLongRunningWork(CSampleService* service, const char* operation, std::function<void()> body);

// Rewrites the installed service's description and its mouse-arrival start trigger.
void SetServiceInfo();

// Whether a user is active at the console, with its three log lines.
bool DetectUserLogon();

// Serialise input-agent launches and driver-cleanup runs; live as long as the process.
extern std::mutex& LauncherLock;
extern std::mutex& cleanupLock;
// The folder watcher's stop flag: set by OnStop and OnLogon, cleared by the watcher.
extern std::atomic<std::uint8_t>& BlockRetryLoop;

}  // namespace tavo
