// A failed RPC stub call raises its status as an SEH exception, and MinGW has no __try: a
// vectored handler jumps back to the guarded call on the same thread. Used by the test and
// benchmark clients that must go on calling after a failure.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace rpc_guard {

inline thread_local void** t_jump = nullptr;
inline thread_local DWORD t_status = 0;

// Install once per process (AddVectoredExceptionHandler(1, CatchRpcFailure)).
inline LONG CALLBACK CatchRpcFailure(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    // The run time raises Win32 error codes; faults and debugger notifications (0x4.../0xC...)
    // keep their usual path.
    if (t_jump == nullptr || code == 0 || code > 0xFFFF) return EXCEPTION_CONTINUE_SEARCH;
    t_status = code;
    void** jump = t_jump;
    t_jump = nullptr;
    __builtin_longjmp(jump, 1);
}

// 0, or the RPC status the call raised.
template <typename F>
__attribute__((noinline)) DWORD Guarded(F& call) {
    // Wine's rpcrt4 pushes try frames on the TEB's exception list; a jump past them leaves
    // them pointing into dead stack, so the list is put back before the caller goes on.
    NT_TIB* tib;
    asm volatile("movq %%gs:0x30, %0" : "=r"(tib));
    EXCEPTION_REGISTRATION_RECORD* const saved = tib->ExceptionList;
    void* jump[5];
    if (__builtin_setjmp(jump)) {
        tib->ExceptionList = saved;
        return t_status;
    }
    t_jump = jump;
    call();
    t_jump = nullptr;
    return 0;
}

inline DWORD Guarded(void (*call)(void*), void* arg) {
    auto body = [call, arg] { call(arg); };
    return Guarded(body);
}

}  // namespace rpc_guard
