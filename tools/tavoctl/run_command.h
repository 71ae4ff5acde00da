// Runs one command against the touchpad service through its RPC procedures and gathers what
// came back. The procedures sit behind an interface so the sequence (open, read, set, read
// back, ask why) is the same on Windows and in native tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"
#include "model.h"

namespace tavoctl {

// 0 when the call completed; otherwise the RPC status (a Win32 error code) it raised.
using RpcStatus = std::uint32_t;

class TouchpadService {
public:
    virtual ~TouchpadService() = default;
    // Binds to the endpoint and opens the context all other calls take.
    virtual RpcStatus Open() = 0;
    virtual RpcStatus GetStatus(std::uint8_t& status) = 0;
    virtual RpcStatus GetPalm(PalmValues& values) = 0;
    virtual RpcStatus SetPalm(const PalmValues& values) = 0;
    virtual RpcStatus GetForcepad(ForcepadValues& values) = 0;
    virtual RpcStatus SetForcepad(const ForcepadValues& values) = 0;
    virtual RpcStatus GetData(std::int32_t function, std::int32_t& value) = 0;
    virtual RpcStatus GetSupport(std::int32_t& value) = 0;
    virtual RpcStatus StartMetering(std::int64_t first, std::int64_t second) = 0;
    virtual RpcStatus SetSamplePeriod(std::int64_t period) = 0;
    virtual RpcStatus StopMetering() = 0;
    // Closes what Open opened; a failure is of no interest to the user.
    virtual void Close() = 0;
};

struct CallFailure {
    std::string call;  // the procedure, or "OpenRpcEndpoint" when the service could not be reached
    RpcStatus status = 0;
    bool connecting = false;
    friend bool operator==(const CallFailure&, const CallFailure&) = default;
};

// What one run found out; which fields matter depends on the verb.
struct Outcome {
    Verb verb = Verb::Status;
    std::optional<CallFailure> failure;
    std::uint8_t status = 0;
    PalmValues palm;       // palm get, and what palm set read back
    PalmValues palmSent;   // palm set
    ForcepadValues forcepad{};      // forcepad get, and what forcepad set read back
    ForcepadValues forcepadSent{};  // forcepad set
    std::int32_t dataFunction = 0;
    std::int32_t dataValue = 0;
    std::int32_t support = 0;
    MeterValues meter;
    bool stored = true;                           // a set: the read-back equals what was sent
    std::optional<std::int32_t> componentPresent;  // a set that was not stored: data 1
};

Outcome RunCommand(const Command& cmd, TouchpadService& service);

}  // namespace tavoctl
