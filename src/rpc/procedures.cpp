#include "rpc/procedures.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

#include "common/process_state.h"
#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device/touchpad_info.h"
#include "log/thread_boundary.h"
#include "log/trace_log.h"
#include "platform/console.h"
#include "platform/system.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo {
namespace {

// A line on standard output: the text, a newline, flushed (the console facet flushes).
void Say(const wchar_t* text) { win::Con().Write(std::wstring(text) + L"\n"); }
void Debug(const wchar_t* text) { win::Sys().OutputDebugStringW(text); }

bool CompanionPresent() {
    const int uwp = DetectUWPInstall();
    const int swc = DetectSoftwareComponentInstall();
    return uwp != 0 && swc != 0;
}

}  // namespace

// The procedures themselves; the entry points below put each on its call thread.
namespace served {

MeteringContext* OpenRpcEndpoint() {
    Say(L"opening rpc endpoint");
    return new (std::nothrow) MeteringContext();
}

void CloseRpcEndpoint(MeteringContext** context) {
    Say(L"closing rpc endpoint");
    delete *context;
    *context = nullptr;
}

void StartMetering(MeteringContext*, std::int64_t, std::int64_t) {
    Say(L"start metering");
    Debug(L"Metering::StartMetering++");
    TavoTouchpad pad;
    if (!ScanTavoHidDevice(&pad)) {
        Debug(L"Cannot Find TAVO HID Device");
        Debug(L"Metering::StartMetering--");
    } else {
        Debug(L"Find TAVO HID Device");
        if (GetFeatureFunction(pad.handle.get(), fn::kMeteringProbe) == kFeatureReadFailed) {
            TraceLog("GetFeatureFunction Fail #8");
        } else {
            Debug(L"Close TAVO HID Device");
            Debug(L"Metering::StartMetering--");
        }
    }
    pad.handle.reset();
    Say(L"done metering");
}

void SetSamplePeriod(MeteringContext* context, std::int64_t period) {
    Debug(L"Metering::SetSamplePeriod++");
    context->samplePeriod = std::clamp(period, kMinSamplePeriod, kMaxSamplePeriod);
    Debug(L"Metering::SetSamplePeriod--");
}

void StopMetering(MeteringContext* context) {
    Say(L"stop metering");
    context->stopped = true;
}

void ProcessGetTouchpadSettings(MeteringContext*, PalmSettings* settings) {
    TraceLog("Service::ProcessGetTouchpadSettings++\n");
    if (CompanionPresent()) {
        // What the client sent is not an answer: a user key that cannot be read reads as
        // nothing stored.
        *settings = PalmSettings{kNotStored, kNotStored, kNotStored, kNotStored, kNotStored};
        SyncTouchpadSettings(SYNC_READ, *settings);
    } else {
        *settings = palmDefaults.Load();
    }
    TraceLog("Service::ProcessGetTouchpadSettings--\n");
}

void ProcessSetTouchpadSettings(MeteringContext*, const PalmSettings* settings) {
    TraceLog("Service::ProcessSetTouchpadSettings++\n");
    const int uwp = DetectUWPInstall();
    const int swc = DetectSoftwareComponentInstall();
    TraceLog("[ProcessSetTouchpadSettings] UWPInstall = %d, SWCInstall = %d\n", uwp, swc);
    if (uwp != 0 && swc != 0) {
        PalmSettings copy = *settings;
        SyncTouchpadSettings(SYNC_WRITE, copy);
        PalmControl(copy, 0, 0);
    }
    TraceLog("Service::ProcessSetTouchpadSettings--\n");
}

void ProcessGetTouchpadStatus(MeteringContext*, std::uint8_t* status) { tavo::ProcessGetTouchpadStatus(status); }

void ProcessExecuteMouseProperties(MeteringContext*) { TraceLog("Service::ProcessExecuteMouseProperties\n"); }

void ProcessGetSupportFunction(MeteringContext*, std::int32_t* enableResult) {
    int flag = 0;
    ReadCustomPalmRejection(&flag);
    *enableResult = flag;
    TraceLog("Service::ProcessGetSupportFunction::EnableResult=0x%.02X\n", static_cast<unsigned>(flag));
}

void ProcessGetTouchpadData(MeteringContext*, std::int32_t function, std::int32_t* data) {
    std::int32_t value = 0;
    switch (function) {
        case 1: value = softwareComponentResult.load() != 0 ? 1 : 0; break;
        case 2: value = static_cast<std::int32_t>(PublishedTouchpadInfo().TouchPad_Physical_X); break;
        case 3: value = static_cast<std::int32_t>(PublishedTouchpadInfo().TouchPad_Physical_Y); break;
        case 4: value = PalmRangeGroup.load(); break;
        case 5: value = PalmDefaultOption.load(); break;
        case 99: value = kTouchpadDataSignature; break;
        default: break;
    }
    *data = value;
    TraceLog("Service::ProcessGetTouchpadData:: Function = 0x%.8X, Data = 0x%.8X\n", static_cast<unsigned>(function),
             static_cast<unsigned>(value));
}

void ProcessSetForcepadSettings(MeteringContext*, const ForcepadSettings* settings) {
    TraceLog("Service::ProcessSetForcepadSettings++\n");
    if (CompanionPresent()) {
        ForcepadSettings copy = *settings;
        SyncForcepadSettings(SYNC_WRITE, copy);
        ForcePadControl(copy, 0, 0);
    }
    TraceLog("Service::ProcessSetForcepadSettings--\n");
}

void ProcessGetForcepadSettings(MeteringContext*, ForcepadSettings* settings) {
    TraceLog("Service::ProcessGetForcepadSettings++\n");
    if (CompanionPresent()) {
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i) Field(*settings, i) = kNotStored;
        SyncForcepadSettings(SYNC_READ, *settings);
    } else {
        *settings = kForcepadDefaults;
    }
    TraceLog("Service::ProcessGetForcepadSettings--\n");
}

