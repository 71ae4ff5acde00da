#include "monitors/monitor_runs.h"

#include "platform/sync.h"
#include "platform/system.h"

namespace tavo {
namespace {
void Set(const MonitorRuns::StopEvent& stop) {
    if (stop && *stop) win::Sync().SetEvent(stop->get());
}
}  // namespace

MonitorRuns::Ticket MonitorRuns::Issue() const {
    std::lock_guard<std::mutex> lock(lock_);
    return stops_;
}

MonitorRuns::Run::Run(MonitorRuns& runs, Ticket ticket) : runs_(runs), ticket_(ticket) {
    std::lock_guard<std::mutex> lock(runs_.lock_);
    id_ = ++runs_.begun_;
    ++runs_.running_;
}

MonitorRuns::Run::~Run() {
    Withdraw();
    std::lock_guard<std::mutex> lock(runs_.lock_);
    --runs_.running_;
}

bool MonitorRuns::Run::Current() const {
    std::lock_guard<std::mutex> lock(runs_.lock_);
    return ticket_ == runs_.stops_ && id_ == runs_.begun_;
}

bool MonitorRuns::Run::Show(StopEvent stop) {
    StopEvent earlier;
    {
        std::lock_guard<std::mutex> lock(runs_.lock_);
        if (ticket_ != runs_.stops_ || id_ != runs_.begun_) return false;
        if (runs_.shownBy_ != id_) earlier = std::move(runs_.shown_);
        runs_.shown_ = std::move(stop);
        runs_.shownBy_ = id_;
    }
    Set(earlier);
    return true;
}

void MonitorRuns::Run::Withdraw() {
    StopEvent mine;  // released outside the lock: the close may be the last reference's
    std::lock_guard<std::mutex> lock(runs_.lock_);
    if (runs_.shownBy_ != id_) return;
    mine = std::move(runs_.shown_);
    runs_.shownBy_ = 0;
}

void MonitorRuns::StopAndPoll(int polls) {
    StopEvent stop;
    {
        std::lock_guard<std::mutex> lock(lock_);
        ++stops_;
        stop = shown_;
    }
    Set(stop);
    for (int poll = 0; poll < polls && Running(); ++poll) win::Sys().Sleep(kStopPollMs);
}

bool MonitorRuns::Running() const {
    std::lock_guard<std::mutex> lock(lock_);
    return running_ > 0;
}

MonitorRuns::StopEvent MonitorRuns::Shown() const {
    std::lock_guard<std::mutex> lock(lock_);
    return shown_;
}

}  // namespace tavo
