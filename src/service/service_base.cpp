#include "service/service_base.h"

#include <cstring>

#include "common/process_state.h"
#include "platform/etw.h"
#include "platform/scm.h"
#include "log/trace_log.h"
#include "service/win32_error.h"

namespace tavo {

namespace {

struct HostState {
    std::atomic<CServiceBase*> serviceInstance{nullptr};
    std::atomic<win::DWORD> checkPointCounter{1};
    std::atomic<win::DWORD> lastSessionEvent{255};
};
ProcessWide<HostState> host;
std::atomic<win::DWORD>& checkPointCounter = host->checkPointCounter;
std::atomic<win::DWORD>& lastSessionEvent = host->lastSessionEvent;

win::DWORD ReadDword(const unsigned char* p) {
    win::DWORD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

std::atomic<CServiceBase*>& serviceInstance = host->serviceInstance;

const char* SessionEventName(win::DWORD eventType) {
    static const char* const kNames[] = {
        "WTS_CONSOLE_CONNECT",  "WTS_CONSOLE_DISCONNECT", "WTS_REMOTE_CONNECT",         "WTS_REMOTE_DISCONNECT",
        "WTS_SESSION_LOGON",    "WTS_SESSION_LOGOFF",     "WTS_SESSION_LOCK",           "WTS_SESSION_UNLOCK",
        "WTS_SESSION_REMOTE_CONTROL", "WTS_SESSION_CREATE", "WTS_SESSION_TERMINATE"};
    if (eventType >= 1 && eventType <= 11) return kNames[eventType - 1];
    return "Unknow SessionID";
}

CServiceBase::CServiceBase() : name_(kServiceName) {
    traceTarget = this;
    status_ = {win::SERVICE_WIN32_OWN_PROCESS, win::SERVICE_START_PENDING, kControlsAccepted, 0, 0, 0, 0};
    EnableTracelog();
    win::REGHANDLE handle = 0;
    win::ULONG result = win::Etw().EventRegister(kTraceProviderGuid, &handle);
    if (result != win::ERROR_SUCCESS) {
        TraceLog("Provider not registered. EventRegister failed with %d\n", result);
    } else {
        providerHandle_ = handle;
        TraceLog("Register Event Success\n");
    }
}

CServiceBase::~CServiceBase() {
    deviceNotify_.reset();
    win::REGHANDLE handle = providerHandle_.exchange(0);
    if (handle != 0) win::Etw().EventUnregister(handle);
    DisableTracelog();
    RemoveTraceTarget(this);
}

void CServiceBase::WriteTraceString(const wchar_t* text, win::BYTE level) {
    win::REGHANDLE handle = providerHandle_.load(std::memory_order_acquire);
    if (handle != 0) win::Etw().EventWriteString(handle, level, 0, text);
}

void CServiceBase::OnStart(win::DWORD, wchar_t**) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}
void CServiceBase::OnLogon() {}
void CServiceBase::OnLogoff() {}
void CServiceBase::OnResume() {}
void CServiceBase::OnPlugin() {}

win::DWORD CServiceBase::currentState() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return status_.dwCurrentState;
}

void CServiceBase::ReportStatus(win::DWORD state, win::DWORD exitCode) {
    win::SERVICE_STATUS copy;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        status_.dwCurrentState = state;
        status_.dwWin32ExitCode = exitCode;
        status_.dwWaitHint = 0;
        status_.dwCheckPoint =
            (state == win::SERVICE_RUNNING || state == win::SERVICE_STOPPED) ? 0 : checkPointCounter.fetch_add(1);
        copy = status_;
    }
    win::Scm().SetServiceStatus(statusHandle_.load(), copy);
}

void CServiceBase::ServiceMain(win::DWORD argc, wchar_t** argv) {
    CServiceBase* service = serviceInstance.load();
    if (service == nullptr) return;
    win::SERVICE_STATUS_HANDLE handle{};
    win::DWORD error = win::Scm().RegisterServiceCtrlHandlerExW(service->name_, &ServiceControlHandler, argv, &handle);
    if (error != win::ERROR_SUCCESS) {
        // Without a status handle nothing can be reported; the manager times the start out.
        TraceLog("ServiceMain::RegisterServiceCtrlHandlerEx failed w/err 0x%08lx\n", error);
        return;
    }
    service->statusHandle_ = handle;
    // A touchpad that arrives later must get its settings: ask for mouse-interface arrivals.
    error = win::Scm().RegisterDeviceInterfaceNotification(handle, win::GUID_CLASS_MOUSE, service->deviceNotify_.put());
    if (error != win::ERROR_SUCCESS)
        TraceLog("ServiceMain::RegisterDeviceNotification failed w/err 0x%08lx\n", error);
    service->Start(argc, argv);
}

