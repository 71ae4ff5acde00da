#include "settings/event_thread.h"

#include "log/trace_log.h"
#include "platform/sync.h"

namespace tavo {

void CloseEventSlot(std::atomic<win::HANDLE>& slot) {
    if (const win::HANDLE h = slot.exchange(win::HANDLE{}); h != win::HANDLE{}) win::Sync().CloseHandle(h);
}

void EndEventThreadAndCloseEvents(EventThreadLife& life, std::atomic<win::HANDLE>& thread,
                                  std::atomic<win::HANDLE>* events, int count, win::HANDLE exitEvent) {
    bool left = true;
    if (const win::HANDLE t = thread.exchange(win::HANDLE{}); t != win::HANDLE{}) {
        life.ends.fetch_add(1);
        bool told = exitEvent != win::HANDLE{} && win::Sync().SetEvent(exitEvent) == win::ERROR_SUCCESS;
        for (int i = 0; i < count && !told; ++i)
            if (const win::HANDLE e = events[i].load(); e != win::HANDLE{} && e != exitEvent)
                told = win::Sync().SetEvent(e) == win::ERROR_SUCCESS;
        left = win::Sync().WaitForSingleObject(t, kEventThreadEndWaitMs, nullptr) == win::WAIT_OBJECT_0;
        win::Thr().CloseThreadHandle(t);
    }
    std::lock_guard<std::mutex> hold(life.lock);
    for (int i = 0; i < count; ++i) {
        if (left || life.running == 0)
            CloseEventSlot(events[i]);
        else if (const win::HANDLE e = events[i].exchange(win::HANDLE{}); e != win::HANDLE{})
            life.handedOver.push_back(e);
    }
}

void StartEventThread(win::WorkCallback function, std::atomic<win::HANDLE>& thread, const char* tag,
                      EventThreadLife& life) {
    {
        std::lock_guard<std::mutex> hold(life.lock);
        ++life.running;
    }
    win::HANDLE started{};
    void* const context = reinterpret_cast<void*>(life.ends.load() + 1);
    // Without its thread the events are never answered: worth a line, though the start goes on.
    if (const win::DWORD error = win::Thr().CreateThread(function, context, &started); error == win::ERROR_SUCCESS) {
        thread = started;
    } else {
        LeaveEventThread(life);
        TraceLog("%s CreateThread Fail, GetLastError() = 0x%.8X", tag, static_cast<unsigned>(error));
    }
}

bool EventThreadEnded(const EventThreadLife& life, void* context) {
    const auto startedAfter = reinterpret_cast<std::uintptr_t>(context);
    return startedAfter != 0 && life.ends.load() >= startedAfter;
}

void LeaveEventThread(EventThreadLife& life) {
    std::vector<win::HANDLE> closing;
    {
        std::lock_guard<std::mutex> hold(life.lock);
        if (--life.running == 0) closing.swap(life.handedOver);
    }
    for (const win::HANDLE e : closing) win::Sync().CloseHandle(e);
}

EventLoopEnd WaitForEvents(const std::atomic<win::HANDLE>* events, int count,
                           const std::function<bool(int index, win::HANDLE event)>& onEvent,
                           const std::function<void()>& onOtherResult,
                           const std::function<bool()>& ended) {
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
        // The exit event's own handling still runs: it logs the thread's end.
        if (ended && indexOf[k] != count - 1 && ended()) return {EventLoopEnd::kHandled, win::ERROR_SUCCESS};
        if (!onEvent(indexOf[k], handles[k])) return {EventLoopEnd::kHandled, win::ERROR_SUCCESS};
    }
}

}  // namespace tavo
