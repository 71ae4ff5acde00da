// The generic half of the Windows service: status reporting with check points, the
// control handler and the session-change bookkeeping.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/wintypes.h"

namespace tavo {

inline constexpr wchar_t kServiceName[] = L"TAVOPTPService";
inline constexpr wchar_t kServiceDisplayName[] = L"TAVO PTP Service";
inline constexpr win::DWORD kControlsAccepted = win::SERVICE_ACCEPT_STOP | win::SERVICE_ACCEPT_SHUTDOWN |
                                                win::SERVICE_ACCEPT_POWEREVENT | win::SERVICE_ACCEPT_SESSIONCHANGE;

class CServiceBase : public TraceSink {
public:
    CServiceBase();
    virtual ~CServiceBase();
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    void WriteTraceString(const wchar_t* text, win::BYTE level) override;
    virtual void OnStart(win::DWORD argc, wchar_t** argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    virtual void OnLogon();
    virtual void OnLogoff();
    virtual void OnResume();
    virtual void OnPlugin();

    // Entry points the dispatcher calls.
    static void ServiceMain(win::DWORD argc, wchar_t** argv);
    static win::DWORD ServiceControlHandler(win::DWORD control, win::DWORD eventType, void* eventData,
                                            void* context);

    void Start(win::DWORD argc, wchar_t** argv);
    void Stop();
    // The same for a stop the service starts itself, rather than one the manager asks for.
    void StopSelf();
    void Pause();
    void Continue();
    void Shutdown();

    void ReportStatus(win::DWORD state, win::DWORD exitCode);
    // Returns once Start has reported its outcome (RUNNING or STOPPED). A stop that another
    // thread asks for while the start still runs waits here, so no RUNNING report can
    // follow STOPPED and the object outlives its start.
    void WaitUntilStartReported();

    void DoSessionChange(win::DWORD eventType);
    void DoPowerChange(win::DWORD eventType);
    // eventData points at a DEV_BROADCAST header; only the bytes its size covers are read.
    void DoDeviceChange(win::DWORD eventType, const void* eventData);

    const wchar_t* name() const { return name_; }
    // While OnStop runs: whether the service started this stop itself (StopSelf).
    bool SelfInitiatedStop() const { return selfInitiatedStop_.load(); }
    win::DWORD currentState() const;

protected:
    const wchar_t* name_;
    mutable std::mutex statusLock_;  // the status block is reported from two threads
    win::SERVICE_STATUS status_;
    std::atomic<win::SERVICE_STATUS_HANDLE> statusHandle_{};
    std::atomic<win::REGHANDLE> providerHandle_{0};
    win::UniqueDevNotify deviceNotify_;

private:
    std::mutex startLock_;
    std::condition_variable startReported_;
    bool startDone_ = false;
    // One stop at a time: a second request while one runs, or after the service stopped,
    // does nothing.
    std::atomic<bool> stopping_{false};
    std::atomic<bool> selfInitiatedStop_{false};

    void StopAs(bool selfInitiated);
};

// The one service object of the process (dispatcher mode only).
extern std::atomic<CServiceBase*>& serviceInstance;

// Name of a WTS session-change event, "Unknow SessionID" for any other value.
const char* SessionEventName(win::DWORD eventType);

}  // namespace tavo
