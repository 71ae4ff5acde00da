// The two probes every touchpad scan refreshes: the Windows version, which decides whether
// the forcepad commands take their Windows 11 form, and the pointing-stick device, whose
// state is published to the settings key as BIOSEnablePSTStatus.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/wintypes.h"

namespace tavo {

// 256 bytes of UTF-16 text, as the version strings are read.
inline constexpr std::size_t kWinOSTextChars = 128;
inline constexpr win::DWORD kWin11FirstBuild = 22000;

struct WinOSInfoRecord {
    wchar_t productName[kWinOSTextChars];  // raw copy; terminated only when it fits
    wchar_t releaseId[kWinOSTextChars];
    std::int32_t major;  // -1: missing or not a REG_DWORD
    std::int32_t minor;
    win::DWORD build;
    std::int32_t ubr;
};

// 1 once any scan has seen a Windows 11 build; never cleared.
extern std::atomic<std::int32_t>& isWin11OSVersion;
// The pointing-stick state found at service start (0 or 1).
extern std::atomic<std::int32_t>& ReadPSTStatusFromDM;

// Reads HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion into record. Fields whose value
// cannot be read keep their contents (the DWORD ones become -1).
void ReadWinOSInfo(WinOSInfoRecord* record);
// The process-wide WinOSInfo: refreshed from the registry, then returned.
WinOSInfoRecord RefreshWinOSInfo();
WinOSInfoRecord CurrentWinOSInfo();
// Logs the build and raises isWin11OSVersion for a Windows 11 build.
void ApplyWin11Rule(const WinOSInfoRecord& info);

// Walks the present mouse-class devices for the pointing stick; true when it is there
// without a problem. Writes BIOSEnablePSTStatus as it goes.
bool GetPSTDeivce();
bool UpdatePSTDeviceStatusToRgistry(win::DWORD value);


}  // namespace tavo
