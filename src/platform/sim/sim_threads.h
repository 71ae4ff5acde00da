// The simulated thread pool. Work runs in one of three ways, chosen by the scenario:
// deferred (queued until the test runs it, one item at a time, on the test's thread),
// inline (at once, on the caller's thread) or on real threads (joined by Join or at
// teardown, for the race checks).
#pragma once

#include <deque>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/threads.h"

namespace sim {

class SimThreads : public win::Threads {
public:
    enum class Mode { Deferred, Inline, RealThreads };

    SimThreads(FaultPlan& faults, HandleTable& handles) : faults_(faults) {}
    ~SimThreads() override;

    win::DWORD CreateThreadpoolWork(win::WorkCallback callback, void* context, win::PTP_WORK* work) override;
    void SubmitThreadpoolWork(win::PTP_WORK work) override;
    win::DWORD QueueUserWorkItem(win::WorkCallback function, void* context, win::ULONG flags) override;

    void SetMode(Mode mode);
    // Runs the deferred items in the order they were queued, including those that the
    // runs themselves queue; returns how many ran.
    int RunPending();
    int PendingCount() const;
    // Waits for every item started on a real thread.
    void Join();

    // Every item handed to the pool, in order: "work" for a thread-pool work run,
    // "queue" for QueueUserWorkItem, with the flags it was queued with.
    struct Queued {
        std::string kind;
        win::ULONG flags;
    };
    std::vector<Queued> History() const;

private:
    struct Item {
        win::WorkCallback callback;
        void* context;
    };
    void Dispatch(const Item& item);

    FaultPlan& faults_;
    mutable std::mutex lock_;
    Mode mode_ = Mode::Deferred;
    std::vector<Item> works_;  // index + 1 is the PTP_WORK value
    std::deque<Item> pending_;
    std::vector<Queued> history_;
    std::vector<std::thread> running_;
};

}  // namespace sim
