// The companion folder watcher: re-runs the settings decisions when the store companion is
// installed or removed for the console user.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "monitors/monitor_runs.h"
#include "platform/wintypes.h"

namespace tavo {

// Folder-watch attempts at start, and the pause after each that fails.
inline constexpr int kWatchAttempts = 10;
inline constexpr win::DWORD kWatchRetryPauseMs = 2000;
// The packages path buffer, terminator included.
inline constexpr std::size_t kPackagesPathChars = 256;
// How a logon waits for the previous watcher to end: this many pauses of this length.
inline constexpr int kWatcherStopPolls = 11;
inline constexpr win::DWORD kWatcherStopPollMs = kStopPollMs;

// The watcher's stop flag: set by those who stop it, cleared by a watcher as it starts; a
// watcher that finds it set during its start-up attempts ends.
extern std::atomic<std::uint8_t>& BlockRetryLoop;

// Watches the console user's "Packages" folder until stopped: its stop event is shown in
// runs while it runs; BlockRetryLoop, or a stop after its ticket, ends its start-up attempts
// (a watcher stopped before it began ends at its first).
void DetectDirectoryChangeThread(MonitorRuns& runs, MonitorRuns::Ticket ticket);

// Sets BlockRetryLoop, then runs.StopAndPoll(polls): the watcher's stop event is set and
// the stopper polls until the watcher has ended.
void StopDirectoryWatcher(MonitorRuns& runs, int polls);

}  // namespace tavo
