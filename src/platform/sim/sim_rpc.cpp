#include "platform/sim/sim_rpc.h"

namespace sim {
namespace {
constexpr win::RPC_STATUS kInvalidBinding = 1702;  // RPC_S_INVALID_BINDING
constexpr win::RPC_STATUS kUnknownIf = 1717;       // RPC_S_UNKNOWN_IF
}  // namespace

win::RPC_STATUS SimRpc::RpcServerUseProtseqEpW(const wchar_t* protseq, unsigned maxCalls, const wchar_t* endpoint,
                                               const win::SECURITY_DESCRIPTOR* descriptor) {
    win::RPC_STATUS status = static_cast<win::RPC_STATUS>(faults_.Check("RpcServerUseProtseqEpW"));
    std::lock_guard<std::mutex> lock(lock_);
    // The process already listens there (an earlier start of the server in this process).
    if (status == win::RPC_S_OK && endpointOpen_) status = win::RPC_S_DUPLICATE_ENDPOINT;
    if (status == win::RPC_S_OK) endpointOpen_ = true;
    endpointUses_.push_back({protseq, maxCalls, endpoint, descriptor ? *descriptor : win::SECURITY_DESCRIPTOR{},
                             status});
    return status;
}

win::RPC_STATUS SimRpc::RpcServerInqBindings(win::RPC_BINDING_VECTOR* vector) {
    if (auto e = faults_.Check("RpcServerInqBindings")) return static_cast<win::RPC_STATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    if (!endpointOpen_) return win::RPC_S_NO_BINDINGS;
    const std::uint64_t h = handles_.Open("BindingVector");
    vectors_.insert(h);
    *vector = static_cast<win::RPC_BINDING_VECTOR>(h);
    return win::RPC_S_OK;
}

win::RPC_STATUS SimRpc::RpcBindingVectorFree(win::RPC_BINDING_VECTOR* vector) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(*vector);
    if (!vectors_.erase(h) || !handles_.Close(h, "BindingVector")) {
        ++badVectorUses_;
        return kInvalidBinding;
    }
    *vector = win::RPC_BINDING_VECTOR{};
    return win::RPC_S_OK;
}

bool SimRpc::ValidVector(win::RPC_BINDING_VECTOR vector) const {
    return vectors_.count(static_cast<std::uint64_t>(vector)) != 0;
}

win::RPC_STATUS SimRpc::RpcEpUnregister(win::RPC_IF_HANDLE, win::RPC_BINDING_VECTOR vector) {
    if (auto e = faults_.Check("RpcEpUnregister")) return static_cast<win::RPC_STATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    if (!ValidVector(vector)) {
        ++badVectorUses_;
        return kInvalidBinding;
    }
    epMapEntries_ = 0;
    return win::RPC_S_OK;
}

win::RPC_STATUS SimRpc::RpcEpRegisterW(win::RPC_IF_HANDLE, win::RPC_BINDING_VECTOR vector) {
    if (auto e = faults_.Check("RpcEpRegisterW")) return static_cast<win::RPC_STATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    if (!ValidVector(vector)) {
        ++badVectorUses_;
        return kInvalidBinding;
    }
    epMapEntries_ = 1;
    return win::RPC_S_OK;
}

win::RPC_STATUS SimRpc::RpcServerRegisterIf3(win::RPC_IF_HANDLE ifHandle, unsigned flags, unsigned maxCalls,
                                             unsigned maxRpcSize, const win::SECURITY_DESCRIPTOR* descriptor) {
    if (auto e = faults_.Check("RpcServerRegisterIf3")) return static_cast<win::RPC_STATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    registered_ = Registration{ifHandle, flags, maxCalls, maxRpcSize,
                               descriptor ? *descriptor : win::SECURITY_DESCRIPTOR{}};
    return win::RPC_S_OK;
}

win::RPC_STATUS SimRpc::RpcServerListen(unsigned, unsigned, unsigned dontWait) {
    if (auto e = faults_.Check("RpcServerListen")) return static_cast<win::RPC_STATUS>(e);
    std::unique_lock<std::mutex> lock(lock_);
    ++listenCalls_;
    if (dontWait == 0 && listenBlocks_) listenEnded_.wait(lock, [&] { return listenEnd_; });
    return listenResult_;
}

win::RPC_STATUS SimRpc::RpcServerUnregisterIf(win::RPC_IF_HANDLE, unsigned) {
    if (auto e = faults_.Check("RpcServerUnregisterIf")) return static_cast<win::RPC_STATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    if (!registered_) return kUnknownIf;
    registered_.reset();
    return win::RPC_S_OK;
}

void SimRpc::AddStaleRegistration() {
    std::lock_guard<std::mutex> lock(lock_);
    endpointOpen_ = true;
    epMapEntries_ = 1;
}

void SimRpc::SetListenResult(win::RPC_STATUS status) {
    std::lock_guard<std::mutex> lock(lock_);
    listenResult_ = status;
}

void SimRpc::SetListenBlocks(bool on) {
    std::lock_guard<std::mutex> lock(lock_);
    listenBlocks_ = on;
}

void SimRpc::EndListening() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        listenEnd_ = true;
    }
    listenEnded_.notify_all();
}

std::optional<SimRpc::Registration> SimRpc::Registered() const {
    std::lock_guard<std::mutex> lock(lock_);
    return registered_;
}

std::vector<SimRpc::EndpointUse> SimRpc::EndpointUses() const {
    std::lock_guard<std::mutex> lock(lock_);
    return endpointUses_;
}

int SimRpc::EndpointMapEntries() const {
    std::lock_guard<std::mutex> lock(lock_);
    return epMapEntries_;
}

int SimRpc::ListenCalls() const {
    std::lock_guard<std::mutex> lock(lock_);
    return listenCalls_;
}

int SimRpc::BadVectorUses() const {
    std::lock_guard<std::mutex> lock(lock_);
    return badVectorUses_;
}

}  // namespace sim
