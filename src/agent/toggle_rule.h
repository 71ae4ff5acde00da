// The input agent's decisions, kept free of Windows so they are tested natively: which raw
// mouse record is a toggle report, how the toggle state flips, and what the stored AABB
// means at start. The agent shares nothing with the service but that registry value.
#pragma once

#include <cstdint>

namespace kvr {

inline constexpr std::uint32_t kRimTypeMouse = 0;  // RIM_TYPEMOUSE
inline constexpr std::uint32_t kRegDword = 4;      // REG_DWORD

// The fields of a RAWINPUT record that the rule reads, plus the device handle that it must
// not read: the toggle report may come from any mouse.
struct MouseRecord {
    std::uint32_t type = kRimTypeMouse;  // header dwType
    std::uintptr_t device = 0;           // header hDevice
    std::uint16_t flags = 0;             // usFlags
    std::uint16_t buttonFlags = 0;       // usButtonFlags
    std::uint16_t buttonData = 0;        // usButtonData
    std::uint32_t rawButtons = 0;        // ulRawButtons
    std::int32_t lastX = 0;              // lLastX
    std::int32_t lastY = 0;              // lLastY
    std::uint32_t extraInformation = 0;  // ulExtraInformation
};

// The touchpad firmware signals a toggle with a mouse report in which everything is zero.
bool IsToggleReport(const MouseRecord& record);

// 0 -> 1, 1 -> 0, and -1 (no usable stored value) -> 0: the lowest bit of old - 1.
std::int32_t FlipToggleState(std::int32_t old);

// The outcome of reading AABB into a 4-byte buffer.
struct StoredToggle {
    bool keyOpened = false;
    bool queried = false;  // false also when the value is longer than 4 bytes
    std::uint32_t type = 0;
    std::int32_t value = 0;
};

// 0 when the key cannot be opened, -1 when the value is missing, too long or not a
// REG_DWORD, otherwise the value.
std::int32_t InitialToggleState(const StoredToggle& stored);

}  // namespace kvr
