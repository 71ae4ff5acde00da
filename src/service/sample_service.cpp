#include "service/sample_service.h"

#include <string>

#include "platform/console.h"
#include "platform/handles.h"
#include "platform/scm.h"
#include "log/trace_log.h"

namespace tavo {

void SetServiceInfo() {
    TraceLog("SetServiceInfo++\n");
    win::UniqueScHandle service;  // released after the manager
    win::UniqueScHandle manager;
    win::DWORD error = win::Scm().OpenSCManagerW(win::SC_MANAGER_ALL_ACCESS, manager.put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("OpenSCManager failed w/err 0x%08lx\n", error);
    } else {
        TraceLog("OpenSCManager Success\n");
        error = win::Scm().OpenServiceW(manager.get(), kServiceName,
                                        win::SERVICE_QUERY_CONFIG | win::SERVICE_CHANGE_CONFIG, service.put());
        if (error != win::ERROR_SUCCESS) {
            TraceLog("OpenService failed w/err 0x%08lx\n", error);
        } else {
            TraceLog("OpenService Success\n");
            error = win::Scm().ChangeServiceDescription(service.get(), kServiceDescription);
            if (error != win::ERROR_SUCCESS) TraceLog("Set Service Description fail. (Error=%d)\n", error);
            error = win::Scm().ChangeServiceStartTrigger(service.get(), win::GUID_DEVCLASS_MOUSE);
            if (error != win::ERROR_SUCCESS) TraceLog("Set Service Trigger Info fail. (Error=%d)\n", error);
        }
    }
    TraceLog("SetServiceInfo--\n");
}

CSampleService::CSampleService() { SetServiceInfo(); }

CSampleService::~CSampleService() = default;

void CSampleService::WriteTraceString(const wchar_t* text, win::BYTE level) {
    if (consoleMode_.load(std::memory_order_relaxed)) {
        std::wstring line = std::to_wstring(level);
        line += L": ";
        line += text;
        line += L"\n";
        win::Con().Write(line);
    }
    CServiceBase::WriteTraceString(text, level);
}

}  // namespace tavo
