// Test client: opens a metering context on the service's interface, makes the one call
// tavoctl has no command for (opnum 8), says so, and holds the context until the process
// is ended, so a test can end it and watch the service run down the context of a client
// that went away.
#include <windows.h>
#include <rpc.h>

#include <cstdio>

#include "touchpad_rpc.h"

extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
extern "C" void __RPC_USER MIDL_user_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }

int wmain() {
    RPC_WSTR text = nullptr;
    RPC_BINDING_HANDLE binding = nullptr;
    if (RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")), nullptr,
                                 reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"HsaSampleRpcEndpoint2")), nullptr,
                                 &text) != RPC_S_OK ||
        RpcBindingFromStringBindingW(text, &binding) != RPC_S_OK)
        return 1;
    RpcStringFreeW(&text);
    // A failed call raises; the test only starts this once the service answers.
    TAVO_METERING_HANDLE context = nullptr;
    OpenRpcEndpoint(binding, &context);
    ProcessExecuteMouseProperties(context);
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
