// The toggle flag AABB under the settings key: written by the input agent on every
// toggle report, watched by the service, which re-applies the settings on each change.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace tavo {

class CSampleService;

// The pause before the monitor tries again after a notification request or a wait failed.
inline constexpr win::DWORD kMonitorRetryPauseMs = 2000;
// How those who end a monitor poll for it to be gone.
inline constexpr win::DWORD kStopPollMs = 100;

// The stored AABB: 0 when the settings key cannot be opened; -1 when the value is missing,
// unreadable, longer than 4 bytes or not a REG_DWORD.
std::int32_t RegRead_AABB();

// Watches the settings key's values and re-applies the live settings whenever AABB differs
// from the service's last value; runs until the service sets its stop event. Its two events
// are shown in the service's aabbEvents slots while it runs.
void MonitorAABBChangeThread(CSampleService* service);

// Sets the running monitor's stop event; then polls, at most `polls` times 100 ms apart,
// until the monitor has let go of the service object.
void StopToggleFlagMonitor(CSampleService* service, int polls);

}  // namespace tavo
