// A model of the service control manager: the service database, handles with their
// access rights, deletion that waits for the service to stop and its handles to close,
// and a control dispatcher that runs an in-process service as Windows does: ServiceMain
// on a thread of its own, controls delivered one at a time on the dispatcher's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/scm.h"
#include "platform/sim/faults.h"

namespace sim {

struct ServiceRecord {
    std::wstring name;
    std::wstring displayName;
    std::wstring binaryPath;
    win::DWORD serviceType = 0;
    win::DWORD startType = 0;
    win::DWORD errorControl = 0;
    std::wstring description;
    std::optional<win::GUID> startTrigger;
    win::SERVICE_STATUS status{win::SERVICE_WIN32_OWN_PROCESS, win::SERVICE_STOPPED, 0, 0, 0, 0, 0};
    bool markedForDelete = false;
    // For a service that does not run in this process: how many status queries a stop
    // stays pending before it completes (a service slow to stop).
    int stopPendingQueries = 0;
    int startRequests = 0;
};

struct StatusReport {
    win::SERVICE_STATUS status;
};

struct Control {
    win::DWORD control;
    win::DWORD eventType;
    std::vector<unsigned char> data;
    // Device-interface events reach only a service registered for their class.
    std::optional<win::GUID> interfaceClass;
};

// DEV_BROADCAST_DEVICEINTERFACE_W bytes, as the manager hands them to a service.
std::vector<unsigned char> DeviceInterfaceBroadcast(const win::GUID& interfaceClass, const std::wstring& name);

class SimScm : public win::ServiceManager {
public:
    SimScm(FaultPlan& faults, HandleTable& handles);
    ~SimScm() override;

    win::DWORD OpenSCManagerW(win::DWORD access, win::SC_HANDLE* out) override;
    win::DWORD CreateServiceW(win::SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName,
                              win::DWORD access, win::DWORD serviceType, win::DWORD startType,
                              win::DWORD errorControl, const wchar_t* binaryPath, win::SC_HANDLE* out) override;
    win::DWORD OpenServiceW(win::SC_HANDLE manager, const wchar_t* name, win::DWORD access,
                            win::SC_HANDLE* out) override;
    win::DWORD StartServiceW(win::SC_HANDLE service) override;
    win::DWORD ControlService(win::SC_HANDLE service, win::DWORD control, win::SERVICE_STATUS* status) override;
    win::DWORD QueryServiceStatus(win::SC_HANDLE service, win::SERVICE_STATUS* status) override;
    win::DWORD DeleteService(win::SC_HANDLE service) override;
    win::DWORD CloseServiceHandle(win::SC_HANDLE handle) override;
    win::DWORD ChangeServiceDescription(win::SC_HANDLE service, const wchar_t* description) override;
    win::DWORD ChangeServiceStartTrigger(win::SC_HANDLE service, const win::GUID& subtype) override;
    win::DWORD StartServiceCtrlDispatcherW(const wchar_t* name, win::ServiceMainFn serviceMain) override;
    win::DWORD RegisterServiceCtrlHandlerExW(const wchar_t* name, win::HandlerExFn handler, void* context,
                                             win::SERVICE_STATUS_HANDLE* out) override;
    win::DWORD SetServiceStatus(win::SERVICE_STATUS_HANDLE handle, const win::SERVICE_STATUS& status) override;
    win::DWORD RegisterDeviceInterfaceNotification(win::SERVICE_STATUS_HANDLE handle, const win::GUID& interfaceClass,
                                                   win::HDEVNOTIFY* out) override;
    win::DWORD UnregisterDeviceNotification(win::HDEVNOTIFY handle) override;

    // ---- set-up and inspection for tests ----
    // The process was started by the manager as this service: the dispatcher connects.
    void LaunchAs(const std::wstring& serviceName);
    // Queues a control for the in-process service; delivered once the service has left
    // START_PENDING (or at once, with DeliverDuringStart).
    void QueueControl(win::DWORD control, win::DWORD eventType, std::vector<unsigned char> data = {});
    void DeliverDuringStart(bool on);
    // A device-interface arrival or removal, delivered only if, when its turn comes, the
    // service has registered for that class.
    void QueueDeviceInterfaceEvent(win::DWORD dbtEvent, const win::GUID& interfaceClass, const std::wstring& name);
    bool HasDeviceRegistration(const win::GUID& interfaceClass) const;

    std::optional<ServiceRecord> Service(const std::wstring& name) const;
    void AddService(ServiceRecord record);
    std::vector<win::SERVICE_STATUS> Reports() const;
    int OpenHandles() const;

private:
    struct Handle {
        bool isManager;
        win::DWORD access;
        std::wstring service;
    };
    ServiceRecord* Find(const std::wstring& name);
    const Handle* Lookup(win::SC_HANDLE h) const;
    void MaybeDelete(const std::wstring& name);
    bool Dispatched(const std::wstring& name) const;
    std::uint64_t DeviceHandle() const;

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::wstring, ServiceRecord> services_;  // by upper-case name
    std::map<std::uint64_t, Handle> open_;
    std::optional<std::wstring> launchedAs_;
    // In-process service state.
    std::wstring dispatchedName_;
    win::HandlerExFn handler_ = nullptr;
    void* handlerContext_ = nullptr;
    std::uint64_t statusHandle_ = 0;
    bool dispatcherRunning_ = false;
    bool deliverDuringStart_ = false;
    std::deque<Control> controls_;
    int controlsInFlight_ = 0;
    std::vector<win::SERVICE_STATUS> reports_;
    std::map<std::uint64_t, win::GUID> deviceRegistrations_;
};

}  // namespace sim
