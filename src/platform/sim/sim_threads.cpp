#include "platform/sim/sim_threads.h"

namespace sim {

SimThreads::~SimThreads() { Join(); }

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
            running_.emplace_back([item] { item.callback(item.context); });
            return;
        }
    }
    item.callback(item.context);
}

void SimThreads::SetMode(Mode mode) {
    std::lock_guard<std::mutex> lock(lock_);
    mode_ = mode;
}

int SimThreads::RunPending() {
    int ran = 0;
    for (;;) {
        Item item;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (pending_.empty()) return ran;
            item = pending_.front();
            pending_.pop_front();
        }
        item.callback(item.context);
        ++ran;
    }
}

int SimThreads::PendingCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(pending_.size());
}

void SimThreads::Join() {
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

std::vector<SimThreads::Queued> SimThreads::History() const {
    std::lock_guard<std::mutex> lock(lock_);
    return history_;
}

}  // namespace sim
