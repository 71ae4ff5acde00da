#include "platform/scm.h"
#include "platform/win32/win32_common.h"

#include <dbt.h>

namespace win32 {
namespace {

inline SC_HANDLE S(win::SC_HANDLE h) { return Raw<SC_HANDLE__>(h); }

// mingw-w64's winsvc.h lacks the trigger structures; these are the documented layouts.
constexpr DWORD kTriggerActionServiceStart = 1;
struct TriggerDataItem {
    DWORD dwDataType;
    DWORD cbData;
    PBYTE pData;
};
struct Trigger {
    DWORD dwTriggerType;
    DWORD dwAction;
    ::GUID* pTriggerSubtype;
    DWORD cDataItems;
    TriggerDataItem* pDataItems;
};
struct TriggerInfo {
    DWORD cTriggers;
    Trigger* pTriggers;
    PBYTE pReserved;
};

// The dispatcher calls back with the WINAPI convention; the core's entry points are
// plain functions, so each is reached through a trampoline.
win::ServiceMainFn g_serviceMain = nullptr;
win::HandlerExFn g_handler = nullptr;

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) { g_serviceMain(argc, argv); }
DWORD WINAPI HandlerTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    return g_handler(control, eventType, eventData, context);
}

class Win32Scm : public win::ServiceManager {
public:
    win::DWORD OpenSCManagerW(win::DWORD access, win::SC_HANDLE* out) override {
        SC_HANDLE h = ::OpenSCManagerW(nullptr, nullptr, access);
        if (!h) return ::GetLastError();
        *out = Wrap<win::SC_HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD CreateServiceW(win::SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName,
                              win::DWORD access, win::DWORD serviceType, win::DWORD startType, win::DWORD errorControl,
                              const wchar_t* binaryPath, win::SC_HANDLE* out) override {
        SC_HANDLE h = ::CreateServiceW(S(manager), name, displayName, access, serviceType, startType, errorControl,
                                       binaryPath, nullptr, nullptr, L"\0", nullptr, nullptr);
        if (!h) return ::GetLastError();
        *out = Wrap<win::SC_HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD OpenServiceW(win::SC_HANDLE manager, const wchar_t* name, win::DWORD access,
                            win::SC_HANDLE* out) override {
        SC_HANDLE h = ::OpenServiceW(S(manager), name, access);
        if (!h) return ::GetLastError();
        *out = Wrap<win::SC_HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD StartServiceW(win::SC_HANDLE service) override {
        return LastErrorOr(::StartServiceW(S(service), 0, nullptr));
    }
    win::DWORD ControlService(win::SC_HANDLE service, win::DWORD control, win::SERVICE_STATUS* status) override {
        ::SERVICE_STATUS st{};
        BOOL ok = ::ControlService(S(service), control, &st);
        DWORD error = LastErrorOr(ok);
        if (status) std::memcpy(status, &st, sizeof st);
        return error;
    }
    win::DWORD QueryServiceStatus(win::SC_HANDLE service, win::SERVICE_STATUS* status) override {
        ::SERVICE_STATUS st{};
        if (!::QueryServiceStatus(S(service), &st)) return ::GetLastError();
        std::memcpy(status, &st, sizeof st);
        return ERROR_SUCCESS;
    }
    win::DWORD DeleteService(win::SC_HANDLE service) override { return LastErrorOr(::DeleteService(S(service))); }
    win::DWORD CloseServiceHandle(win::SC_HANDLE handle) override {
        return LastErrorOr(::CloseServiceHandle(S(handle)));
    }
    win::DWORD ChangeServiceDescription(win::SC_HANDLE service, const wchar_t* description) override {
        SERVICE_DESCRIPTIONW d{const_cast<LPWSTR>(description)};
        return LastErrorOr(::ChangeServiceConfig2W(S(service), SERVICE_CONFIG_DESCRIPTION, &d));
    }
    win::DWORD ChangeServiceStartTrigger(win::SC_HANDLE service, const win::GUID& subtype) override {
        ::GUID g = ToGuid(subtype);
        Trigger trigger{SERVICE_TRIGGER_TYPE_DEVICE_INTERFACE_ARRIVAL, kTriggerActionServiceStart,
                        &g, 0, nullptr};
        TriggerInfo info{1, &trigger, nullptr};
        return LastErrorOr(::ChangeServiceConfig2W(S(service), SERVICE_CONFIG_TRIGGER_INFO, &info));
    }
    win::DWORD StartServiceCtrlDispatcherW(const wchar_t* name, win::ServiceMainFn serviceMain) override {
        g_serviceMain = serviceMain;
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(name), &ServiceMainTrampoline}, {nullptr, nullptr}};
        return LastErrorOr(::StartServiceCtrlDispatcherW(table));
    }
    win::DWORD RegisterServiceCtrlHandlerExW(const wchar_t* name, win::HandlerExFn handler, void* context,
                                             win::SERVICE_STATUS_HANDLE* out) override {
        g_handler = handler;
        SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerExW(name, &HandlerTrampoline, context);
        if (!h) return ::GetLastError();
        *out = Wrap<win::SERVICE_STATUS_HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD SetServiceStatus(win::SERVICE_STATUS_HANDLE handle, const win::SERVICE_STATUS& status) override {
        ::SERVICE_STATUS st;
        std::memcpy(&st, &status, sizeof st);
        return LastErrorOr(::SetServiceStatus(Raw<SERVICE_STATUS_HANDLE__>(handle), &st));
    }
    win::DWORD RegisterDeviceInterfaceNotification(win::SERVICE_STATUS_HANDLE handle, const win::GUID& interfaceClass,
                                                   win::HDEVNOTIFY* out) override {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = ToGuid(interfaceClass);
        HDEVNOTIFY h = ::RegisterDeviceNotificationW(Raw<void>(handle), &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
        if (!h) return ::GetLastError();
        *out = Wrap<win::HDEVNOTIFY>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD UnregisterDeviceNotification(win::HDEVNOTIFY handle) override {
        return LastErrorOr(::UnregisterDeviceNotification(Raw<void>(handle)));
    }
};

static_assert(sizeof(::SERVICE_STATUS) == sizeof(win::SERVICE_STATUS));

}  // namespace

win::ServiceManager& ServiceManager() {
    static Win32Scm instance;
    return instance;
}

}  // namespace win32
