// Serves the bare benchmark interface on its own ncalrpc endpoint until the process is ended.
// It is set up the way the service sets up its interface (backlog, flags, call limit, listen),
// so that a difference in round-trip cost comes from the service's procedures.
// Usage: rpc_bare_server [endpoint]
#include <windows.h>
#include <rpc.h>

#include <cstdio>

#include "rpc_bare.h"

// Exported by rpcrt4 but not declared in MinGW's headers.
extern "C" RPC_STATUS RPC_ENTRY RpcServerRegisterIf3(RPC_IF_HANDLE ifHandle, UUID* mgrType, RPC_MGR_EPV* mgrEpv,
                                                     unsigned flags, unsigned maxCalls, unsigned maxRpcSize,
                                                     RPC_IF_CALLBACK_FN* callback, void* descriptor);

namespace {

// As large as the per-client record the service keeps, so the open and rundown cost alike.
struct BareContext {
    long long samplePeriod = 100;
    bool stopped = false;
};

}  // namespace

extern "C" {

void* __RPC_USER MIDL_user_allocate(SIZE_T size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void __RPC_USER MIDL_user_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }

void __cdecl BareOpen(handle_t, TAVO_BARE_HANDLE* context) { *context = new BareContext; }

void __cdecl BareClose(TAVO_BARE_HANDLE* context) {
    delete static_cast<BareContext*>(*context);
    *context = nullptr;
}

void __cdecl BareEmpty(TAVO_BARE_HANDLE, LONG, LONG*) {}

void __RPC_USER TAVO_BARE_HANDLE_rundown(TAVO_BARE_HANDLE context) { delete static_cast<BareContext*>(context); }

}  // extern "C"

int wmain(int argc, wchar_t** argv) {
    wchar_t defaultEndpoint[] = L"TavoBareRpcEndpoint";
    wchar_t* endpoint = argc > 1 ? argv[1] : defaultEndpoint;
    auto* protseq = reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc"));

    // No security descriptor: Wine ignores the service's, and clients here are local anyway.
    RPC_STATUS status = RpcServerUseProtseqEpW(protseq, RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
                                               reinterpret_cast<RPC_WSTR>(endpoint), nullptr);
    if (status != RPC_S_OK) {
        std::printf("RpcServerUseProtseqEpW failed: %ld\n", status);
        return static_cast<int>(status);
    }
    status = RpcServerRegisterIf3(TavoBareRpcInterface_v1_0_s_ifspec, nullptr, nullptr,
                                  RPC_IF_AUTOLISTEN | RPC_IF_ALLOW_LOCAL_ONLY, RPC_C_LISTEN_MAX_CALLS_DEFAULT, 0,
                                  nullptr, nullptr);
    if (status != RPC_S_OK) {
        std::printf("RpcServerRegisterIf3 failed: %ld\n", status);
        return static_cast<int>(status);
    }
    // Clients bind by the static endpoint, so the endpoint map is not involved.
    std::printf("listening on ncalrpc:[%ls]\n", endpoint);
    std::fflush(stdout);

    status = RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, FALSE);
    // An auto-listen interface is served whatever the listen call did; stay until ended.
    std::printf("RpcServerListen returned %ld; serving on until the process is ended\n", status);
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
