#include "platform/sim/sim_threads.h"

#include <algorithm>

#include "platform/sim/sim_sync.h"

namespace sim {

struct SimThreads::Fiber {
    enum class State { Running, Parked, Done };
    Item item;
    std::thread thread;
    State state = State::Running;
    std::function<bool()> ready;  // what a parked item waits for
    bool cancel = false;
    std::exception_ptr error;
};

namespace {
// The cooperative item the calling thread runs, and the pool it belongs to.
thread_local const SimThreads* tOwner = nullptr;
thread_local void* tFiber = nullptr;
}  // namespace

SimThreads::SimThreads(FaultPlan& faults, HandleTable&) : faults_(faults) {}

SimThreads::~SimThreads() { Shutdown(); }

win::DWORD SimThreads::CreateThreadpoolWork(win::WorkCallback callback, void* context, win::PTP_WORK* work) {
    if (auto e = faults_.Check("CreateThreadpoolWork")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    works_.push_back({callback, context});
    *work = static_cast<win::PTP_WORK>(works_.size());
    return win::ERROR_SUCCESS;
}

void SimThreads::SubmitThreadpoolWork(win::PTP_WORK work) {
    Item item;
    {
        std::lock_guard<std::mutex> lock(lock_);
        const auto index = static_cast<std::size_t>(work);
        // Windows would crash on a work item it never created; make that loud here.
        if (index == 0 || index > works_.size()) throw std::logic_error("SubmitThreadpoolWork: unknown work item");
        item = works_[index - 1];
        history_.push_back({"work", 0});
    }
    Dispatch(item);
}

win::DWORD SimThreads::QueueUserWorkItem(win::WorkCallback function, void* context, win::ULONG flags) {
    if (auto e = faults_.Check("QueueUserWorkItem")) return e;
    {
        std::lock_guard<std::mutex> lock(lock_);
        history_.push_back({"queue", flags});
    }
    Dispatch({function, context});
    return win::ERROR_SUCCESS;
}

struct SimThreads::Dedicated {
    win::WorkCallback function;
    void* context;
    SimSync* sync;
    std::shared_ptr<SimSync::Waitable> object;
};

void SimThreads::RunDedicated(void* context) {
    auto* run = static_cast<Dedicated*>(context);
    struct SignalAtEnd {
        Dedicated* run;
        ~SignalAtEnd() { run->sync->Signal(run->object); }
    } atEnd{run};
    run->function(run->context);
}

void SimThreads::AttachSync(SimSync* sync) { sync_ = sync; }

win::DWORD SimThreads::CreateThread(win::WorkCallback function, void* context, win::HANDLE* thread) {
    if (auto e = faults_.Check("CreateThread")) return e;
    if (sync_ == nullptr) throw std::logic_error("SimThreads::CreateThread before AttachSync");
    if (thread == nullptr) return win::ERROR_INVALID_PARAMETER;
    const win::HANDLE handle = sync_->NewWaitable("Thread", true);
    // Taken before the pool's lock: waits hold the sync lock while they ask the pool's mode.
    auto reference = sync_->Reference(handle, "Thread");
    Dedicated* run;
    {
        std::lock_guard<std::mutex> lock(lock_);
        dedicated_.push_back(std::make_unique<Dedicated>(Dedicated{function, context, sync_, std::move(reference)}));
        run = dedicated_.back().get();
    }
    *thread = handle;
    Dispatch({&RunDedicated, run});
    return win::ERROR_SUCCESS;
}

win::DWORD SimThreads::CloseThreadHandle(win::HANDLE thread) {
    return sync_ != nullptr && sync_->CloseWaitable(thread, "Thread") ? win::ERROR_SUCCESS : win::ERROR_INVALID_HANDLE;
}

int SimThreads::ThreadsCreated() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(dedicated_.size());
}

void SimThreads::Dispatch(const Item& item) {
    Mode mode;
    {
        std::lock_guard<std::mutex> lock(lock_);
        mode = mode_;
        if (mode == Mode::Deferred) {
            pending_.push_back(item);
            return;
        }
        if (mode == Mode::RealThreads) {
            ++realRunning_;
            running_.emplace_back([this, item] {
                try {
                    item.callback(item.context);
                } catch (const ThreadCancelled&) {
                }
                std::lock_guard<std::mutex> lock(lock_);
                --realRunning_;
            });
            return;
        }
    }
    Start(item);
}

void SimThreads::FiberBody(Fiber* fiber) {
    tOwner = this;
    tFiber = fiber;
    try {
        fiber->item.callback(fiber->item.context);
    } catch (const ThreadCancelled&) {
    } catch (...) {
        fiber->error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(lock_);
        fiber->state = Fiber::State::Done;
    }
    switched_.notify_all();
}

void SimThreads::Start(const Item& item) {
    Fiber* fiber;
    {
        std::unique_lock<std::mutex> lock(lock_);
        fibers_.push_back(std::make_unique<Fiber>());
        fiber = fibers_.back().get();
        fiber->item = item;
        fiber->thread = std::thread(&SimThreads::FiberBody, this, fiber);
        switched_.wait(lock, [&] { return fiber->state != Fiber::State::Running; });
        if (fiber->state != Fiber::State::Done) return;
    }
    Collect(fiber);
}

void SimThreads::Resume(Fiber* fiber) {
    {
        std::unique_lock<std::mutex> lock(lock_);
        fiber->state = Fiber::State::Running;
        switched_.notify_all();
        switched_.wait(lock, [&] { return fiber->state != Fiber::State::Running; });
        if (fiber->state != Fiber::State::Done) return;
    }
    Collect(fiber);
}

// An item that ended: its thread is joined, and what it raised is raised to whoever let it run.
void SimThreads::Collect(Fiber* fiber) {
    fiber->thread.join();
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(lock_);
        error = fiber->error;
        std::erase_if(fibers_, [&](const std::unique_ptr<Fiber>& f) { return f.get() == fiber; });
    }
    if (error) std::rethrow_exception(error);
}