void CServiceBase::Start(win::DWORD argc, wchar_t** argv) {
    TraceLog("Service trying to start.\n");
    try {
        ReportStatus(win::SERVICE_START_PENDING, 0);
        OnStart(argc, argv);
        ReportStatus(win::SERVICE_RUNNING, 0);
    } catch (const Win32Error& e) {
        TraceLog("Service Start Fail, Err=%d", e.code);
        ReportStatus(win::SERVICE_STOPPED, e.code);
    } catch (...) {
        TraceLog("Service failed to start.\n");
        ReportStatus(win::SERVICE_STOPPED, 0);
    }
    {
        std::lock_guard<std::mutex> lock(startLock_);
        startDone_ = true;
    }
    startReported_.notify_all();
}

void CServiceBase::WaitUntilStartReported() {
    std::unique_lock<std::mutex> lock(startLock_);
    startReported_.wait(lock, [this] { return startDone_; });
}

void CServiceBase::Stop() { StopAs(false); }

void CServiceBase::StopSelf() { StopAs(true); }

void CServiceBase::StopAs(bool selfInitiated) {
    win::DWORD original = currentState();
    if (original == win::SERVICE_STOPPED || stopping_.exchange(true)) return;
    // Only the stop that won the race above says why it runs.
    selfInitiatedStop_ = selfInitiated;
    try {
        ReportStatus(win::SERVICE_STOP_PENDING, 0);
        OnStop();
        ReportStatus(win::SERVICE_STOPPED, 0);
    } catch (const Win32Error& e) {
        TraceLog("Service Stop Fail, Error=%d\n", e.code);
        ReportStatus(original, 0);
        stopping_ = false;
    } catch (...) {
        TraceLog("Service failed to stop.\n");
        ReportStatus(original, 0);
        stopping_ = false;
    }
}

void CServiceBase::Pause() {
    try {
        ReportStatus(win::SERVICE_PAUSE_PENDING, 0);
        OnPause();
        ReportStatus(win::SERVICE_PAUSED, 0);
    } catch (const Win32Error& e) {
        TraceLog("Service Pause Fail, Error=%d\n", e.code);
        ReportStatus(win::SERVICE_RUNNING, 0);
    } catch (...) {
        TraceLog("Service failed to pause.\n");
        ReportStatus(win::SERVICE_RUNNING, 0);
    }
}

void CServiceBase::Continue() {
    try {
        ReportStatus(win::SERVICE_CONTINUE_PENDING, 0);
        OnContinue();
        ReportStatus(win::SERVICE_RUNNING, 0);
    } catch (const Win32Error& e) {
        TraceLog("Service Continue Fail, Error=%d\n", e.code);
        ReportStatus(win::SERVICE_PAUSED, 0);
    } catch (...) {
        TraceLog("Service failed to resume.\n");
        ReportStatus(win::SERVICE_PAUSED, 0);
    }
}

void CServiceBase::Shutdown() {
    try {
        OnShutdown();
        ReportStatus(win::SERVICE_STOPPED, 0);
    } catch (const Win32Error& e) {
        TraceLog("Service Shutdown Fail, Error=%d\n", e.code);
    } catch (...) {
        TraceLog("Service failed to shut down.\n");
    }
}

win::DWORD CServiceBase::ServiceControlHandler(win::DWORD control, win::DWORD eventType, void* eventData, void*) {
    CServiceBase* service = serviceInstance.load();
    if (service == nullptr) return win::NO_ERROR;
    // Nothing raised here may reach the system's dispatcher: contain it and log it.
    try {
        switch (control) {
            case win::SERVICE_CONTROL_STOP: service->Stop(); break;
            case win::SERVICE_CONTROL_PAUSE: service->Pause(); break;
            case win::SERVICE_CONTROL_CONTINUE: service->Continue(); break;
            case win::SERVICE_CONTROL_SHUTDOWN: service->Shutdown(); break;
            case win::SERVICE_CONTROL_DEVICEEVENT: service->DoDeviceChange(eventType, eventData); break;
            case win::SERVICE_CONTROL_POWEREVENT: service->DoPowerChange(eventType); break;
            case win::SERVICE_CONTROL_SESSIONCHANGE: service->DoSessionChange(eventType); break;
            default: break;
        }
    } catch (const Win32Error& e) {
        TraceLog("ServiceControlHandler:: control %lu failed, Err=%d\n", control, e.code);
    } catch (...) {
        TraceLog("ServiceControlHandler:: control %lu failed\n", control);
    }
    return win::NO_ERROR;
}

