#include "win32_touchpad_service.h"

#include <windows.h>
#include <rpc.h>

#include <type_traits>

#include "touchpad_rpc.h"

// The client stub allocates through these; the service's own copies are not linked here.
extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
extern "C" void __RPC_USER MIDL_user_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }

namespace tavoctl {

namespace {

// A failed client call raises an SEH exception whose code is the RPC status. MinGW has no
// __try, so a vectored handler jumps back to the frame that made the call.
struct JumpTarget {
    void* buffer[5];
    volatile DWORD code;
};
thread_local JumpTarget* activeTarget = nullptr;

// What the RPC run time raises: an RPC status or Win32 error, or a fault the server sent
// (an NTSTATUS error raised with no parameters). A fault of our own process, such as an
// access violation, carries parameters and is left to crash visibly.
bool IsRaisedByRpc(const EXCEPTION_RECORD& record) {
    const DWORD code = record.ExceptionCode;
    return code <= 0xFFFF || ((code >> 30) == 3 && record.NumberParameters == 0);
}

LONG CALLBACK CatchRpcFailure(EXCEPTION_POINTERS* info) {
    // Exceptions outside a guarded call, or on another thread, are not ours.
    JumpTarget* target = activeTarget;
    if (target == nullptr || !IsRaisedByRpc(*info->ExceptionRecord)) return EXCEPTION_CONTINUE_SEARCH;
    activeTarget = nullptr;
    target->code = info->ExceptionRecord->ExceptionCode;
    __builtin_longjmp(target->buffer, 1);
}

// Kept out of line: the frame holding the jump buffer must outlive the call it guards.
__attribute__((noinline)) DWORD CallGuarded(void (*call)(void*), void* arg) {
    // Wine's rpcrt4 pushes its own try frames on the TEB's exception list; a jump past them
    // leaves them pointing into dead stack, so the list is put back as it was.
    NT_TIB* tib;
    // NtCurrentTeb() trips a false -Warray-bounds in GCC 12; the TIB's self pointer is read directly.
    asm("movq %%gs:0x30, %0" : "=r"(tib));
    EXCEPTION_REGISTRATION_RECORD* const savedList = tib->ExceptionList;
    JumpTarget target{};
    if (__builtin_setjmp(target.buffer) != 0) {
        tib->ExceptionList = savedList;
        return target.code;
    }
    activeTarget = &target;
    call(arg);
    activeTarget = nullptr;
    return 0;
}

template <typename F>
DWORD Guarded(F&& f) {
    using Fn = std::remove_reference_t<F>;
    return CallGuarded([](void* p) { (*static_cast<Fn*>(p))(); }, &f);
}

}  // namespace

Win32TouchpadService::Win32TouchpadService() : handler_(AddVectoredExceptionHandler(1, CatchRpcFailure)) {}

Win32TouchpadService::~Win32TouchpadService() {
    Close();
    if (binding_ != nullptr) RpcBindingFree(&binding_);
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
}

RpcStatus Win32TouchpadService::Open() {
    if (handler_ == nullptr) return GetLastError();
    RPC_WSTR text = nullptr;
    RPC_STATUS status = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                                 nullptr,
                                                 reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"HsaSampleRpcEndpoint2")),
                                                 nullptr, &text);
    if (status != RPC_S_OK) return status;
    status = RpcBindingFromStringBindingW(text, &binding_);
    RpcStringFreeW(&text);
    if (status != RPC_S_OK) return status;
    return Guarded([&] { OpenRpcEndpoint(binding_, &context_); });
}

void Win32TouchpadService::Close() {
    if (context_ == nullptr) return;
    // A service that is gone cannot close its end; the local half is freed regardless.
    if (Guarded([&] { CloseRpcEndpoint(&context_); }) != 0 && context_ != nullptr) {
        RpcSsDestroyClientContext(&context_);
    }
    context_ = nullptr;
}

RpcStatus Win32TouchpadService::GetStatus(std::uint8_t& status) {
    byte value = 0;
    const DWORD rc = Guarded([&] { ProcessGetTouchpadStatus(context_, &value); });
    if (rc == 0) status = value;
    return rc;
}

RpcStatus Win32TouchpadService::GetPalm(PalmValues& values) {
    TAVO_PALM_SETTINGS wire{};
    const DWORD rc = Guarded([&] { ProcessGetTouchpadSettings(context_, &wire); });
    if (rc == 0) values = {wire.level, wire.ranges[0], wire.ranges[1], wire.ranges[2], wire.ranges[3]};
    return rc;
}

RpcStatus Win32TouchpadService::SetPalm(const PalmValues& values) {
    TAVO_PALM_SETTINGS wire{values.level, {values.up, values.down, values.left, values.right}};
    return Guarded([&] { ProcessSetTouchpadSettings(context_, &wire); });
}

namespace {
// The interface's record is nine LONGs in the order of kForcepadFields.
static_assert(sizeof(TAVO_FORCEPAD_SETTINGS) == sizeof(LONG) * kForcepadFieldCount);
LONG* Fields(TAVO_FORCEPAD_SETTINGS& wire) { return &wire.CurrentControlItem; }
}  // namespace

RpcStatus Win32TouchpadService::GetForcepad(ForcepadValues& values) {
    TAVO_FORCEPAD_SETTINGS wire{};
    const DWORD rc = Guarded([&] { ProcessGetForcepadSettings(context_, &wire); });
    if (rc == 0) {
        for (std::size_t i = 0; i < kForcepadFieldCount; ++i) values[i] = Fields(wire)[i];
    }
    return rc;
}

RpcStatus Win32TouchpadService::SetForcepad(const ForcepadValues& values) {
    TAVO_FORCEPAD_SETTINGS wire{};
    for (std::size_t i = 0; i < kForcepadFieldCount; ++i) Fields(wire)[i] = values[i];
    return Guarded([&] { ProcessSetForcepadSettings(context_, &wire); });
}

RpcStatus Win32TouchpadService::GetData(std::int32_t function, std::int32_t& value) {
    LONG data = 0;
    const DWORD rc = Guarded([&] { ProcessGetTouchpadData(context_, function, &data); });
    if (rc == 0) value = data;
    return rc;
}

RpcStatus Win32TouchpadService::GetSupport(std::int32_t& value) {
    LONG result = 0;
    const DWORD rc = Guarded([&] { ProcessGetSupportFunction(context_, &result); });
    if (rc == 0) value = result;
    return rc;
}

RpcStatus Win32TouchpadService::StartMetering(std::int64_t first, std::int64_t second) {
    return Guarded([&] { ::StartMetering(context_, first, second); });
}

RpcStatus Win32TouchpadService::SetSamplePeriod(std::int64_t period) {
    return Guarded([&] { ::SetSamplePeriod(context_, period); });
}

RpcStatus Win32TouchpadService::StopMetering() {
    return Guarded([&] { ::StopMetering(context_); });
}

}  // namespace tavoctl