void RpcContextRundown(MeteringContext* context) {
    Say(L"client died");
    served::StopMetering(context);
    served::CloseRpcEndpoint(&context);
}

}  // namespace served

namespace {

struct CallsState {
    std::mutex lock;
    bool closed = false;
    int inProgress = 0;
};
ProcessWide<CallsState> calls;

// Each procedure runs on one of the run time's call threads, whose C stub an exception must
// not reach. Releasing a client's context is all that is left to do once the calls are closed.
template <typename Body>
void Serve(const char* procedure, Body&& body, bool releasesOnly = false) {
    {
        std::lock_guard<std::mutex> lock(calls->lock);
        if (calls->closed && !releasesOnly) return;
        ++calls->inProgress;
    }
    AtThreadBoundary(procedure, body);
    std::lock_guard<std::mutex> lock(calls->lock);
    --calls->inProgress;
}

}  // namespace

void OpenRpcCalls() {
    std::lock_guard<std::mutex> lock(calls->lock);
    calls->closed = false;
}

void CloseRpcCalls() {
    std::lock_guard<std::mutex> lock(calls->lock);
    calls->closed = true;
}

int RpcCallsInProgress() {
    std::lock_guard<std::mutex> lock(calls->lock);
    return calls->inProgress;
}

MeteringContext* OpenRpcEndpoint() {
    MeteringContext* context = nullptr;
    Serve("OpenRpcEndpoint", [&] { context = served::OpenRpcEndpoint(); });
    return context;
}
void CloseRpcEndpoint(MeteringContext** context) {
    Serve("CloseRpcEndpoint", [&] { served::CloseRpcEndpoint(context); }, true);
}
void StartMetering(MeteringContext* context, std::int64_t first, std::int64_t second) {
    Serve("StartMetering", [&] { served::StartMetering(context, first, second); });
}
void SetSamplePeriod(MeteringContext* context, std::int64_t period) {
    Serve("SetSamplePeriod", [&] { served::SetSamplePeriod(context, period); });
}
void StopMetering(MeteringContext* context) {
    Serve("StopMetering", [&] { served::StopMetering(context); });
}
void ProcessGetTouchpadSettings(MeteringContext* context, PalmSettings* settings) {
    Serve("ProcessGetTouchpadSettings", [&] { served::ProcessGetTouchpadSettings(context, settings); });
}
void ProcessSetTouchpadSettings(MeteringContext* context, const PalmSettings* settings) {
    Serve("ProcessSetTouchpadSettings", [&] { served::ProcessSetTouchpadSettings(context, settings); });
}
void ProcessGetTouchpadStatus(MeteringContext* context, std::uint8_t* status) {
    Serve("ProcessGetTouchpadStatus", [&] { served::ProcessGetTouchpadStatus(context, status); });
}
void ProcessExecuteMouseProperties(MeteringContext* context) {
    Serve("ProcessExecuteMouseProperties", [&] { served::ProcessExecuteMouseProperties(context); });
}
void ProcessGetSupportFunction(MeteringContext* context, std::int32_t* enableResult) {
    Serve("ProcessGetSupportFunction", [&] { served::ProcessGetSupportFunction(context, enableResult); });
}
void ProcessGetTouchpadData(MeteringContext* context, std::int32_t function, std::int32_t* data) {
    Serve("ProcessGetTouchpadData", [&] { served::ProcessGetTouchpadData(context, function, data); });
}
void ProcessSetForcepadSettings(MeteringContext* context, const ForcepadSettings* settings) {
    Serve("ProcessSetForcepadSettings", [&] { served::ProcessSetForcepadSettings(context, settings); });
}
void ProcessGetForcepadSettings(MeteringContext* context, ForcepadSettings* settings) {
    Serve("ProcessGetForcepadSettings", [&] { served::ProcessGetForcepadSettings(context, settings); });
}
void RpcContextRundown(MeteringContext* context) {
    Serve("RpcContextRundown", [&] { served::RpcContextRundown(context); }, true);
}

}  // namespace tavo
