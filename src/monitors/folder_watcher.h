// The companion folder watcher: re-runs the settings decisions when the store companion is
// installed or removed for the console user.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

class CSampleService;

// Folder-watch attempts at start, and the pause after each that fails.
inline constexpr int kWatchAttempts = 10;
inline constexpr win::DWORD kWatchRetryPauseMs = 2000;
// The packages path buffer, terminator included.
inline constexpr std::size_t kPackagesPathChars = 256;
// How a stopper waits for a watcher to end: this many pauses of this length.
inline constexpr int kWatcherStopPolls = 11;
inline constexpr win::DWORD kWatcherStopPollMs = 100;

// Watches the console user's "Packages" folder until stopped: the service's ChangeHandle
// slots show its stop event (0) and change notification (1) while it runs; BlockRetryLoop
// ends its start-up attempts.
void DetectDirectoryChangeThread(CSampleService* service);

// Sets the running watcher's stop event and BlockRetryLoop; with wait, then polls until the
// watcher has ended or the polls are spent. The logon handover, and the stop (without wait).
void StopDirectoryWatcher(CSampleService* service, bool wait);

}  // namespace tavo
