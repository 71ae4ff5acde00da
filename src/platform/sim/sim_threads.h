// The simulated thread pool. Work runs in one of three ways, chosen by the scenario:
// deferred (queued until the test runs it), inline (started at once by the caller) or on
// real threads (joined by Join or at teardown, for the race checks).
//
// Deferred and inline work is cooperative: each item runs on a thread of its own, but only
// one thread of the machine runs at a time. An item that waits for something nobody has
// signalled yet parks and hands control back; it runs again, up to its next wait, when the
// scenario lets it (RunPending, Join), when the thread in control sleeps or waits, and what
// it waits for can be had. So a monitor loop is stepped one wake-up at a time, in the same
// order on every run.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/threads.h"

namespace sim {

class SimSync;

// Thrown into a parked or blocked item when the machine is torn down, so that it unwinds
// and releases what it holds. Nothing but the scheduler catches it.
struct ThreadCancelled {};

class SimThreads : public win::Threads {
public:
    enum class Mode { Deferred, Inline, RealThreads };

    SimThreads(FaultPlan& faults, HandleTable& handles);
    ~SimThreads() override;

    win::DWORD CreateThreadpoolWork(win::WorkCallback callback, void* context, win::PTP_WORK* work) override;
    void SubmitThreadpoolWork(win::PTP_WORK work) override;
    win::DWORD QueueUserWorkItem(win::WorkCallback function, void* context, win::ULONG flags) override;
    // A dedicated thread runs in the pool's mode like a work item; its handle ("Thread") is
    // an object of sync that is signalled when the function has returned.
    win::DWORD CreateThread(win::WorkCallback function, void* context, win::HANDLE* thread) override;
    win::DWORD CloseThreadHandle(win::HANDLE thread) override;
    // The machine hands over its events and waits before anything runs.
    void AttachSync(SimSync* sync);
    // Dedicated threads created so far.
    int ThreadsCreated() const;

    void SetMode(Mode mode);
    Mode CurrentMode() const;
    // Runs the deferred items in the order they were queued, including those that the runs
    // themselves queue, and lets every parked item whose wait can now complete run on;
    // returns how many items were started.
    int RunPending();
    int PendingCount() const;
    // Waits for every item started on a real thread, and lets parked items whose waits can
    // complete run on. Items still waiting for something stay parked.
    void Join();
    // Parked items, and items blocked on real threads, that wait for something.
    int WaitingCount() const;
    // Items not yet ended: pending, parked, or running on real threads.
    int UnfinishedCount() const;
    // Ends every item still waiting (ThreadCancelled) and joins every thread. The machine
    // calls it before its facets go.
    void Shutdown();

    // Every item handed to the pool, in order: "work" for a thread-pool work run,
    // "queue" for QueueUserWorkItem, with the flags it was queued with.
    struct Queued {
        std::string kind;
        win::ULONG flags;
    };
    std::vector<Queued> History() const;

    // ---- for the other simulated facets ----
    // Whether the calling thread is a cooperative item.
    bool OnCooperativeItem() const;
    // Lets every parked item whose wait can complete run until it parks again or ends;
    // true when any ran. The caller must be the thread in control.
    bool RunReady();
    // On a cooperative item: parks until ready() holds and the item is let run again.
    // Throws ThreadCancelled at teardown.
    void Park(std::function<bool()> ready);
    bool ShuttingDown() const;
    // Called at Shutdown, so that facets wake the real threads they keep blocked.
    void OnShutdown(std::function<void()> wake);
    // Real-thread waits count themselves in and out for WaitingCount.
    void BlockedIn(int delta);

private:
    struct Item {
        win::WorkCallback callback;
        void* context;
    };
    struct Fiber;
    struct Dedicated;
    static void RunDedicated(void* context);
    void Dispatch(const Item& item);
    void Start(const Item& item);
    void Resume(Fiber* fiber);
    void Collect(Fiber* fiber);
    void FiberBody(Fiber* fiber);

    FaultPlan& faults_;
    mutable std::mutex lock_;
    std::condition_variable switched_;
    Mode mode_ = Mode::Deferred;
    std::vector<Item> works_;  // index + 1 is the PTP_WORK value
    std::deque<Item> pending_;
    std::vector<Queued> history_;
    std::vector<std::thread> running_;
    std::vector<std::unique_ptr<Fiber>> fibers_;  // started cooperative items, in start order
    std::vector<std::function<void()>> wakers_;
    SimSync* sync_ = nullptr;
    // Kept until the pool goes: a deferred thread may never be started.
    std::vector<std::unique_ptr<Dedicated>> dedicated_;
    bool shuttingDown_ = false;
    int blocked_ = 0;
    int realRunning_ = 0;
};

}  // namespace sim
