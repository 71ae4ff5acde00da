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
#include "rpc/rpc_server.h"
#include "service/win32_error.h"
#include "settings/api_events.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/registry_helpers.h"
#include "settings/settings_clearing.h"
#include "settings/settings_store.h"

namespace tavo {

namespace {

struct LifecycleState {
    std::mutex LauncherLock;
    std::mutex cleanupLock;
    std::atomic<std::uint8_t> BlockRetryLoop{0};
};
ProcessWide<LifecycleState> lifecycle;

// The record a long-running work item carries: the operation's name and its body; the
// pool thread frees it after the call.
struct WorkContext {
    const char* operation;
    std::function<void()> body;
};

void RunLongRunningWork(void* context) {
    std::unique_ptr<WorkContext> work(static_cast<WorkContext*>(context));
    AtThreadBoundary(work->operation, work->body);
}

// The body of rpcWork: serves the interface until the process ends; a server that cannot
// be set up stops the service, once its start has been reported.
void RpcWorkCallback(void* context) {
    AtThreadBoundary("RpcServerStart", [context] {
        auto* service = static_cast<CSampleService*>(context);
        if (RpcServerStart() == 0) return;
        service->WaitUntilStartReported();
        service->Stop();
    });
}

// One launch of the input agent; launches never overlap.
void LaunchInputAgentLocked() {
    std::lock_guard<std::mutex> lock(LauncherLock);
    LaunchInputAgent();
}

// The decision pair every occasion ends in, on the live records.
void ApplySettings(int sessionEnding, int fromInForce) {
    PalmControl(livePalmSettings, sessionEnding, fromInForce);
    ForcePadControl(liveForcepadSettings, sessionEnding, fromInForce);
}

}  // namespace

std::mutex& LauncherLock = lifecycle->LauncherLock;
std::mutex& cleanupLock = lifecycle->cleanupLock;
std::atomic<std::uint8_t>& BlockRetryLoop = lifecycle->BlockRetryLoop;

void QueueLongRunningWork(CSampleService*, const char* operation, std::function<void()> body) {
    std::unique_ptr<WorkContext> context(new (std::nothrow) WorkContext{operation, std::move(body)});
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

CSampleService::CSampleService() { SetServiceInfo(); }

// The threads use this object, its slots and the trace through it: they are ended before it
// goes, or a thread woken by the stop would log through a destroyed object. The watcher
// may be in a 2-second pause between its start-up attempts.
CSampleService::~CSampleService() {
    EndPSTMonitor();
    EndAPIStatusEvents();
    StopToggleFlagMonitor(this, kTeardownMonitorPolls);
    StopDirectoryWatcher(this, kTeardownWatcherPolls);
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
    QueueLongRunningWork(this, "MonitorAABBChangeThread", [this] { MonitorAABBChangeThread(this); });

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
    StopToggleFlagMonitor(this, 0);
    StopDirectoryWatcher(this, 0);
    ClearAllPalmSettings(palmDefaults.Load());
    ClearAllForcepadSettings(kForcepadDefaults);
    ApplySettings(1, 0);
    TraceLog("Service in OnStop--");
}

void CSampleService::OnLogon() {
    TraceLog("Service in OnLogon++");
    QueueLongRunningWork(this, "LaunchInputAgent", &LaunchInputAgentLocked);
    StopDirectoryWatcher(this, kWatcherStopPolls);
    QueueLongRunningWork(this, "DetectDirectoryChangeThread", [this] { DetectDirectoryChangeThread(this); });
    QueueLongRunningWork(this, "ProcessUninstallOldDriverThread", [] { ProcessUninstallOldDriverThread(cleanupLock); });

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
