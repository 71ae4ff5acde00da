// The thirteen procedures of the settings application's RPC interface, as portable code:
// the server stub's entry points forward here, and the simulator calls them directly.
// None takes a lock of its own; nothing is returned to the caller but the out values.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/settings_records.h"

namespace tavo {

// One per open context handle.
struct MeteringContext {
    std::atomic<std::int64_t> samplePeriod{100};  // milliseconds, 1..1000
    std::atomic<bool> stopped{false};
};

inline constexpr std::int64_t kMinSamplePeriod = 1;
inline constexpr std::int64_t kMaxSamplePeriod = 1000;
inline constexpr std::int32_t kTouchpadDataSignature = 0x12345678;

// opnum 0: a new context ("opening rpc endpoint"); null only when memory runs out.
MeteringContext* OpenRpcEndpoint();
// opnum 1: frees the context and clears the caller's handle.
void CloseRpcEndpoint(MeteringContext** context);
// opnums 2 to 4
void StartMetering(MeteringContext* context, std::int64_t first, std::int64_t second);
void SetSamplePeriod(MeteringContext* context, std::int64_t period);
void StopMetering(MeteringContext* context);
// opnums 5 to 12
void ProcessGetTouchpadSettings(MeteringContext* context, PalmSettings* settings);
void ProcessSetTouchpadSettings(MeteringContext* context, const PalmSettings* settings);
void ProcessGetTouchpadStatus(MeteringContext* context, std::uint8_t* status);
void ProcessExecuteMouseProperties(MeteringContext* context);
void ProcessGetSupportFunction(MeteringContext* context, std::int32_t* enableResult);
void ProcessGetTouchpadData(MeteringContext* context, std::int32_t function, std::int32_t* data);
void ProcessSetForcepadSettings(MeteringContext* context, const ForcepadSettings* settings);
void ProcessGetForcepadSettings(MeteringContext* context, ForcepadSettings* settings);

// A client that held the context went away.
void RpcContextRundown(MeteringContext* context);

// The calls the procedures serve, as the service object's end sees them: it closes them, so
// that a call that arrives afterwards does nothing (the contexts are still freed), and waits
// for those in progress. Opened again by the next service object of the process.
void OpenRpcCalls();
void CloseRpcCalls();
int RpcCallsInProgress();

}  // namespace tavo
