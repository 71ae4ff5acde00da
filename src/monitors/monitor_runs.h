// The runs of one kind of monitor (the toggle-flag monitor, the folder watcher) as those who
// end them see them. A run shows its stop event here while it runs, and a stopper sets the
// event it finds. The event is shared: the run holds it, and so does a stopper while it sets
// it; the last to let go closes it. So no stopper ever sets a closed handle, which the system
// may already have handed out again for some other object.
//
// Each run is queued with a ticket. A stop reaches every run queued before it: the one that
// runs through its event, those not yet begun as they begin (they end at once).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/handles.h"
#include "platform/wintypes.h"

namespace tavo {

// How those who end a monitor poll for it to be gone.
inline constexpr win::DWORD kStopPollMs = 100;

class MonitorRuns {
public:
    using StopEvent = std::shared_ptr<win::UniqueEvent>;
    using Ticket = std::uint64_t;

    // For a run about to be queued.
    Ticket Issue() const;

    // One run, from its start to its end.
    class Run {
    public:
        Run(MonitorRuns& runs, Ticket ticket);
        ~Run();  // withdraws its event; the run's last touch of its MonitorRuns
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;

        // False once a stop has come after the run's ticket, or a later run has begun: the
        // run is to end.
        bool Current() const;
        // Shows the run's stop event (null or empty shows nothing). A run that still shows
        // one was begun earlier and missed the stop meant for it: it is asked to end now.
        // False, showing nothing, when the run is no longer current.
        bool Show(StopEvent stop);
        // Before the run lets go of the event it shows.
        void Withdraw();

    private:
        MonitorRuns& runs_;
        Ticket ticket_;
        std::uint64_t id_;
    };

    // Every run queued so far is to end: sets the stop event the latest run shows; then
    // polls at most `polls` times, kStopPollMs apart, until no run is left.
    void StopAndPoll(int polls);
    bool Running() const;
    // The stop event shown, if any: what a stop sets.
    StopEvent Shown() const;

private:
    mutable std::mutex lock_;  // held only to read or change what is shown, never across a call
    Ticket stops_ = 0;
    std::uint64_t begun_ = 0;
    int running_ = 0;
    StopEvent shown_;
    std::uint64_t shownBy_ = 0;
};

}  // namespace tavo
