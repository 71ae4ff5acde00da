#include "settings/event_thread.h"

#include "log/trace_log.h"
#include "platform/sync.h"

namespace tavo {

void CloseEventSlot(std::atomic<win::HANDLE>& slot) {
    if (const win::HANDLE h = slot.exchange(win::HANDLE{}); h != win::HANDLE{}) win::Sync().CloseHandle(h);
}

void EndEventThread(std::atomic<win::HANDLE>& thread, win::HANDLE exitEvent) {
    const win::HANDLE t = thread.exchange(win::HANDLE{});
    if (t == win::HANDLE{}) return;
    if (exitEvent != win::HANDLE{}) win::Sync().SetEvent(exitEvent);
    win::Sync().WaitForSingleObject(t, kEventThreadEndWaitMs, nullptr);
    win::Thr().CloseThreadHandle(t);
}

void EndEventThreadAndCloseEvents(std::atomic<win::HANDLE>& thread, std::atomic<win::HANDLE>* events, int count,
                                  int exitIndex) {
    EndEventThread(thread, events[exitIndex].load());
    for (int i = 0; i < count; ++i) CloseEventSlot(events[i]);
}

void StartEventThread(win::WorkCallback function, std::atomic<win::HANDLE>& thread, const char* tag) {
    win::HANDLE started{};
    // Without its thread the events are never answered: worth a line, though the start goes on.
    if (const win::DWORD error = win::Thr().CreateThread(function, nullptr, &started); error == win::ERROR_SUCCESS)
        thread = started;
    else
        TraceLog("%s CreateThread Fail, GetLastError() = 0x%.8X", tag, static_cast<unsigned>(error));
}

EventLoopEnd WaitForEvents(const std::atomic<win::HANDLE>* events, int count,
                           const std::function<bool(int index, win::HANDLE event)>& onEvent,
                           const std::function<void()>& onOtherResult) {
    constexpr int kMostEvents = 64;  // MAXIMUM_WAIT_OBJECTS
    for (;;) {
        win::HANDLE handles[kMostEvents];
        int indexOf[kMostEvents];
        win::DWORD found = 0;
        for (int i = 0; i < count && i < kMostEvents; ++i) {
            if (const win::HANDLE h = events[i].load(); h != win::HANDLE{}) {
                handles[found] = h;
                indexOf[found++] = i;
            }
        }
        if (found == 0) return {EventLoopEnd::kNoEvents, win::ERROR_SUCCESS};
        win::DWORD error = win::ERROR_SUCCESS;
        const win::DWORD result = win::Sync().WaitForMultipleObjects(found, handles, false, win::INFINITE, &error);
        if (result == win::WAIT_FAILED) return {EventLoopEnd::kWaitFailed, error};
        if (result >= win::WAIT_OBJECT_0 + found) {
            if (onOtherResult) onOtherResult();
            continue;
        }
        const win::DWORD k = result - win::WAIT_OBJECT_0;
        if (!onEvent(indexOf[k], handles[k])) return {EventLoopEnd::kHandled, win::ERROR_SUCCESS};
    }
}

}  // namespace tavo
