// What the service learns about the touchpad and its state: the information read once at
// start (extents, resolution classes, step counts, the physical size and the BIOS enable
// bit), the forcepad capability published as ForcepadCapability, and the status byte the
// companion application asks for.
#pragma once

#include <cstdint>

#include "device/hid_device.h"
#include "platform/wintypes.h"

namespace tavo {

struct TouchpadInfo {
    std::uint32_t TouchPad_Extent_X;
    std::uint32_t TouchPad_Extent_Y;
    std::uint32_t TouchPad_Physical_X;  // hundredths of a millimetre
    std::uint32_t TouchPad_Physical_Y;
    std::uint32_t TouchPad_Class_X;
    std::uint32_t TouchPad_Class_Y;
    std::uint32_t TouchPad_Steps_X;
    std::uint32_t TouchPad_Steps_Y;
    std::uint32_t BiosEnableTP;  // 1: the BIOS enables the touchpad
    friend bool operator==(const TouchpadInfo&, const TouchpadInfo&) = default;
};

// The working record, filled field by field as the reads of ReadTouchpadInfo succeed.
TouchpadInfo WorkingTouchpadInfo();
// The published snapshot: a copy of the working record taken only after a complete read;
// all zero until then. Everything outside this unit reads this one.
TouchpadInfo PublishedTouchpadInfo();

// Reads the information from the touchpad into the working record and, when every read
// succeeded, publishes it. 1 on success, else 0 (the snapshot keeps its contents).
int ReadTouchpadInfo();

// The size along one axis in hundredths of a millimetre from the extent in device counts,
// the step count and the resolution class (800 to 950 counts per inch), rounded down to a
// multiple of the step count and enlarged by 2 mm; 0 for fewer than 2 steps.
std::uint32_t ComputePhysicalSize(std::uint32_t extent, std::uint32_t steps, std::uint32_t resolutionClass);

// The forcepad capability: the pad is a forcepad, the BIOS enables it and its device node
// is enabled. Writes ForcepadCapability (0 or 1).
void ReadForcepadCapability();
bool SupportForcepad();
bool BIOSEnableForcepad();
bool DMEnableForcepad();

// The Device Manager state of the HID nodes whose first hardware id contains target (a
// buffer of kHidIdChars; an empty one is set to "HID\\VEN_TAVO"): 0 no such node (or the
// HID class cannot be listed), 2 found and none disabled, 4 one is disabled or its state
// cannot be read.
inline constexpr wchar_t kDefaultTouchpadTarget[] = L"HID\\VEN_TAVO";
int GetTouchpadDeviceStatus(wchar_t (&target)[kHidIdChars]);

// The interactive user's Precision Touchpad switch ("Enabled" in the user's own hive),
// read through the user's profile. True when it was read; *value is then the DWORD, or -1
// when it is missing or not a DWORD. *value is untouched when nothing was read.
bool ReadPTPEnableSetting(std::int32_t* value);

// EnableResult bits.
inline constexpr win::BYTE kStatusBiosEnabled = 0x01;
inline constexpr win::BYTE kStatusUserEnabled = 0x02;
inline constexpr win::BYTE kStatusDeviceEnabled = 0x04;

// Composes the touchpad status byte for the companion application.
void ProcessGetTouchpadStatus(win::BYTE* EnableResult);


}  // namespace tavo