void SimThreads::Park(std::function<bool()> ready) {
    auto* fiber = static_cast<Fiber*>(tFiber);
    if (tOwner != this || fiber == nullptr) throw std::logic_error("SimThreads::Park outside a cooperative item");
    std::unique_lock<std::mutex> lock(lock_);
    if (fiber->cancel) throw ThreadCancelled{};
    fiber->ready = std::move(ready);
    fiber->state = Fiber::State::Parked;
    switched_.notify_all();
    switched_.wait(lock, [&] { return fiber->state == Fiber::State::Running; });
    fiber->ready = nullptr;
    if (fiber->cancel) throw ThreadCancelled{};
}

bool SimThreads::OnCooperativeItem() const { return tOwner == this && tFiber != nullptr; }

bool SimThreads::RunReady() {
    bool any = false;
    for (;;) {
        std::vector<Fiber*> parked;
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (const auto& f : fibers_)
                if (f->state == Fiber::State::Parked) parked.push_back(f.get());
        }
        // Only the thread in control runs, so the parked items' conditions are stable here.
        Fiber* next = nullptr;
        for (Fiber* f : parked) {
            if (f->ready && f->ready()) {
                next = f;
                break;
            }
        }
        if (next == nullptr) return any;
        Resume(next);
        any = true;
    }
}

void SimThreads::SetMode(Mode mode) {
    std::lock_guard<std::mutex> lock(lock_);
    mode_ = mode;
}

SimThreads::Mode SimThreads::CurrentMode() const {
    std::lock_guard<std::mutex> lock(lock_);
    return mode_;
}

int SimThreads::RunPending() {
    int ran = 0;
    for (;;) {
        if (RunReady()) continue;
        Item item;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (pending_.empty()) return ran;
            item = pending_.front();
            pending_.pop_front();
        }
        Start(item);
        ++ran;
    }
}

int SimThreads::PendingCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(pending_.size());
}

int SimThreads::WaitingCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    int n = blocked_;
    for (const auto& f : fibers_) n += f->state == Fiber::State::Parked;
    return n;
}

int SimThreads::UnfinishedCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(pending_.size() + fibers_.size()) + realRunning_;
}

void SimThreads::BlockedIn(int delta) {
    std::lock_guard<std::mutex> lock(lock_);
    blocked_ += delta;
}

void SimThreads::Join() {
    RunReady();
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (running_.empty()) return;
            threads.swap(running_);
        }
        for (auto& t : threads) t.join();
    }
}

bool SimThreads::ShuttingDown() const {
    std::lock_guard<std::mutex> lock(lock_);
    return shuttingDown_;
}

void SimThreads::OnShutdown(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(lock_);
    wakers_.push_back(std::move(wake));
}

void SimThreads::Shutdown() {
    std::vector<std::function<void()>> wakers;
    {
        std::lock_guard<std::mutex> lock(lock_);
        shuttingDown_ = true;
        wakers = wakers_;
    }
    for (auto& wake : wakers) wake();
    for (;;) {
        Fiber* parked = nullptr;
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (const auto& f : fibers_)
                if (f->state == Fiber::State::Parked) {
                    parked = f.get();
                    break;
                }
            if (parked) parked->cancel = true;
        }
        if (!parked) break;
        try {
            Resume(parked);
        } catch (...) {  // an item that fails while it unwinds has nothing more to say at teardown
        }
    }
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (running_.empty()) break;
            threads.swap(running_);
        }
        for (auto& t : threads) t.join();
    }
}

std::vector<SimThreads::Queued> SimThreads::History() const {
    std::lock_guard<std::mutex> lock(lock_);
    return history_;
}

}  // namespace sim
