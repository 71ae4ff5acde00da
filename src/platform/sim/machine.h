// The simulated Windows machine: every facet of the seam, modelled, with fault injection,
// recorded sleeps and handle accounting. Tests build one per scenario and install it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_devices.h"
#include "platform/sim/sim_etw.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_rpc.h"
#include "platform/sim/sim_scm.h"
#include "platform/sim/sim_security.h"
#include "platform/sim/sim_sessions.h"
#include "platform/sim/sim_setup_inf.h"
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
    explicit SimSystem(FaultPlan& faults) : faults_(faults) {}
    win::DWORD GetModuleFileNameW(wchar_t* buffer, win::DWORD size, win::DWORD* length) override;
    // Records the pause and returns at once: no test waits real time.
    void Sleep(win::DWORD milliseconds) override;
    [[noreturn]] void ExitProcess(win::DWORD code) override;
    void OutputDebugStringW(const wchar_t* text) override;

    void SetModulePath(std::wstring path);
    std::vector<win::DWORD> Sleeps() const;
    std::vector<std::wstring> DebugStrings() const;

private:
    FaultPlan& faults_;
    mutable std::mutex lock_;
    std::wstring modulePath_ = L"C:\\Program Files\\TAVO\\TavoTouchpadService.exe";
    std::vector<win::DWORD> sleeps_;
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
    SimRegistry registry{faults, handles};
    SimScm scm{faults, handles};
    SimEtw etw{faults, handles};
    SimConsole console;
    SimSystem system{faults};
    SimDevices devices{faults, handles};  // HID collections and device-manager nodes
    SimSessions sessions{faults, handles, registry};  // profiles mount their hives in registry
    SimFiles files{faults, handles, sessions};
    SimSecurity security{faults, handles};
    SimRpc rpc{faults, handles};
    SimThreads threads{faults, handles};  // last: joins its threads before the facets they use go
    SimSetupInf setupInf{faults, handles};
};

}  // namespace sim
