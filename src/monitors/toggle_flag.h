// The toggle flag AABB under the settings key: written by the input agent on every
// toggle report, watched by the service, which re-applies the settings on each change.
#pragma once

#include <atomic>
#include <cstdint>

#include "monitors/monitor_runs.h"
#include "platform/wintypes.h"

namespace tavo {

// The pause before the monitor tries again after a notification request or a wait failed.
inline constexpr win::DWORD kMonitorRetryPauseMs = 2000;

// The stored AABB: 0 when the settings key cannot be opened; -1 when the value is missing,
// unreadable, longer than 4 bytes or not a REG_DWORD.
std::int32_t RegRead_AABB();

// Watches the settings key's values and re-applies the live settings whenever AABB differs
// from lastAABB, the value last seen, which it updates; runs until its stop event, shown in
// runs, is set (runs.StopAndPoll), or ends at once when a stop came after its ticket.
void MonitorAABBChangeThread(MonitorRuns& runs, MonitorRuns::Ticket ticket, std::atomic<std::int32_t>& lastAABB);

}  // namespace tavo
