// What tavoctl exchanges with the touchpad service, in portable terms: the records of the RPC
// interface as plain integers, the readable names tavoctl gives their fields, exit codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavoctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitServiceError = 1;  // not reachable, or a call failed
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotStored = 3;  // a set the service dropped

// Status byte bits.
inline constexpr std::uint8_t kStatusBiosEnabled = 0x01;
inline constexpr std::uint8_t kStatusUserSwitchOn = 0x02;
inline constexpr std::uint8_t kStatusDeviceEnabled = 0x04;

// Touchpad data functions the service knows; any other function reads 0.
inline constexpr std::int32_t kDataComponentPresent = 1;
inline constexpr std::int32_t kDataPhysicalWidth = 2;
inline constexpr std::int32_t kDataPhysicalHeight = 3;
inline constexpr std::int32_t kDataPalmRangeGroup = 4;
inline constexpr std::int32_t kDataDefaultPalmLevel = 5;
inline constexpr std::int32_t kDataCheckConstant = 99;
inline constexpr std::int32_t kCheckConstant = 0x12345678;

struct PalmValues {
    std::int32_t level = 0;
    std::int32_t up = 0;
    std::int32_t down = 0;
    std::int32_t left = 0;
    std::int32_t right = 0;
    friend bool operator==(const PalmValues&, const PalmValues&) = default;
};

inline constexpr std::int32_t kPalmLevelMax = 5;
// "minimal", "low", "medium", "high" (the user levels 0..3), "custom" (4), "dynamic" (5);
// null for any other level.
const char* PalmLevelWord(std::int32_t level);

// The nine forcepad fields in wire order, each with the name tavoctl uses for it.
inline constexpr std::size_t kForcepadFieldCount = 9;
using ForcepadValues = std::array<std::int32_t, kForcepadFieldCount>;

struct ForcepadField {
    std::string_view name;      // on the command line and in JSON
    std::string_view wireName;  // as the interface names it
};
inline constexpr std::array<ForcepadField, kForcepadFieldCount> kForcepadFields = {{
    {"item", "CurrentControlItem"},
    {"haptic", "HapticEnabled"},
    {"haptic-strength", "HapticFeedbackCheckSlider"},
    {"finger-force", "FingerDetectionForceCheckOption"},
    {"click-force", "ClickForceCheckOption"},
    {"top-zone", "UseTopZoneAsVadavAreduButtonsEnabled"},
    {"button-force", "VadavAreduButtonClickForceCheckOption"},
    {"top-zone-available", "UseTopZoneAsVadavAreduButtonsNotGrayOut"},
    {"top-zone-manual", "UseTopZoneAsVadavAreduButtonsPreviousManualStatus"},
}};

std::optional<std::size_t> ForcepadFieldIndex(std::string_view name);

// What the metering command sends unless told otherwise.
struct MeterValues {
    std::int64_t first = 0;
    std::int64_t second = 0;
    std::int64_t period = 1000;
    friend bool operator==(const MeterValues&, const MeterValues&) = default;
};

}  // namespace tavoctl
