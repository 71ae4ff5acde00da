#include "platform/sim/sim_scm.h"

#include <chrono>
#include <cstring>
#include <cwctype>
#include <thread>

namespace sim {

namespace {

std::wstring Upper(const wchar_t* s) {
    std::wstring out(s ? s : L"");
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

// An idle in-process service with nothing queued would wait forever, as on Windows; a
// test that forgot its stop control fails after this long instead of hanging.
constexpr auto kIdleLimit = std::chrono::seconds(30);

}  // namespace

SimScm::SimScm(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}
SimScm::~SimScm() = default;

ServiceRecord* SimScm::Find(const std::wstring& name) {
    auto it = services_.find(Upper(name.c_str()));
    return it == services_.end() ? nullptr : &it->second;
}

const SimScm::Handle* SimScm::Lookup(win::SC_HANDLE h) const {
    auto it = open_.find(static_cast<std::uint64_t>(h));
    return it == open_.end() ? nullptr : &it->second;
}

bool SimScm::Dispatched(const std::wstring& name) const {
    return dispatcherRunning_ && Upper(dispatchedName_.c_str()) == Upper(name.c_str());
}

void SimScm::MaybeDelete(const std::wstring& name) {
    ServiceRecord* r = Find(name);
    if (!r || !r->markedForDelete || r->status.dwCurrentState != win::SERVICE_STOPPED) return;
    for (const auto& [h, handle] : open_)
        if (!handle.isManager && Upper(handle.service.c_str()) == Upper(name.c_str())) return;
    services_.erase(Upper(name.c_str()));
}

win::DWORD SimScm::OpenSCManagerW(win::DWORD access, win::SC_HANDLE* out) {
    if (auto e = faults_.Check("OpenSCManagerW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    std::uint64_t h = handles_.Open("SC_HANDLE");
    open_[h] = Handle{true, access, L""};
    *out = static_cast<win::SC_HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::CreateServiceW(win::SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName,
                                  win::DWORD access, win::DWORD serviceType, win::DWORD startType,
                                  win::DWORD errorControl, const wchar_t* binaryPath, win::SC_HANDLE* out) {
    if (auto e = faults_.Check("CreateServiceW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* m = Lookup(manager);
    if (!m || !m->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(m->access & win::SC_MANAGER_CREATE_SERVICE)) return win::ERROR_ACCESS_DENIED;
    if (ServiceRecord* existing = Find(name))
        return existing->markedForDelete ? win::ERROR_SERVICE_MARKED_FOR_DELETE : win::ERROR_SERVICE_EXISTS;
    ServiceRecord r;
    r.name = name;
    r.displayName = displayName ? displayName : L"";
    r.binaryPath = binaryPath ? binaryPath : L"";
    r.serviceType = serviceType;
    r.startType = startType;
    r.errorControl = errorControl;
    r.status.dwServiceType = serviceType;
    services_[Upper(name)] = r;
    std::uint64_t h = handles_.Open("SC_HANDLE");
    open_[h] = Handle{false, access, name};
    *out = static_cast<win::SC_HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::OpenServiceW(win::SC_HANDLE manager, const wchar_t* name, win::DWORD access, win::SC_HANDLE* out) {
    if (auto e = faults_.Check("OpenServiceW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* m = Lookup(manager);
    if (!m || !m->isManager) return win::ERROR_INVALID_HANDLE;
    if (!Find(name)) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    std::uint64_t h = handles_.Open("SC_HANDLE");
    open_[h] = Handle{false, access, name};
    *out = static_cast<win::SC_HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::StartServiceW(win::SC_HANDLE service) {
    if (auto e = faults_.Check("StartServiceW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(h->access & win::SERVICE_START)) return win::ERROR_ACCESS_DENIED;
    ServiceRecord* r = Find(h->service);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    if (r->markedForDelete) return win::ERROR_SERVICE_MARKED_FOR_DELETE;
    if (r->status.dwCurrentState != win::SERVICE_STOPPED) return win::ERROR_SERVICE_ALREADY_RUNNING;
    ++r->startRequests;
    // The service's own process is not part of this machine: it comes up at once.
    r->status.dwCurrentState = win::SERVICE_RUNNING;
    r->status.dwControlsAccepted = win::SERVICE_ACCEPT_STOP;
    r->status.dwWin32ExitCode = 0;
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::ControlService(win::SC_HANDLE service, win::DWORD control, win::SERVICE_STATUS* status) {
    if (auto e = faults_.Check("ControlService")) return e;
    std::unique_lock<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (control == win::SERVICE_CONTROL_STOP && !(h->access & win::SERVICE_STOP)) return win::ERROR_ACCESS_DENIED;
    std::wstring name = h->service;
    ServiceRecord* r = Find(name);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    win::DWORD state = r->status.dwCurrentState;
    if (state == win::SERVICE_STOPPED) return win::ERROR_SERVICE_NOT_ACTIVE;
    if (state == win::SERVICE_START_PENDING || state == win::SERVICE_STOP_PENDING)
        return win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    if (Dispatched(name)) {
        controls_.push_back(Control{control, 0, {}, std::nullopt});
        changed_.notify_all();
        changed_.wait(lock, [&] { return controls_.empty() && controlsInFlight_ == 0; });
        r = Find(name);
        if (status && r) *status = r->status;
        return win::ERROR_SUCCESS;
    }
    if (control == win::SERVICE_CONTROL_STOP)
        r->status.dwCurrentState = r->stopPendingQueries > 0 ? win::SERVICE_STOP_PENDING : win::SERVICE_STOPPED;
    if (status) *status = r->status;
    MaybeDelete(name);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::QueryServiceStatus(win::SC_HANDLE service, win::SERVICE_STATUS* status) {
    if (auto e = faults_.Check("QueryServiceStatus")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(h->access & win::SERVICE_QUERY_STATUS)) return win::ERROR_ACCESS_DENIED;
    ServiceRecord* r = Find(h->service);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    *status = r->status;
    if (r->status.dwCurrentState == win::SERVICE_STOP_PENDING && !Dispatched(r->name) && --r->stopPendingQueries <= 0)
        r->status.dwCurrentState = win::SERVICE_STOPPED;
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::DeleteService(win::SC_HANDLE service) {
    if (auto e = faults_.Check("DeleteService")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(h->access & win::DELETE)) return win::ERROR_ACCESS_DENIED;
    ServiceRecord* r = Find(h->service);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    if (r->markedForDelete) return win::ERROR_SERVICE_MARKED_FOR_DELETE;
    r->markedForDelete = true;
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::CloseServiceHandle(win::SC_HANDLE handle) {
    if (auto e = faults_.Check("CloseServiceHandle")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(handle));
    if (it == open_.end()) return win::ERROR_INVALID_HANDLE;
    std::wstring name = it->second.service;
    bool isManager = it->second.isManager;
    open_.erase(it);
    handles_.Close(static_cast<std::uint64_t>(handle), "SC_HANDLE");
    if (!isManager) MaybeDelete(name);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::ChangeServiceDescription(win::SC_HANDLE service, const wchar_t* description) {
    if (auto e = faults_.Check("ChangeServiceConfig2W")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(h->access & win::SERVICE_CHANGE_CONFIG)) return win::ERROR_ACCESS_DENIED;
    ServiceRecord* r = Find(h->service);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    if (r->markedForDelete) return win::ERROR_SERVICE_MARKED_FOR_DELETE;
    r->description = description ? description : L"";
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::ChangeServiceStartTrigger(win::SC_HANDLE service, const win::GUID& subtype) {
    if (auto e = faults_.Check("ChangeServiceConfig2W")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Handle* h = Lookup(service);
    if (!h || h->isManager) return win::ERROR_INVALID_HANDLE;
    if (!(h->access & win::SERVICE_CHANGE_CONFIG)) return win::ERROR_ACCESS_DENIED;
    ServiceRecord* r = Find(h->service);
    if (!r) return win::ERROR_SERVICE_DOES_NOT_EXIST;
    if (r->markedForDelete) return win::ERROR_SERVICE_MARKED_FOR_DELETE;
    r->startTrigger = subtype;
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::StartServiceCtrlDispatcherW(const wchar_t* name, win::ServiceMainFn serviceMain) {
    if (auto e = faults_.Check("StartServiceCtrlDispatcherW")) return e;
    std::unique_lock<std::mutex> lock(lock_);
    if (!launchedAs_ || Upper(launchedAs_->c_str()) != Upper(name)) return win::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
    if (dispatcherRunning_) return win::ERROR_SERVICE_ALREADY_RUNNING;
    dispatcherRunning_ = true;
    dispatchedName_ = name;
    if (ServiceRecord* r = Find(name)) r->status.dwCurrentState = win::SERVICE_START_PENDING;
    bool mainReturned = false;
    std::wstring argv0 = name;
    std::thread mainThread([&] {
        wchar_t* argv[] = {argv0.data(), nullptr};
        serviceMain(1, argv);
        std::lock_guard<std::mutex> l(lock_);
        mainReturned = true;
        changed_.notify_all();
    });
    auto stopped = [&] {
        ServiceRecord* r = Find(dispatchedName_);
        return !reports_.empty() && r && r->status.dwCurrentState == win::SERVICE_STOPPED;
    };
    auto deliverable = [&] {
        if (handler_ == nullptr || controls_.empty()) return false;
        ServiceRecord* r = Find(dispatchedName_);
        return deliverDuringStart_ || !r || r->status.dwCurrentState != win::SERVICE_START_PENDING;
    };
    win::DWORD result = win::ERROR_SUCCESS;
    for (;;) {
        bool woke = changed_.wait_for(lock, kIdleLimit, [&] {
            return stopped() || deliverable() || (mainReturned && handler_ == nullptr);
        });
        if (!woke) {
            result = win::ERROR_SERVICE_REQUEST_TIMEOUT;
            break;
        }
        if (stopped() || (mainReturned && handler_ == nullptr)) break;
        Control c = std::move(controls_.front());
        controls_.pop_front();
        if (c.interfaceClass) {
            bool registered = false;
            for (const auto& [h, g] : deviceRegistrations_) registered = registered || g == *c.interfaceClass;
            if (!registered) continue;
        }
        ++controlsInFlight_;
        win::HandlerExFn handler = handler_;
        void* context = handlerContext_;
        lock.unlock();
        handler(c.control, c.eventType, c.data.empty() ? nullptr : c.data.data(), context);
        lock.lock();
        --controlsInFlight_;
        changed_.notify_all();
    }
    lock.unlock();
    mainThread.join();
    lock.lock();
    dispatcherRunning_ = false;
    handler_ = nullptr;
    // Controls nobody will handle any more are answered as Windows would: not at all.
    controls_.clear();
    changed_.notify_all();
    if (ServiceRecord* r = Find(dispatchedName_)) {
        if (r->status.dwCurrentState != win::SERVICE_STOPPED) r->status.dwCurrentState = win::SERVICE_STOPPED;
        MaybeDelete(dispatchedName_);
    }
    return result;
}

win::DWORD SimScm::RegisterServiceCtrlHandlerExW(const wchar_t* name, win::HandlerExFn handler, void* context,
                                                 win::SERVICE_STATUS_HANDLE* out) {
    if (auto e = faults_.Check("RegisterServiceCtrlHandlerExW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (!dispatcherRunning_ || Upper(name) != Upper(dispatchedName_.c_str())) return win::ERROR_SERVICE_NOT_IN_EXE;
    handler_ = handler;
    handlerContext_ = context;
    if (statusHandle_ == 0) statusHandle_ = 0x5100;
    *out = static_cast<win::SERVICE_STATUS_HANDLE>(statusHandle_);
    changed_.notify_all();
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::SetServiceStatus(win::SERVICE_STATUS_HANDLE handle, const win::SERVICE_STATUS& status) {
    if (auto e = faults_.Check("SetServiceStatus")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (statusHandle_ == 0 || static_cast<std::uint64_t>(handle) != statusHandle_) return win::ERROR_INVALID_HANDLE;
    reports_.push_back(status);
    if (ServiceRecord* r = Find(dispatchedName_)) r->status = status;
    changed_.notify_all();
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::RegisterDeviceInterfaceNotification(win::SERVICE_STATUS_HANDLE handle,
                                                       const win::GUID& interfaceClass, win::HDEVNOTIFY* out) {
    if (auto e = faults_.Check("RegisterDeviceNotificationW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (statusHandle_ == 0 || static_cast<std::uint64_t>(handle) != statusHandle_) return win::ERROR_INVALID_HANDLE;
    std::uint64_t h = handles_.Open("HDEVNOTIFY");
    deviceRegistrations_[h] = interfaceClass;
    *out = static_cast<win::HDEVNOTIFY>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimScm::UnregisterDeviceNotification(win::HDEVNOTIFY handle) {
    if (auto e = faults_.Check("UnregisterDeviceNotification")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = deviceRegistrations_.find(static_cast<std::uint64_t>(handle));
    if (it == deviceRegistrations_.end()) return win::ERROR_INVALID_HANDLE;
    deviceRegistrations_.erase(it);
    handles_.Close(static_cast<std::uint64_t>(handle), "HDEVNOTIFY");
    return win::ERROR_SUCCESS;
}

// ---- test side ----

void SimScm::LaunchAs(const std::wstring& serviceName) {
    std::lock_guard<std::mutex> lock(lock_);
    launchedAs_ = serviceName;
}

void SimScm::QueueControl(win::DWORD control, win::DWORD eventType, std::vector<unsigned char> data) {
    std::lock_guard<std::mutex> lock(lock_);
    controls_.push_back(Control{control, eventType, std::move(data), std::nullopt});
    changed_.notify_all();
}

void SimScm::DeliverDuringStart(bool on) {
    std::lock_guard<std::mutex> lock(lock_);
    deliverDuringStart_ = on;
}

std::vector<unsigned char> DeviceInterfaceBroadcast(const win::GUID& interfaceClass, const std::wstring& name) {
    std::vector<unsigned char> data(win::DBCC_NAME_OFFSET + (name.size() + 1) * 2, 0);
    win::DWORD size = static_cast<win::DWORD>(data.size());
    win::DWORD type = win::DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(data.data() + win::DBCH_SIZE_OFFSET, &size, 4);
    std::memcpy(data.data() + win::DBCH_DEVICETYPE_OFFSET, &type, 4);
    std::memcpy(data.data() + win::DBCC_CLASSGUID_OFFSET, &interfaceClass, sizeof interfaceClass);
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<std::uint16_t>(name[i]);
        std::memcpy(data.data() + win::DBCC_NAME_OFFSET + 2 * i, &c, 2);
    }
    return data;
}

void SimScm::QueueDeviceInterfaceEvent(win::DWORD dbtEvent, const win::GUID& interfaceClass, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(lock_);
    controls_.push_back(
        Control{win::SERVICE_CONTROL_DEVICEEVENT, dbtEvent, DeviceInterfaceBroadcast(interfaceClass, name), interfaceClass});
    changed_.notify_all();
}

bool SimScm::HasDeviceRegistration(const win::GUID& interfaceClass) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& [h, g] : deviceRegistrations_)
        if (g == interfaceClass) return true;
    return false;
}

std::optional<ServiceRecord> SimScm::Service(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = services_.find(Upper(name.c_str()));
    if (it == services_.end()) return std::nullopt;
    return it->second;
}

void SimScm::AddService(ServiceRecord record) {
    std::lock_guard<std::mutex> lock(lock_);
    services_[Upper(record.name.c_str())] = std::move(record);
}

std::vector<win::SERVICE_STATUS> SimScm::Reports() const {
    std::lock_guard<std::mutex> lock(lock_);
    return reports_;
}

int SimScm::OpenHandles() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(open_.size());
}

}  // namespace sim
