// RPC run-time facet (rpcrt4): the server side calls the service makes to serve its one
// interface, with their RPC_STATUS results (0 is RPC_S_OK; the codes are Win32 error codes).
#pragma once

#include "platform/platform.h"
#include "platform/security.h"

namespace win {

using RPC_STATUS = LONG;

// The interface handle the generated server stub exports, and a binding vector
// handed out by RpcServerInqBindings (release with RpcBindingVectorFree).
enum class RPC_IF_HANDLE : std::uint64_t {};
enum class RPC_BINDING_VECTOR : std::uint64_t {};

inline constexpr RPC_STATUS RPC_S_OK = 0;
inline constexpr RPC_STATUS RPC_S_ALREADY_LISTENING = 1713;
inline constexpr RPC_STATUS RPC_S_NO_BINDINGS = 1718;
inline constexpr RPC_STATUS RPC_S_DUPLICATE_ENDPOINT = 1740;
inline constexpr unsigned RPC_C_PROTSEQ_MAX_REQS_DEFAULT = 10;
inline constexpr unsigned RPC_C_LISTEN_MAX_CALLS_DEFAULT = 1234;
// RPC_IF_AUTOLISTEN | RPC_IF_ALLOW_LOCAL_ONLY
inline constexpr unsigned RPC_IF_AUTOLISTEN = 0x0001;
inline constexpr unsigned RPC_IF_ALLOW_LOCAL_ONLY = 0x0020;

class RpcRuntime {
public:
    virtual ~RpcRuntime() = default;

    virtual RPC_STATUS RpcServerUseProtseqEpW(const wchar_t* protseq, unsigned maxCalls, const wchar_t* endpoint,
                                              const SECURITY_DESCRIPTOR* descriptor) = 0;
    // *vector is untouched on failure.
    virtual RPC_STATUS RpcServerInqBindings(RPC_BINDING_VECTOR* vector) = 0;
    // Frees the vector and sets it to none.
    virtual RPC_STATUS RpcBindingVectorFree(RPC_BINDING_VECTOR* vector) = 0;
    // No object UUIDs.
    virtual RPC_STATUS RpcEpUnregister(RPC_IF_HANDLE ifHandle, RPC_BINDING_VECTOR vector) = 0;
    virtual RPC_STATUS RpcEpRegisterW(RPC_IF_HANDLE ifHandle, RPC_BINDING_VECTOR vector) = 0;
    // No manager type UUID, the default manager entry points, no security callback.
    virtual RPC_STATUS RpcServerRegisterIf3(RPC_IF_HANDLE ifHandle, unsigned flags, unsigned maxCalls,
                                            unsigned maxRpcSize, const SECURITY_DESCRIPTOR* descriptor) = 0;
    virtual RPC_STATUS RpcServerListen(unsigned minThreads, unsigned maxCalls, unsigned dontWait) = 0;
    // No manager type UUID.
    virtual RPC_STATUS RpcServerUnregisterIf(RPC_IF_HANDLE ifHandle, unsigned waitForCallsToComplete) = 0;
};

inline RpcRuntime& Rpc() { return *P().rpc; }

}  // namespace win
