// The simulated RPC run time, server side: endpoints, the interface registration with
// its flags and descriptor, binding vectors, the endpoint map and listening. Procedures
// are not dispatched here: tests call the procedure layer directly.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/rpc.h"
#include "platform/sim/faults.h"

namespace sim {

class SimRpc : public win::RpcRuntime {
public:
    SimRpc(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}

    win::RPC_STATUS RpcServerUseProtseqEpW(const wchar_t* protseq, unsigned maxCalls, const wchar_t* endpoint,
                                           const win::SECURITY_DESCRIPTOR* descriptor) override;
    win::RPC_STATUS RpcServerInqBindings(win::RPC_BINDING_VECTOR* vector) override;
    win::RPC_STATUS RpcBindingVectorFree(win::RPC_BINDING_VECTOR* vector) override;
    win::RPC_STATUS RpcEpUnregister(win::RPC_IF_HANDLE ifHandle, win::RPC_BINDING_VECTOR vector) override;
    win::RPC_STATUS RpcEpRegisterW(win::RPC_IF_HANDLE ifHandle, win::RPC_BINDING_VECTOR vector) override;
    win::RPC_STATUS RpcServerRegisterIf3(win::RPC_IF_HANDLE ifHandle, unsigned flags, unsigned maxCalls,
                                         unsigned maxRpcSize, const win::SECURITY_DESCRIPTOR* descriptor) override;
    win::RPC_STATUS RpcServerListen(unsigned minThreads, unsigned maxCalls, unsigned dontWait) override;
    win::RPC_STATUS RpcServerUnregisterIf(win::RPC_IF_HANDLE ifHandle, unsigned waitForCallsToComplete) override;

    // ---- set-up ----
    // An earlier start of the server in this process left its endpoint open and its
    // endpoint-map entry: opening the endpoint again gives 1740, and the bindings are there.
    void AddStaleRegistration();
    // What a waiting RpcServerListen returns. By default it returns 0 at once, as if
    // listening had ended; with Block, it waits until EndListening.
    void SetListenResult(win::RPC_STATUS status);
    void SetListenBlocks(bool on);
    void EndListening();

    // ---- inspection ----
    struct Registration {
        win::RPC_IF_HANDLE ifHandle;
        unsigned flags;
        unsigned maxCalls;
        unsigned maxRpcSize;
        win::SECURITY_DESCRIPTOR descriptor;
    };
    std::optional<Registration> Registered() const;
    struct EndpointUse {
        std::wstring protseq;
        unsigned maxCalls;
        std::wstring endpoint;
        win::SECURITY_DESCRIPTOR descriptor;
        win::RPC_STATUS status;
    };
    std::vector<EndpointUse> EndpointUses() const;
    int EndpointMapEntries() const;
    int ListenCalls() const;
    // Calls that passed a binding vector this run time never handed out, or none.
    int BadVectorUses() const;

private:
    bool ValidVector(win::RPC_BINDING_VECTOR vector) const;

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::condition_variable listenEnded_;
    bool endpointOpen_ = false;
    std::set<std::uint64_t> vectors_;
    std::optional<Registration> registered_;
    std::vector<EndpointUse> endpointUses_;
    int epMapEntries_ = 0;
    int listenCalls_ = 0;
    int badVectorUses_ = 0;
    win::RPC_STATUS listenResult_ = win::RPC_S_OK;
    bool listenBlocks_ = false;
    bool listenEnd_ = false;
};

}  // namespace sim
