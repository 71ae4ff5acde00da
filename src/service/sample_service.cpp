#include "service/sample_service.h"

#include <functional>
#include <memory>
#include <new>
#include <string>

#include "common/process_state.h"
#include "device/driver_cleanup.h"
#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "log/thread_boundary.h"
#include "log/trace_log.h"
#include "monitors/agent_launcher.h"
#include "monitors/folder_watcher.h"
#include "monitors/pst_monitor.h"
#include "monitors/toggle_flag.h"
#include "platform/console.h"
#include "platform/handles.h"
#include "platform/scm.h"
#include "platform/sessions.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "rpc/procedures.h"
#include "rpc/rpc_server.h"
#include "service/win32_error.h"
#include "settings/api_events.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "registry/registry_helpers.h"
#include "settings/settings_clearing.h"
#include "settings/settings_store.h"

namespace tavo {

namespace {

// The work of the live service object, for the RPC work item: its context outlives the
// object (the item is never closed), so it finds the object here, if it still lives.
struct LifecycleState {
    std::mutex lock;
    std::shared_ptr<ServiceWork> live;
};
ProcessWide<LifecycleState> lifecycle;

// The record a long-running work item carries: the operation's name, the work it belongs to
// and its body; the pool thread frees it after the call.
struct WorkContext {
    const char* operation;
    std::shared_ptr<ServiceWork> work;
    std::function<void()> body;
};

void RunLongRunningWork(void* context) {
    std::unique_ptr<WorkContext> item(static_cast<WorkContext*>(context));
    if (item->work->Enter() == nullptr) return;  // the object is gone: nothing of it may be touched
    AtThreadBoundary(item->operation, item->body);
    item->work->Leave();
}

// Runs act(service) while the object that is context lives, counted as its work; false
// when it is gone.
template <typename Act>
bool WithLiveService(void* context, Act act) {
    std::shared_ptr<ServiceWork> work;
    {
        std::lock_guard<std::mutex> lock(lifecycle->lock);
        work = lifecycle->live;
    }
    CSampleService* service = work ? work->Enter() : nullptr;
    if (service == nullptr) return false;
    if (service == context) act(service);
    work->Leave();
    return service == context;
}

// The body of rpcWork: serves the interface until the process ends; a server that cannot
// be set up stops the service, once its start has been reported. Nothing is served for an
// object that went before the item started.
void RpcWorkCallback(void* context) {
    AtThreadBoundary("RpcServerStart", [context] {
        if (!WithLiveService(context, [](CSampleService*) {})) return;
        if (RpcServerStart() == 0) return;
        WithLiveService(context, [](CSampleService* service) {
            service->WaitUntilStartReported();
            service->StopSelf();
        });
    });
}

// The decision pair every occasion ends in, on the live records.
void ApplySettings(int sessionEnding, int fromInForce) {
    PalmControl(livePalmSettings, sessionEnding, fromInForce);
    ForcePadControl(liveForcepadSettings, sessionEnding, fromInForce);
}

}  // namespace

CSampleService* ServiceWork::Enter() {
    std::lock_guard<std::mutex> lock(lock_);
    if (service_ != nullptr) ++running_;
    return service_;
}

void ServiceWork::Leave() {
    std::lock_guard<std::mutex> lock(lock_);
    --running_;
}

void ServiceWork::Close() {
    std::lock_guard<std::mutex> lock(lock_);
    service_ = nullptr;
}

int ServiceWork::Running() const {
    std::lock_guard<std::mutex> lock(lock_);
    return running_;
}

void QueueLongRunningWork(CSampleService* service, const char* operation, std::function<void()> body) {
    std::unique_ptr<WorkContext> context(new (std::nothrow) WorkContext{operation, service->work, std::move(body)});
    if (!context) throw Win32Error{win::ERROR_NOT_ENOUGH_MEMORY};
    const win::DWORD error =
        win::Thr().QueueUserWorkItem(&RunLongRunningWork, context.get(), win::WT_EXECUTELONGFUNCTION);
    if (error != win::ERROR_SUCCESS) throw Win32Error{error};
    (void)context.release();  // the pool thread owns it now
}

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

bool DetectUserLogon() {
    const win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();
    TraceLog("DetectUserLogon::SessionId = %d", static_cast<int>(session));
    bool loggedOn = false;
    if (session != win::kNoConsoleSession) {
        win::DWORD state = 0;
        const win::DWORD error = win::Wts().WTSQueryConnectState(session, &state);
        if (error == win::ERROR_SUCCESS) {
            TraceLog("DetectUserLogon::WTSQuerySessionInformation Scuuess : WTSConnectState=%u\r\n", state);
            loggedOn = state == win::WTSActive;
        } else {
            TraceLog("DetectUserLogon::WTSQuerySessionInformation Fail, Error = %d\r\n", static_cast<int>(error));
        }
    }
    TraceLog("DetectUserLogon::UserLogon = %d", loggedOn ? 1 : 0);
    return loggedOn;
}

CSampleService::CSampleService()
    : work(std::make_shared<ServiceWork>(this)),
      lastAABB(work->lastAABB),
      toggleFlagRuns(work->toggleFlag),
      watcherRuns(work->watcher) {
    SetServiceInfo();
    OpenRpcCalls();
    std::lock_guard<std::mutex> lock(lifecycle->lock);
    lifecycle->live = work;
}

// What runs on other threads uses this object, its work and the trace through it: nothing
// queued starts once the object goes, the monitors are told to end, and what still runs is
// waited for (bounded: an end that hangs must not keep the process). RPC calls alike.
CSampleService::~CSampleService() {
    EndPSTMonitor();
    EndAPIStatusEvents();
    {
        std::lock_guard<std::mutex> lock(lifecycle->lock);
        if (lifecycle->live == work) lifecycle->live.reset();
    }
    work->Close();
    CloseRpcCalls();
    toggleFlagRuns.StopAndPoll(0);
    StopDirectoryWatcher(watcherRuns, 0);
    int polls = 0;
    for (; polls < kTeardownPolls && (work->Running() > 0 || RpcCallsInProgress() > 0); ++polls)
        win::Sys().Sleep(kStopPollMs);
    if (polls == kTeardownPolls)
        TraceLog("~CSampleService:: %d work items and %d RPC calls still run after %d ms; left to end alone\n",
                 work->Running(), RpcCallsInProgress(), kTeardownPolls * static_cast<int>(kStopPollMs));
}

void CSampleService::WriteTraceString(const wchar_t* text, win::BYTE level) {
    if (consoleMode.load(std::memory_order_relaxed)) {
        std::wstring line = std::to_wstring(level);
        line += L": ";
        line += text;
        line += L"\n";
        win::Con().Write(line);
    }
    CServiceBase::WriteTraceString(text, level);
}

void CSampleService::OnStart(win::DWORD, wchar_t**) {
    TraceLog("Service in OnStart++\n");

    win::PTP_WORK work{};
    if (win::Thr().CreateThreadpoolWork(&RpcWorkCallback, this, &work) != win::ERROR_SUCCESS) {
        WriteTraceString(L"CreateThreadpoolWork failed", win::TRACE_LEVEL_ERROR);
        TraceLog("OnStart::CreateThreadpoolWork failed\n");
    } else {
        rpcWork = work;
        win::Thr().SubmitThreadpoolWork(work);
    }

    ReadTouchpadInfo();
    lastAABB = RegRead_AABB();
    QueueLongRunningWork(this, "MonitorAABBChangeThread", [w = this->work.get(), ticket = toggleFlagRuns.Issue()] {
        MonitorAABBChangeThread(w->toggleFlag, ticket, w->lastAABB);
    });

    bool found = false;
    for (int attempt = 0; attempt < kDriverKeySearchTries && !found; ++attempt) {
        found = WorkaroundGetHKRRegistryPath();
        if (!found) win::Sys().Sleep(kDriverKeySearchPauseMs);
    }
    ReadHKRDefaultSettings(DriverKeyPath());  // a copy: empty when the search failed

    ReadPSTStatusFromDM = GetPSTDeivce() ? 1 : 0;
    TraceLog("[OnStart] ReadPSTStatusFromDM = %d", static_cast<int>(ReadPSTStatusFromDM.load()));
    ReadForcepadCapability();

    if (DetectUserLogon()) {
        OnLogon();
    } else {
        SyncTouchpadSettings(SYNC_READ_LAST, livePalmSettings);
        SyncForcepadSettings(SYNC_READ_LAST, liveForcepadSettings);
        TraceLog("<Palm> OnStart Set Dynamic Mode Command\r\n");
    }

    StartPSTMonitor();
    StartAPIStatusEvents();

    TraceLog("Service in OnStart--");
}

void CSampleService::OnStop() {
    TraceLog("Service in OnStop++");
    WithdrawRpcInterface();
    toggleFlagRuns.StopAndPoll(0);
    StopDirectoryWatcher(watcherRuns, 0);
    // A stop the service makes itself, because its interface could not be set up, may come
    // of a passing failure: the users' own settings are no price for that.
    if (SelfInitiatedStop()) {
        TraceLog("OnStop::Stopped By The Service Itself, Users' Settings Kept\n");
    } else {
        ClearAllPalmSettings(palmDefaults.Load());
        ClearAllForcepadSettings(kForcepadDefaults);
    }
    ApplySettings(1, 0);
    TraceLog("Service in OnStop--");
}

void CSampleService::OnLogon() {
    TraceLog("Service in OnLogon++");
    QueueLongRunningWork(this, "LaunchInputAgent", [w = this->work.get()] {
        std::lock_guard<std::mutex> lock(w->LauncherLock);
        LaunchInputAgent();
    });
    StopDirectoryWatcher(watcherRuns, kWatcherStopPolls);
    QueueDirectoryWatcher();
    QueueLongRunningWork(this, "ProcessUninstallOldDriverThread",
                         [w = this->work.get()] { ProcessUninstallOldDriverThread(w->cleanupLock); });

    wchar_t user[kUserNameChars] = {};
    GetCurrectUserName(user);
    TraceLog("OnLogon::UserName=%ws\n", user);
    std::wstring text = L"OnLogon::User:";
    text += user;
    if (text.size() > kUserNameChars - 1) text.resize(kUserNameChars - 1);
    WriteTraceString(text.c_str(), win::TRACE_LEVEL_INFORMATION);

    ApplySettings(0, 0);
    TraceLog("Service in OnLogon--");
}

void CSampleService::QueueDirectoryWatcher() {
    QueueLongRunningWork(this, "DetectDirectoryChangeThread", [w = this->work.get(), ticket = watcherRuns.Issue()] {
        DetectDirectoryChangeThread(w->watcher, ticket);
    });
}

void CSampleService::OnLogoff() {
    TraceLog("Service in OnLogoff++");
    ApplySettings(1, 1);
    TraceLog("Service in OnLogoff--");
}

void CSampleService::OnResume() {
    TraceLog("Service in OnResume++");
    ApplySettings(0, 1);
    TraceLog("Service in OnResume--");
}

void CSampleService::OnPlugin() {
    TraceLog("Service in OnPlugin++");
    ApplySettings(0, 0);
    TraceLog("Service in OnPlugin--");
}

}  // namespace tavo
