// The settings application's local RPC endpoint: set-up, serving and withdrawal.
#pragma once

#include <vector>

#include "platform/handles.h"
#include "platform/rpc.h"
#include "platform/wintypes.h"

namespace tavo {

inline constexpr wchar_t kRpcProtocolSequence[] = L"ncalrpc";
inline constexpr wchar_t kRpcEndpoint[] = L"HsaSampleRpcEndpoint2";
inline constexpr wchar_t kRpcCapabilityName[] = L"Tavo.touchPad_9kd3wqhr2mxle";
inline constexpr int kRpcEndpointAttempts = 10;
inline constexpr win::DWORD kRpcEndpointPauseMs = 1000;
inline constexpr unsigned kRpcInterfaceFlags = win::RPC_IF_AUTOLISTEN | win::RPC_IF_ALLOW_LOCAL_ONLY;

// The interface handle of the server stub this build links.
win::RPC_IF_HANDLE TouchpadInterfaceHandle();

// The descriptor that secures the endpoint and the interface, with what it refers to:
// a DACL allowing Everyone and the settings application's capability SID all access.
// Members are released in reverse order, the descriptor's ACL before its SIDs.
struct RpcSecurity {
    std::vector<win::UniqueCapabilitySid> groupSids;
    std::vector<win::UniqueCapabilitySid> capabilitySids;
    win::UniqueSid everyone;
    win::UniqueAcl acl;
    win::SECURITY_DESCRIPTOR descriptor{};
};
// Builds it; the status of the first step that fails, else 0. Exactly one capability SID
// must come back (87 otherwise).
win::DWORD BuildRpcSecurity(RpcSecurity* security);

// Secures, registers and serves the interface; returns when listening ends (0) or when a
// step fails (that step's status). Everything it acquired for the set-up is released.
win::DWORD RpcServerStart();

// Withdraws the interface: unregisters it without waiting for calls in progress and
// removes its endpoint-map entries for the kept binding vector, which it then frees.
// Listening is not ended.
void WithdrawRpcInterface();

}  // namespace tavo
