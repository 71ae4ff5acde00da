// Service control manager facet: the advapi32 service functions, the control dispatcher and
// device-interface notifications delivered to a service's control handler.
#pragma once

#include "platform/platform.h"

namespace win {

using ServiceMainFn = void (*)(DWORD argc, wchar_t** argv);
// HandlerEx: control code, event type, event data (may be null), context.
using HandlerExFn = DWORD (*)(DWORD control, DWORD eventType, void* eventData, void* context);

class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    virtual DWORD OpenSCManagerW(DWORD access, SC_HANDLE* out) = 0;
    // Own-process service under LocalSystem with no load-order group, tag or dependencies.
    virtual DWORD CreateServiceW(SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName, DWORD access,
                                 DWORD serviceType, DWORD startType, DWORD errorControl, const wchar_t* binaryPath,
                                 SC_HANDLE* out) = 0;
    virtual DWORD OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access, SC_HANDLE* out) = 0;
    virtual DWORD StartServiceW(SC_HANDLE service) = 0;
    // status is written on success and, as in Windows, also for some failures.
    virtual DWORD ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) = 0;
    virtual DWORD QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) = 0;
    virtual DWORD DeleteService(SC_HANDLE service) = 0;
    virtual DWORD CloseServiceHandle(SC_HANDLE handle) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_DESCRIPTION.
    virtual DWORD ChangeServiceDescription(SC_HANDLE service, const wchar_t* description) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_TRIGGER_INFO: one device-interface-arrival
    // trigger that starts the service, with the given subtype and no data items.
    virtual DWORD ChangeServiceStartTrigger(SC_HANDLE service, const GUID& subtype) = 0;

    // Blocks until the service in this process has stopped.
    virtual DWORD StartServiceCtrlDispatcherW(const wchar_t* name, ServiceMainFn serviceMain) = 0;
    virtual DWORD RegisterServiceCtrlHandlerExW(const wchar_t* name, HandlerExFn handler, void* context,
                                                SERVICE_STATUS_HANDLE* out) = 0;
    virtual DWORD SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) = 0;
    // RegisterDeviceNotificationW(handle, DEV_BROADCAST_DEVICEINTERFACE{classGuid},
    // DEVICE_NOTIFY_SERVICE_HANDLE): arrivals then reach the handler as SERVICE_CONTROL_DEVICEEVENT.
    virtual DWORD RegisterDeviceInterfaceNotification(SERVICE_STATUS_HANDLE handle, const GUID& interfaceClass,
                                                      HDEVNOTIFY* out) = 0;
    virtual DWORD UnregisterDeviceNotification(HDEVNOTIFY handle) = 0;
};

inline ServiceManager& Scm() { return *P().scm; }

}  // namespace win