void CServiceBase::DoSessionChange(win::DWORD eventType) {
    const char* name = SessionEventName(eventType);
    TraceLog("DoSessionChange:: %s\n", name);
    // The bookkeeping must follow every event even when the handler fails.
    struct Remember {
        win::DWORD type;
        ~Remember() { lastSessionEvent = type; }
    } remember{eventType};
    if (eventType == win::WTS_CONSOLE_DISCONNECT || eventType == win::WTS_SESSION_LOGOFF) {
        if (lastSessionEvent == win::WTS_SESSION_LOGOFF)
            TraceLog("Now is %s, Last is %s, Donot enter OnLogoff()", name, "WTS_SESSION_LOGOFF");
        else
            OnLogoff();
    }
    if (eventType == win::WTS_SESSION_LOGON || eventType == win::WTS_SESSION_UNLOCK) {
        if (lastSessionEvent == win::WTS_SESSION_LOGON)
            TraceLog("Now is %s, Last is %s, Donot enter OnLogon()", name, "WTS_SESSION_LOGON");
        else
            OnLogon();
    }
}

void CServiceBase::DoPowerChange(win::DWORD eventType) {
    if (eventType == win::PBT_APMRESUMESUSPEND) {
        TraceLog("DoPowerChange:: PBT_APMRESUMESUSPEND (0x0007)\n");
        OnResume();
    } else if (eventType == win::PBT_APMRESUMEAUTOMATIC) {
        TraceLog("DoPowerChange:: PBT_APMRESUMEAUTOMATIC (0x0012)\n");
    } else {
        TraceLog("DoPowerChange:: dwEventType = 0x%.08X\n", eventType);
    }
}

void CServiceBase::DoDeviceChange(win::DWORD eventType, const void* eventData) {
    if (eventType == win::DBT_DEVICEARRIVAL) {
        TraceLog("DoDeviceChange:: Device plug-in\n");
    } else if (eventType == win::DBT_DEVICEREMOVECOMPLETE) {
        TraceLog("DoDeviceChange:: Device Remove\n");
    } else {
        TraceLog("DoPowerChange:: dwEventType = 0x%.08X\n", eventType);
        return;
    }
    const auto* data = static_cast<const unsigned char*>(eventData);
    // The header's own size bounds every read: fields past it do not exist.
    win::DWORD size = data ? ReadDword(data + win::DBCH_SIZE_OFFSET) : 0;
    if (data != nullptr && size >= win::DBCH_HANDLE_OFFSET + 8) {
        std::uint64_t handle;
        std::memcpy(&handle, data + win::DBCH_HANDLE_OFFSET, sizeof handle);
        if (handle == ~std::uint64_t{0}) {
            TraceLog("dbch_handle is INVALID_HANDLE_VALUE\n");
            return;
        }
    }
    if (data == nullptr || size < win::DBCH_HEADER_SIZE ||
        ReadDword(data + win::DBCH_DEVICETYPE_OFFSET) != win::DBT_DEVTYP_DEVICEINTERFACE) {
        TraceLog("dbch_devicetype is NOT DBT_DEVTYP_DEVICEINTERFACE\n");
        return;
    }
    win::GUID cls{};
    if (size >= win::DBCC_CLASSGUID_OFFSET + sizeof cls)
        std::memcpy(&cls, data + win::DBCC_CLASSGUID_OFFSET, sizeof cls);
    if (size < win::DBCC_NAME_OFFSET || !(cls == win::GUID_CLASS_MOUSE)) {
        TraceLog("dbcc_classguid is NOT GUID_CLASS_MOUSE\n");
        return;
    }
    // The name is UTF-16 up to its terminator or the end of the structure, whichever is
    // first, and is cut to what the 512-byte message buffer leaves after the prefix.
    wchar_t nameBuf[498];
    std::size_t chars = (size - win::DBCC_NAME_OFFSET) / 2;
    if (chars > 497) chars = 497;
    std::size_t n = 0;
    for (; n < chars; ++n) {
        std::uint16_t c;
        std::memcpy(&c, data + win::DBCC_NAME_OFFSET + 2 * n, sizeof c);
        if (c == 0) break;
        nameBuf[n] = static_cast<wchar_t>(c);
    }
    nameBuf[n] = L'\0';
    TraceLog("Device Name : %ws", nameBuf);
    if (eventType == win::DBT_DEVICEARRIVAL) OnPlugin();
}

}  // namespace tavo
