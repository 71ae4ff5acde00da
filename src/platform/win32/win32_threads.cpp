#include "platform/threads.h"
#include "platform/win32/win32_common.h"

#include <memory>
#include <new>

namespace win32 {
namespace {

struct Thunk {
    win::WorkCallback callback;
    void* context;
};

VOID CALLBACK RunWork(PTP_CALLBACK_INSTANCE, PVOID context, PTP_WORK) {
    const auto* thunk = static_cast<const Thunk*>(context);
    thunk->callback(thunk->context);
}

DWORD WINAPI RunQueued(LPVOID context) {
    std::unique_ptr<Thunk> thunk(static_cast<Thunk*>(context));
    thunk->callback(thunk->context);
    return 0;
}

class Win32Threads : public win::Threads {
public:
    win::DWORD CreateThreadpoolWork(win::WorkCallback callback, void* context, win::PTP_WORK* work) override {
        // Lives as long as the work item, which lives as long as the process.
        auto* thunk = new (std::nothrow) Thunk{callback, context};
        if (thunk == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        ::PTP_WORK created = ::CreateThreadpoolWork(&RunWork, thunk, nullptr);
        if (created == nullptr) {
            DWORD error = ::GetLastError();
            delete thunk;
            return error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY;
        }
        *work = Wrap<win::PTP_WORK>(created);
        return ERROR_SUCCESS;
    }

    void SubmitThreadpoolWork(win::PTP_WORK work) override { ::SubmitThreadpoolWork(Raw<TP_WORK>(work)); }

    win::DWORD QueueUserWorkItem(win::WorkCallback function, void* context, win::ULONG flags) override {
        std::unique_ptr<Thunk> thunk(new (std::nothrow) Thunk{function, context});
        if (!thunk) return ERROR_NOT_ENOUGH_MEMORY;
        if (!::QueueUserWorkItem(&RunQueued, thunk.get(), flags)) {
            DWORD error = ::GetLastError();
            return error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY;
        }
        (void)thunk.release();  // the pool thread frees it
        return ERROR_SUCCESS;
    }

    win::DWORD CreateThread(win::WorkCallback function, void* context, win::HANDLE* thread) override {
        std::unique_ptr<Thunk> thunk(new (std::nothrow) Thunk{function, context});
        if (!thunk) return ERROR_NOT_ENOUGH_MEMORY;
        HANDLE h = ::CreateThread(nullptr, 0, &RunQueued, thunk.get(), 0, nullptr);
        if (h == nullptr) return FailureOr(FALSE);
        (void)thunk.release();  // the thread frees it
        *thread = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }

    win::DWORD CloseThreadHandle(win::HANDLE thread) override { return FailureOr(::CloseHandle(Raw<void>(thread))); }
};

}  // namespace

win::Threads& Threads() {
    static Win32Threads instance;
    return instance;
}

}  // namespace win32
