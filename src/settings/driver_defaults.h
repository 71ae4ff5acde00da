// The defaults the touchpad's driver package installs, and whether the store companion
// (the settings UI) is installed for the console user.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/wintypes.h"

namespace tavo {

// The software-component setup class, under which the driver package's instance lives.
inline constexpr win::GUID kSoftwareComponentClass = {
    0x5c4c3332, 0x344d, 0x483c, {0x87, 0x39, 0x25, 0x9e, 0x93, 0x4c, 0x9c, 0xc8}};
inline constexpr wchar_t kSoftwareComponentClassKeyPath[] =
    L"System\\CurrentControlSet\\Control\\Class\\{5c4c3332-344d-483c-8739-259e934c9cc8}";
inline constexpr wchar_t kDriverDescValue[] = L"DriverDesc";
inline constexpr wchar_t kTavoComponentDriverDesc[] = L"TAVO Pad Suite Component";
inline constexpr wchar_t kDefaultSettingsSubKey[] = L"DefaultSettings";
inline constexpr wchar_t kValuePalmDefaultOption[] = L"PalmDefaultOption";
inline constexpr wchar_t kValuePalmRangeGroup[] = L"PalmRangeGroup";
inline constexpr wchar_t kValueSupportDynamicModeCommand[] = L"SupportDynamicModeCommand";

// The companion's package folder under the user's local application data.
inline constexpr wchar_t kCompanionPackageFamilyName[] = L"TavoTouchpadCorp.TavoTouchpadforPTP_q4dm7x2k9rzhe";
// The companion's software-component device: hardware id and manufacturer fragments.
inline constexpr wchar_t kCompanionHardwareIdFragment[] = L"VAR_IRORI_VOV21";
inline constexpr wchar_t kCompanionManufacturerFragment[] = L"TAVO";

// Buffer sizes in wide characters, terminator included.
inline constexpr std::size_t kDriverKeyPathChars = 255;
inline constexpr std::size_t kPackagePathChars = 256;
// Device property buffers, in bytes.
inline constexpr std::size_t kDevicePropertyBytes = 520;

// Finds the driver package's instance among the software-component class's subkeys (the
// first whose DriverDesc is exactly the component's) and stores its key path. One try;
// callers retry.
bool WorkaroundGetHKRRegistryPath();
// Reads the three defaults from the driver key's "DefaultSettings" subkey; true when that
// key opened. Also sets the level of the palm defaults record.
bool ReadHKRDefaultSettings(const std::wstring& driverKeyPath);
// The driver key path found by WorkaroundGetHKRRegistryPath; empty until then.
std::wstring DriverKeyPath();

// What a companion check found. Absent and present are answers; unknown means that a call
// the check needed failed, so it could not tell.
enum class CompanionCheck { kAbsent, kPresent, kUnknown };

// Whether the companion's package folder exists for the console user. Unknown when the
// user's folder cannot be resolved or the existence test fails other than "not found".
CompanionCheck CheckUWPInstall();
// Whether the first present software-component device with the companion's hardware id is
// the maker's. Unknown when the device list cannot be had or walked, or when no device
// decided and one of them could not be read.
CompanionCheck CheckSoftwareComponentInstall();
// The same as 1 (present) or 0 (absent, or could not tell), with the same logs.
int DetectUWPInstall();
int DetectSoftwareComponentInstall();

// The companion counts as missing for the user's own store only when a check found its
// part absent; when neither did and one could not tell, the user's record is left alone.
inline bool CompanionKnownAbsent(CompanionCheck uwp, CompanionCheck swc) {
    return uwp == CompanionCheck::kAbsent || swc == CompanionCheck::kAbsent;
}

// The driver's defaults: -1 when the driver key has the value missing or not a DWORD.
extern std::atomic<std::int32_t>& PalmDefaultOption;          // initially 0
extern std::atomic<std::int32_t>& PalmRangeGroup;             // initially 1
extern std::atomic<std::int32_t>& SupportDynamicModeCommand;  // initially 1

// Resolves the console user's local application-data folder with the user's token
// (shared with the folder watcher); false with the Windows error when it cannot.
bool GetConsoleUserLocalAppDataPath(std::wstring* path, win::DWORD* error);

// The companion's package folder below a local application-data folder; false when it
// would not fit the kPackagePathChars path buffer.
bool CompanionPackagePath(const std::wstring& localAppData, std::wstring* path);


}  // namespace tavo
