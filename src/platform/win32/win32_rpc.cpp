#include "platform/rpc.h"
#include "platform/win32/win32_common.h"

#include <rpc.h>

// Exported by rpcrt4 since Windows 8 but not declared in MinGW's headers.
extern "C" RPC_STATUS RPC_ENTRY RpcServerRegisterIf3(RPC_IF_HANDLE IfSpec, UUID* MgrTypeUuid, RPC_MGR_EPV* MgrEpv,
                                                      unsigned int Flags, unsigned int MaxCalls,
                                                      unsigned int MaxRpcSize, RPC_IF_CALLBACK_FN* IfCallback,
                                                      void* SecurityDescriptor);

namespace win32 {
namespace {

RPC_IF_HANDLE IfHandle(win::RPC_IF_HANDLE h) { return Raw<void>(h); }
RPC_BINDING_VECTOR* Vector(win::RPC_BINDING_VECTOR v) { return Raw<RPC_BINDING_VECTOR>(v); }
void* Descriptor(const win::SECURITY_DESCRIPTOR* d) {
    return d ? const_cast<win::BYTE*>(d->opaque) : nullptr;
}

class Win32Rpc : public win::RpcRuntime {
public:
    win::RPC_STATUS RpcServerUseProtseqEpW(const wchar_t* protseq, unsigned maxCalls, const wchar_t* endpoint,
                                           const win::SECURITY_DESCRIPTOR* descriptor) override {
        return ::RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(protseq)), maxCalls,
                                        reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(endpoint)),
                                        Descriptor(descriptor));
    }
    win::RPC_STATUS RpcServerInqBindings(win::RPC_BINDING_VECTOR* vector) override {
        RPC_BINDING_VECTOR* v = nullptr;
        RPC_STATUS status = ::RpcServerInqBindings(&v);
        if (status == RPC_S_OK) *vector = Wrap<win::RPC_BINDING_VECTOR>(v);
        return status;
    }
    win::RPC_STATUS RpcBindingVectorFree(win::RPC_BINDING_VECTOR* vector) override {
        RPC_BINDING_VECTOR* v = Vector(*vector);
        RPC_STATUS status = ::RpcBindingVectorFree(&v);
        if (status == RPC_S_OK) *vector = win::RPC_BINDING_VECTOR{};
        return status;
    }
    win::RPC_STATUS RpcEpUnregister(win::RPC_IF_HANDLE ifHandle, win::RPC_BINDING_VECTOR vector) override {
        return ::RpcEpUnregister(IfHandle(ifHandle), Vector(vector), nullptr);
    }
    win::RPC_STATUS RpcEpRegisterW(win::RPC_IF_HANDLE ifHandle, win::RPC_BINDING_VECTOR vector) override {
        return ::RpcEpRegisterW(IfHandle(ifHandle), Vector(vector), nullptr, nullptr);
    }
    win::RPC_STATUS RpcServerRegisterIf3(win::RPC_IF_HANDLE ifHandle, unsigned flags, unsigned maxCalls,
                                         unsigned maxRpcSize, const win::SECURITY_DESCRIPTOR* descriptor) override {
        return ::RpcServerRegisterIf3(IfHandle(ifHandle), nullptr, nullptr, flags, maxCalls, maxRpcSize, nullptr,
                                      Descriptor(descriptor));
    }
    win::RPC_STATUS RpcServerListen(unsigned minThreads, unsigned maxCalls, unsigned dontWait) override {
        return ::RpcServerListen(minThreads, maxCalls, dontWait);
    }
    win::RPC_STATUS RpcServerUnregisterIf(win::RPC_IF_HANDLE ifHandle, unsigned waitForCallsToComplete) override {
        return ::RpcServerUnregisterIf(IfHandle(ifHandle), nullptr, waitForCallsToComplete);
    }
};

}  // namespace

win::RpcRuntime& RpcRuntime() {
    static Win32Rpc instance;
    return instance;
}

}  // namespace win32
