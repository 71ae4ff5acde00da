// The simulated Windows machine: every facet of the seam, modelled, with fault injection,
// recorded sleeps and handle accounting. Tests build one per scenario and install it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_devices.h"
#include "platform/sim/sim_etw.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_rpc.h"
#include "platform/sim/sim_scm.h"
#include "platform/sim/sim_security.h"
#include "platform/sim/sim_sessions.h"
#include "platform/sim/sim_setup_inf.h"
#include "platform/sim/sim_sync.h"
#include "platform/sim/sim_threads.h"
#include "platform/system.h"

namespace sim {

class SimConsole : public win::Console {
public:
    void Write(std::wstring_view text) override;
    std::wstring Text() const;
    void Clear();

private:
    mutable std::mutex lock_;
    std::wstring text_;
};

// Thrown by ExitProcess so a test can observe the exit status of a "process".
struct ProcessExit {
    win::DWORD code;
};

class SimSystem : public win::System {
public:
    SimSystem(FaultPlan& faults, SimThreads& threads) : faults_(faults), threads_(threads) {}
    win::DWORD GetModuleFileNameW(wchar_t* buffer, win::DWORD size, win::DWORD* length) override;
    win::DWORD GetCurrentDirectoryW(win::DWORD size, wchar_t* buffer, win::DWORD* length) override;
    // Records the pause and returns without passing real time: cooperative items whose waits
    // can complete run meanwhile; on real threads the pause is cut to 10 ms at most. A run
    // of more pauses than any scenario makes is stopped with std::logic_error, so a loop that
    // only sleeps fails the test instead of hanging it.
    void Sleep(win::DWORD milliseconds) override;
    [[noreturn]] void ExitProcess(win::DWORD code) override;
    void OutputDebugStringW(const wchar_t* text) override;

    void SetModulePath(std::wstring path);
    // A service starts in the system folder.
    void SetCurrentDirectory(std::wstring path);
    static constexpr std::size_t kSleepLimit = 100000;
    std::vector<win::DWORD> Sleeps() const;
    // What happens in the world while a thread pauses: called on the sleeping thread with
    // the pause asked for, after it is recorded.
    void DuringSleep(std::function<void(win::DWORD)> action);
    std::vector<std::wstring> DebugStrings() const;

private:
    FaultPlan& faults_;
    SimThreads& threads_;
    mutable std::mutex lock_;
    std::wstring currentDirectory_ = L"C:\\Windows\\system32";
    std::wstring modulePath_ = L"C:\\Program Files\\TAVO\\TavoTouchpadService.exe";
    std::vector<win::DWORD> sleeps_;
    std::function<void(win::DWORD)> duringSleep_;
    std::vector<std::wstring> debugStrings_;
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Makes this machine the platform of the process.
    void Install();

    FaultPlan faults;
    HandleTable handles;
    // Facets that wait or sleep hold the thread pool, which is declared last but built
    // before any of them runs.
    SimSync sync{faults, handles, threads};
    SimRegistry registry{faults, handles, &sync};
    SimScm scm{faults, handles};
    SimEtw etw{faults, handles};
    SimConsole console;
    SimSystem system{faults, threads};
    SimDevices devices{faults, handles};  // HID collections and device-manager nodes
    SimSessions sessions{faults, handles, registry};  // profiles mount their hives in registry
    SimFiles files{faults, handles, sessions, sync};
    SimProcesses processes{faults, handles, sessions, files};
    SimSecurity security{faults, handles};
    SimRpc rpc{faults, handles};
    SimSetupInf setupInf{faults, handles};
    SimThreads threads{faults, handles};  // last: joins its threads before the facets they use go
};

}  // namespace sim
