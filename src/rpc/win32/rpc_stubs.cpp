// The server stub's side of the interface: the entry points widl's stub calls, which
// forward to the portable procedures, the stub's memory routines and the context rundown.
#include "rpc/procedures.h"
#include "rpc/rpc_server.h"

#include "platform/win32/win32_common.h"

#include <cstdlib>

#include "touchpad_rpc.h"

namespace {

tavo::MeteringContext* Context(TAVO_METERING_HANDLE h) { return static_cast<tavo::MeteringContext*>(h); }

// The wire records and the service's records hold the same 32-bit fields in the same order.
tavo::PalmSettings FromWire(const TAVO_PALM_SETTINGS& w) {
    return {w.level, w.ranges[0], w.ranges[1], w.ranges[2], w.ranges[3]};
}
void ToWire(const tavo::PalmSettings& r, TAVO_PALM_SETTINGS* w) {
    w->level = r.level;
    w->ranges[0] = r.up;
    w->ranges[1] = r.down;
    w->ranges[2] = r.left;
    w->ranges[3] = r.right;
}
tavo::ForcepadSettings FromWire(const TAVO_FORCEPAD_SETTINGS& w) {
    return {w.CurrentControlItem,
            w.HapticEnabled,
            w.HapticFeedbackCheckSlider,
            w.FingerDetectionForceCheckOption,
            w.ClickForceCheckOption,
            w.UseTopZoneAsVadavAreduButtonsEnabled,
            w.VadavAreduButtonClickForceCheckOption,
            w.UseTopZoneAsVadavAreduButtonsNotGrayOut,
            w.UseTopZoneAsVadavAreduButtonsPreviousManualStatus};
}
void ToWire(const tavo::ForcepadSettings& r, TAVO_FORCEPAD_SETTINGS* w) {
    w->CurrentControlItem = r.CurrentControlItem;
    w->HapticEnabled = r.HapticEnabled;
    w->HapticFeedbackCheckSlider = r.HapticFeedbackCheckSlider;
    w->FingerDetectionForceCheckOption = r.FingerDetectionForceCheckOption;
    w->ClickForceCheckOption = r.ClickForceCheckOption;
    w->UseTopZoneAsVadavAreduButtonsEnabled = r.UseTopZoneAsVadavAreduButtonsEnabled;
    w->VadavAreduButtonClickForceCheckOption = r.VadavAreduButtonClickForceCheckOption;
    w->UseTopZoneAsVadavAreduButtonsNotGrayOut = r.UseTopZoneAsVadavAreduButtonsNotGrayOut;
    w->UseTopZoneAsVadavAreduButtonsPreviousManualStatus = r.UseTopZoneAsVadavAreduButtonsPreviousManualStatus;
}

}  // namespace

namespace tavo {
win::RPC_IF_HANDLE TouchpadInterfaceHandle() { return win32::Wrap<win::RPC_IF_HANDLE>(TouchpadRpcInterface_v1_0_s_ifspec); }
}  // namespace tavo

extern "C" {

void* __RPC_USER MIDL_user_allocate(SIZE_T size) { return std::malloc(size); }
void __RPC_USER MIDL_user_free(void* p) { std::free(p); }

void __RPC_USER TAVO_METERING_HANDLE_rundown(TAVO_METERING_HANDLE context) { tavo::RpcContextRundown(Context(context)); }

void __cdecl OpenRpcEndpoint(handle_t, TAVO_METERING_HANDLE* context) { *context = tavo::OpenRpcEndpoint(); }

void __cdecl CloseRpcEndpoint(TAVO_METERING_HANDLE* context) {
    auto* c = Context(*context);
    tavo::CloseRpcEndpoint(&c);
    *context = c;
}

void __cdecl StartMetering(TAVO_METERING_HANDLE context, hyper first, hyper second) {
    tavo::StartMetering(Context(context), first, second);
}

void __cdecl SetSamplePeriod(TAVO_METERING_HANDLE context, hyper period) {
    tavo::SetSamplePeriod(Context(context), period);
}

void __cdecl StopMetering(TAVO_METERING_HANDLE context) { tavo::StopMetering(Context(context)); }

void __cdecl ProcessGetTouchpadSettings(TAVO_METERING_HANDLE context, TAVO_PALM_SETTINGS* settings) {
    tavo::PalmSettings r = FromWire(*settings);
    tavo::ProcessGetTouchpadSettings(Context(context), &r);
    ToWire(r, settings);
}

void __cdecl ProcessSetTouchpadSettings(TAVO_METERING_HANDLE context, TAVO_PALM_SETTINGS* settings) {
    const tavo::PalmSettings r = FromWire(*settings);
    tavo::ProcessSetTouchpadSettings(Context(context), &r);
}

void __cdecl ProcessGetTouchpadStatus(TAVO_METERING_HANDLE context, byte* status) {
    std::uint8_t s = *status;
    tavo::ProcessGetTouchpadStatus(Context(context), &s);
    *status = s;
}

void __cdecl ProcessExecuteMouseProperties(TAVO_METERING_HANDLE context) {
    tavo::ProcessExecuteMouseProperties(Context(context));
}

void __cdecl ProcessGetSupportFunction(TAVO_METERING_HANDLE context, LONG* enableResult) {
    std::int32_t r = *enableResult;
    tavo::ProcessGetSupportFunction(Context(context), &r);
    *enableResult = r;
}

void __cdecl ProcessGetTouchpadData(TAVO_METERING_HANDLE context, LONG function, LONG* data) {
    std::int32_t d = *data;
    tavo::ProcessGetTouchpadData(Context(context), function, &d);
    *data = d;
}

void __cdecl ProcessSetForcepadSettings(TAVO_METERING_HANDLE context, TAVO_FORCEPAD_SETTINGS* settings) {
    const tavo::ForcepadSettings r = FromWire(*settings);
    tavo::ProcessSetForcepadSettings(Context(context), &r);
}

void __cdecl ProcessGetForcepadSettings(TAVO_METERING_HANDLE context, TAVO_FORCEPAD_SETTINGS* settings) {
    tavo::ForcepadSettings r = FromWire(*settings);
    tavo::ProcessGetForcepadSettings(Context(context), &r);
    ToWire(r, settings);
}

}  // extern "C"
