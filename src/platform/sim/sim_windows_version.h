// The version values Windows keeps under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion.
#pragma once

#include <string>

#include "platform/sim/sim_registry.h"

namespace sim {

struct WindowsVersion {
    std::wstring productName;
    std::wstring releaseId;
    std::wstring currentBuild;  // a string, as Windows stores it
    win::DWORD major = 10;
    win::DWORD minor = 0;
    win::DWORD ubr = 0;
};

inline constexpr wchar_t kCurrentVersionKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// The versions laptops run are data: laptops::WindowsByName and the laptop files.

inline void SetWindowsVersion(SimRegistry& registry, const WindowsVersion& v) {
    registry.SetString(kCurrentVersionKey, L"ProductName", v.productName);
    registry.SetString(kCurrentVersionKey, L"ReleaseId", v.releaseId);
    registry.SetString(kCurrentVersionKey, L"CurrentBuild", v.currentBuild);
    registry.SetDword(kCurrentVersionKey, L"CurrentMajorVersionNumber", v.major);
    registry.SetDword(kCurrentVersionKey, L"CurrentMinorVersionNumber", v.minor);
    registry.SetDword(kCurrentVersionKey, L"UBR", v.ubr);
}

}  // namespace sim
