#include "platform/win32/win32_platform.h"

#include "platform/platform.h"
#include "platform/win32/win32_common.h"

namespace win32 {

win::Registry& Registry();
win::ServiceManager& ServiceManager();
win::EventTracing& EventTracing();
win::Console& Console();
win::System& System();
win::HidDevices& HidDevices();
win::DeviceManager& DeviceManager();
win::Sessions& Sessions();
win::Files& Files();
win::Threads& Threads();
win::Security& Security();
win::RpcRuntime& RpcRuntime();
win::SetupInf& SetupInf();
win::Synchronization& Synchronization();
win::Processes& Processes();

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void InstallPlatform() {
    win::Platform p;
    p.registry = &Registry();
    p.scm = &ServiceManager();
    p.etw = &EventTracing();
    p.console = &Console();
    p.system = &System();
    p.hid = &HidDevices();
    p.devices = &DeviceManager();
    p.sessions = &Sessions();
    p.files = &Files();
    p.threads = &Threads();
    p.security = &Security();
    p.rpc = &RpcRuntime();
    p.setupInf = &SetupInf();
    p.sync = &Synchronization();
    p.processes = &Processes();
    win::SetPlatform(p);
}

}  // namespace win32
