// A handle a monitor owns and shows in a slot of the service object, so that the lifecycle
// handlers can signal it. The slot is cleared when the monitor ends, but only while it still
// shows this monitor's handle: a successor that has already put its own there keeps it.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

namespace tavo {

class SlotEntry {
public:
    explicit SlotEntry(std::atomic<win::HANDLE>& slot) : slot_(slot) {}
    ~SlotEntry() { Clear(); }
    SlotEntry(const SlotEntry&) = delete;
    SlotEntry& operator=(const SlotEntry&) = delete;

    // Returns what the slot showed before.
    win::HANDLE Show(win::HANDLE handle) {
        Clear();
        shown_ = handle;
        return slot_.exchange(handle);
    }
    void Clear() {
        win::HANDLE expected = shown_;
        if (shown_ != win::HANDLE{}) slot_.compare_exchange_strong(expected, win::HANDLE{});
        shown_ = win::HANDLE{};
    }

private:
    std::atomic<win::HANDLE>& slot_;
    win::HANDLE shown_{};
};

}  // namespace tavo
