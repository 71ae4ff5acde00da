#include "rpc/rpc_server.h"

#include <mutex>
#include <vector>

#include "common/process_state.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/security.h"
#include "platform/system.h"

namespace tavo {
namespace {

struct ServerState {
    // The vector RpcServerStart kept for the endpoint map; the withdrawal frees it. Start
    // and withdrawal may run on different threads. Held as the run time's handle, not an
    // owner: a process that ends without a stop just lets it go.
    std::mutex lock;
    win::RPC_BINDING_VECTOR bindings{};
};
ProcessWide<ServerState> server;

// Removes this interface's endpoint-map entries left by an earlier registration. Returns
// the status of the binding inquiry.
win::RPC_STATUS CleanUpStaleEndpoint() {
    win::UniqueBindingVector stale;
    const win::RPC_STATUS status = win::Rpc().RpcServerInqBindings(stale.put());
    if (stale)
        win::Rpc().RpcEpUnregister(TouchpadInterfaceHandle(), stale.get());
    else
        TraceLog("BindingVector is nullptr\n");
    return status;
}

}  // namespace

win::DWORD BuildRpcSecurity(RpcSecurity* security) {
    std::vector<win::PSID> groupRaw, capabilityRaw;
    win::DWORD status = win::Sec().DeriveCapabilitySidsFromName(kRpcCapabilityName, &groupRaw, &capabilityRaw);
    for (win::PSID s : groupRaw) security->groupSids.emplace_back(s);
    for (win::PSID s : capabilityRaw) security->capabilitySids.emplace_back(s);
    if (status != win::ERROR_SUCCESS) return status;
    if (security->capabilitySids.size() != 1) return win::ERROR_INVALID_PARAMETER;

    const win::DWORD worldRid = win::SECURITY_WORLD_RID;
    status = win::Sec().AllocateAndInitializeSid(win::SECURITY_WORLD_SID_AUTHORITY, 1, &worldRid,
                                                 security->everyone.put());
    if (status != win::ERROR_SUCCESS) return status;

    const win::EXPLICIT_ACCESS_W entries[2] = {
        {win::GENERIC_ALL, win::SET_ACCESS, win::NO_INHERITANCE, win::TRUSTEE_IS_SID,
         win::TRUSTEE_IS_WELL_KNOWN_GROUP, security->everyone.get()},
        {win::GENERIC_ALL, win::SET_ACCESS, win::NO_INHERITANCE, win::TRUSTEE_IS_SID, win::TRUSTEE_IS_UNKNOWN,
         security->capabilitySids[0].get()},
    };
    status = win::Sec().SetEntriesInAclW(2, entries, security->acl.put());
    if (status != win::ERROR_SUCCESS) return status;

    status = win::Sec().InitializeSecurityDescriptor(&security->descriptor, win::SECURITY_DESCRIPTOR_REVISION);
    if (status != win::ERROR_SUCCESS) return status;
    return win::Sec().SetSecurityDescriptorDacl(&security->descriptor, true, security->acl.get(), false);
}

namespace {

win::DWORD SecureAndServe() {
    // Everything acquired here is released when this returns, whatever the outcome.
    RpcSecurity security;
    win::DWORD status = BuildRpcSecurity(&security);
    if (status != win::ERROR_SUCCESS) return status;
    const win::SECURITY_DESCRIPTOR& descriptor = security.descriptor;

    const win::RPC_IF_HANDLE ifHandle = TouchpadInterfaceHandle();
    for (int attempt = 1; attempt <= kRpcEndpointAttempts; ++attempt) {
        win::RPC_STATUS result = win::Rpc().RpcServerUseProtseqEpW(
            kRpcProtocolSequence, win::RPC_C_PROTSEQ_MAX_REQS_DEFAULT, kRpcEndpoint, &descriptor);
        TraceLog("RpcServerUseProtseqEp Result = %d\n", static_cast<int>(result));
        if (result == win::RPC_S_DUPLICATE_ENDPOINT) result = CleanUpStaleEndpoint();
        win::Sys().Sleep(kRpcEndpointPauseMs);
        if (result == win::RPC_S_OK) break;
    }

    status = static_cast<win::DWORD>(win::Rpc().RpcServerRegisterIf3(
        ifHandle, kRpcInterfaceFlags, win::RPC_C_LISTEN_MAX_CALLS_DEFAULT, 0, &descriptor));
    if (status != win::ERROR_SUCCESS) return status;

    win::RPC_BINDING_VECTOR vector{};
    status = static_cast<win::DWORD>(win::Rpc().RpcServerInqBindings(&vector));
    if (status != win::ERROR_SUCCESS) return status;
    {
        std::lock_guard<std::mutex> lock(server->lock);
        server->bindings = vector;
    }
    status = static_cast<win::DWORD>(win::Rpc().RpcEpRegisterW(ifHandle, vector));
    if (status != win::ERROR_SUCCESS) return status;

    status = static_cast<win::DWORD>(win::Rpc().RpcServerListen(1, win::RPC_C_LISTEN_MAX_CALLS_DEFAULT, 0));
    if (status == static_cast<win::DWORD>(win::RPC_S_ALREADY_LISTENING)) status = win::ERROR_SUCCESS;
    return status;
}

}  // namespace

win::DWORD RpcServerStart() {
    const win::DWORD status = SecureAndServe();
    TraceLog("RpcServerStart::hResult=%d (=0)\n", static_cast<int>(status));
    return status;
}

void WithdrawRpcInterface() {
    const win::RPC_IF_HANDLE ifHandle = TouchpadInterfaceHandle();
    win::Rpc().RpcServerUnregisterIf(ifHandle, 0);
    std::lock_guard<std::mutex> lock(server->lock);
    // A server that never got its bindings has no endpoint-map entries to remove.
    if (server->bindings != win::RPC_BINDING_VECTOR{}) {
        win::Rpc().RpcEpUnregister(ifHandle, server->bindings);
        win::Rpc().RpcBindingVectorFree(&server->bindings);
        server->bindings = win::RPC_BINDING_VECTOR{};
    }
}

}  // namespace tavo
