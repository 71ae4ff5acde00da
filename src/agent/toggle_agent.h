// The agent's state and what it does with each raw mouse record, against a small interface
// to the settings key so that the same code runs on Windows and in native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "toggle_rule.h"

namespace kvr {

// HKLM\System\CurrentControlSet\Control\Brindlex_PTP, opened anew for every call and never
// created: the driver package owns the key.
class ToggleKey {
public:
    virtual ~ToggleKey() = default;
    virtual StoredToggle Read() = 0;
    // Stores AABB as a REG_DWORD; false when the key cannot be opened.
    virtual bool Write(std::int32_t state) = 0;
};

class ToggleAgent {
public:
    explicit ToggleAgent(ToggleKey& key) : key_(key) {}

    // Only once the raw-input sink is in place; until then the state stays 0.
    void Start() { state_ = InitialToggleState(key_.Read()); }

    // True when the record was a toggle report. The state flips even when nothing can be
    // written, so the next report writes the opposite value.
    bool OnMouseRecord(const MouseRecord& record);

    std::int32_t state() const { return state_; }

private:
    ToggleKey& key_;
    std::int32_t state_ = 0;
};

// Holds the latest raw-input record. Records of one device have one size, so it grows to
// the largest seen and is never shrunk; a grown buffer starts zeroed.
class RecordBuffer {
public:
    std::uint8_t* Reserve(std::size_t size);
    std::size_t capacity() const { return bytes_.size(); }
    std::size_t allocations() const { return allocations_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t allocations_ = 0;
};

}  // namespace kvr
