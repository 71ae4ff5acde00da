// Thread-pool facet: work items on the system's thread pool.
#pragma once

#include "platform/platform.h"

namespace win {

// QueueUserWorkItem: the item runs on a pool thread that may run for long.
inline constexpr ULONG WT_EXECUTELONGFUNCTION = 0x00000010;

// The body of a work item, called with the context given when it was created or queued.
using WorkCallback = void (*)(void* context);

class Threads {
public:
    virtual ~Threads() = default;

    // CreateThreadpoolWork(callback, context, default environment). The item lives until
    // the process ends (nothing here closes it). *work is untouched on failure.
    virtual DWORD CreateThreadpoolWork(WorkCallback callback, void* context, PTP_WORK* work) = 0;
    // SubmitThreadpoolWork: one more run of the item on a pool thread. Cannot fail.
    virtual void SubmitThreadpoolWork(PTP_WORK work) = 0;

    // QueueUserWorkItem(function, context, flags): one run of function(context) on a pool
    // thread. On failure nothing runs and the error is returned.
    virtual DWORD QueueUserWorkItem(WorkCallback function, void* context, ULONG flags) = 0;

    // CreateThread(no attributes, default stack, function, context, runs at once): a thread
    // of its own for the life of a loop. The handle is signalled when the thread has ended,
    // so the Synchronization waits take it; close it with CloseThreadHandle (UniqueThread).
    // *thread is untouched on failure, and then nothing runs.
    virtual DWORD CreateThread(WorkCallback function, void* context, HANDLE* thread) = 0;
    virtual DWORD CloseThreadHandle(HANDLE thread) = 0;
};

inline Threads& Thr() { return *P().threads; }

}  // namespace win
