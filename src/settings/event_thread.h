// A dedicated thread that waits on a fixed set of named events, one slot each, and hands
// every wake to its owner's handling; the last slot's event ends it. The API events and the
// pointing-stick monitor are two such threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/threads.h"
#include "platform/wintypes.h"

namespace tavo {

// How long teardown, and a second start, wait for an event thread to end.
inline constexpr win::DWORD kEventThreadEndWaitMs = 1000;

// What an event thread and whoever ends it share. A thread the end could not see leave (its
// exit event missing or not set, the wait failed or timed out) still waits on its events:
// they are handed to it and it closes them as it leaves, so no handle it may use is closed
// under it. An end also tells the threads started before it to leave at their next wake.
struct EventThreadLife {
    std::mutex lock;
    int running = 0;                       // threads started and not yet left
    std::vector<win::HANDLE> handedOver;   // closed by the last thread to leave
    std::atomic<std::uintptr_t> ends{0};   // ends so far; a thread started after n of them runs until n + 1
};

// Starts an event thread into its slot; a failure is logged as "<tag> CreateThread Fail, ...".
// The thread's context tells EventThreadEnded when it is asked to leave; the thread calls
// LeaveEventThread last.
void StartEventThread(win::WorkCallback function, std::atomic<win::HANDLE>& thread, const char* tag,
                      EventThreadLife& life);
bool EventThreadEnded(const EventThreadLife& life, void* context);
void LeaveEventThread(EventThreadLife& life);
// Sets exitEvent (when there is one), waits for the thread at most kEventThreadEndWaitMs,
// closes its handle, then closes every event in slot order, clearing the slots; a thread
// still running gets the events instead. Without an exit event that could be set, another
// of the events wakes the thread. Nothing but the events when no thread runs.
void EndEventThreadAndCloseEvents(EventThreadLife& life, std::atomic<win::HANDLE>& thread,
                                  std::atomic<win::HANDLE>* events, int count, win::HANDLE exitEvent);
// Closes the event a slot holds, if any, and clears the slot.
void CloseEventSlot(std::atomic<win::HANDLE>& slot);

// Why a wait loop ended.
struct EventLoopEnd {
    enum How { kHandled, kNoEvents, kWaitFailed } how;
    win::DWORD error;  // kWaitFailed: the wait's error
};

// Waits, again and again, on the events of the slots that exist (a missing one, whose
// creation failed, would fail every wait), the lowest index first when several are set.
// onEvent(index, handle) handles a wake; false ends the loop (the exit event), as does a wake
// other than the last slot's once ended() says the thread was asked to leave. A result that
// names no event goes to onOtherResult, when given, and the loop waits again. With no event
// left to wait on, or after a failed wait, the loop ends: a failed wait means a handle it
// waits on is no longer valid, which no retry mends.
EventLoopEnd WaitForEvents(const std::atomic<win::HANDLE>* events, int count,
                           const std::function<bool(int index, win::HANDLE event)>& onEvent,
                           const std::function<void()>& onOtherResult = nullptr,
                           const std::function<bool()>& ended = nullptr);

}  // namespace tavo
