// Finding the touchpad among the HID collections. Nothing is cached: every device
// operation scans afresh, uses the handle it gets and closes it.
#pragma once

#include "platform/handles.h"
#include "platform/wintypes.h"

namespace tavo {

inline constexpr int kHidMaxDevices = 128;
// Device paths and hardware ids, terminator included.
inline constexpr std::size_t kHidIdChars = 256;

// The touchpad: these vendor and product ids, parsable capabilities and a feature value
// in the vendor report.
inline constexpr win::USHORT kTavoVendorIds[] = {0x2C7E, 0x1D93};
inline constexpr win::USHORT kTavoProductIds[] = {0x4A51, 0x4A52};

// Appends the present HID interfaces to paths and hardwareIds (kHidMaxDevices entries of
// kHidIdChars each) from *count on. A path that does not fit is skipped, since a cut path
// would name another device or none; a hardware id that does not fit is cut, keeping the
// vendor and device part that callers match. 1 on success, 0 when the HID interfaces
// cannot be listed.
int HID_GetDevice(wchar_t (*paths)[kHidIdChars], wchar_t (*hardwareIds)[kHidIdChars], int* count);

// Opens path with the most data access the system grants (read and write, read, write,
// none); the owner holds INVALID_HANDLE_VALUE when nothing could be opened. grantedAccess
// may be null.
win::UniqueDeviceHandle OpenHidDevice(const wchar_t* path, win::DWORD* grantedAccess);

// The selected touchpad: its handle, owned, and its hardware id.
struct TavoTouchpad {
    win::UniqueDeviceHandle handle;
    wchar_t hardwareId[kHidIdChars] = {};
};

// Selects the touchpad (the last qualifying collection) and opens it again into *touchpad.
// 1 on success; on 0 *touchpad is not written. As a selected device that vanished before
// the reopen still yields 1, the handle may be INVALID_HANDLE_VALUE: the caller's first
// transfer then fails.
int ScanTavoHidDevice(TavoTouchpad* touchpad);

}  // namespace tavo
