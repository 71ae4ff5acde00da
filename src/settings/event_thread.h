// A dedicated thread that waits on a fixed set of named events, one slot each, and hands
// every wake to its owner's handling; the last slot's event ends it. The API events and the
// pointing-stick monitor are two such threads.
#pragma once

#include <atomic>
#include <functional>

#include "platform/threads.h"
#include "platform/wintypes.h"

namespace tavo {

// How long teardown, and a second start, wait for an event thread to end.
inline constexpr win::DWORD kEventThreadEndWaitMs = 1000;

// Starts an event thread into its slot; a failure is logged as "<tag> CreateThread Fail, ...".
void StartEventThread(win::WorkCallback function, std::atomic<win::HANDLE>& thread, const char* tag);
// Sets exitEvent (when there is one), waits for the thread at most kEventThreadEndWaitMs and
// closes its handle; the slot is cleared. Nothing when no thread runs.
void EndEventThread(std::atomic<win::HANDLE>& thread, win::HANDLE exitEvent);
// Ends the thread through the event in events[exitIndex], then closes every event in slot
// order, clearing the slots.
void EndEventThreadAndCloseEvents(std::atomic<win::HANDLE>& thread, std::atomic<win::HANDLE>* events, int count,
                                  int exitIndex);
// Closes the event a slot holds, if any, and clears the slot.
void CloseEventSlot(std::atomic<win::HANDLE>& slot);

// Why a wait loop ended.
struct EventLoopEnd {
    enum How { kHandled, kNoEvents, kWaitFailed } how;
    win::DWORD error;  // kWaitFailed: the wait's error
};

// Waits, again and again, on the events of the slots that exist (a missing one, whose
// creation failed, would fail every wait), the lowest index first when several are set.
// onEvent(index, handle) handles a wake; false ends the loop (the exit event). A result that
// names no event goes to onOtherResult, when given, and the loop waits again. With no event
// left to wait on, or after a failed wait, the loop ends: a failed wait means a handle it
// waits on is no longer valid, which no retry mends.
EventLoopEnd WaitForEvents(const std::atomic<win::HANDLE>* events, int count,
                           const std::function<bool(int index, win::HANDLE event)>& onEvent,
                           const std::function<void()>& onOtherResult = nullptr);

}  // namespace tavo
