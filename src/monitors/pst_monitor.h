// The pointing-stick UI events: the settings UI of the pointing stick says through two
// global events that the stick was enabled or disabled, and this monitor makes the pad's
// top zone follow, in the device and in the stored settings.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

namespace tavo {

inline constexpr int kPSTEventCount = 3;
// In wait order; the last one, in the service's own namespace, ends the monitor.
inline constexpr const wchar_t* kPSTEventNames[kPSTEventCount] = {
    L"Global\\VQSMessage_PST_ON",
    L"Global\\VQSMessage_PST_OFF",
    L"Exit_MonitorPSTUIChangePSTDeviceStautsFunc",
};
inline constexpr int kPSTExitEvent = 2;

// The three events (null while missing) and the monitor thread's handle, process-wide; the
// service object releases them.
extern std::atomic<win::HANDLE> (&GetPSTUI_EnableDeviceEvnet)[kPSTEventCount];
extern std::atomic<win::HANDLE>& PSTMonitorThread;

// Opens each UI event, or creates it and opens it to every user; creates the exit event;
// ends a monitor of an earlier start; starts the monitor.
void StartPSTMonitor();
// Ends the monitor through its exit event (at most 1000 ms), then closes the three events.
void EndPSTMonitor();

// The monitor thread. Ends on its exit event, and also when a wait fails: that means a
// handle it waits on is no longer valid, which no retry mends.
win::DWORD MonitorPSTUIChangePSTDeviceStautsFunc(void* context);

}  // namespace tavo
