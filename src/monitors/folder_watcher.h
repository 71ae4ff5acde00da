// The companion folder watcher: re-runs the settings decisions when the store companion is
// installed or removed for the console user.
#pragma once

#include "monitors/toggle_flag.h"
#include "platform/wintypes.h"

namespace tavo {

class CSampleService;

// Folder-watch attempts at start, and the pause after each that fails.
inline constexpr int kWatchAttempts = 10;
inline constexpr win::DWORD kWatchRetryPauseMs = 2000;
// The packages path buffer, terminator included.
inline constexpr std::size_t kPackagesPathChars = 256;
// How a logon waits for the previous watcher to end: this many pauses of this length.
inline constexpr int kWatcherStopPolls = 11;
inline constexpr win::DWORD kWatcherStopPollMs = kStopPollMs;

// Watches the console user's "Packages" folder until stopped: the service's ChangeHandle
// slots show its stop event (0) and change notification (1) while it runs; BlockRetryLoop
// ends its start-up attempts.
void DetectDirectoryChangeThread(CSampleService* service);

// Sets the running watcher's stop event and BlockRetryLoop; then polls, at most `polls`
// times, until the watcher has let go of the service object.
void StopDirectoryWatcher(CSampleService* service, int polls);

}  // namespace tavo
