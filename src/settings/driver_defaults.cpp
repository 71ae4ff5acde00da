#include "settings/driver_defaults.h"

#include <array>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "common/process_state.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sessions.h"
#include "log/trace_log.h"
#include "registry/registry_helpers.h"
#include "settings/settings_records.h"

namespace tavo {

namespace {

struct DefaultsState {
    std::atomic<std::int32_t> PalmDefaultOption{0};
    std::atomic<std::int32_t> PalmRangeGroup{1};
    std::atomic<std::int32_t> SupportDynamicModeCommand{1};
    // Written once at start, read by any thread afterwards.
    std::mutex driverKeyLock;
    std::wstring driverKeyPath;
};
ProcessWide<DefaultsState> defaults;

}  // namespace

std::atomic<std::int32_t>& PalmDefaultOption = defaults->PalmDefaultOption;
std::atomic<std::int32_t>& PalmRangeGroup = defaults->PalmRangeGroup;
std::atomic<std::int32_t>& SupportDynamicModeCommand = defaults->SupportDynamicModeCommand;

namespace {

constexpr win::LSTATUS kOk = static_cast<win::LSTATUS>(win::ERROR_SUCCESS);

// The wide characters a property buffer of kDevicePropertyBytes holds as UTF-16.
constexpr std::size_t kDevicePropertyChars = kDevicePropertyBytes / 2;

// Reads a string property into a fixed buffer; the text up to its first terminator (for a
// multi-string, its first string). The buffer keeps one element beyond what the call may
// fill, so a property stored without terminator still ends.
bool ReadDeviceString(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device, win::DWORD property,
                      std::wstring* text) {
    std::array<wchar_t, kDevicePropertyChars + 1> buffer{};
    win::DWORD type = win::REG_NONE;
    if (win::Devices().SetupDiGetDeviceRegistryPropertyW(
            set, device, property, &type, reinterpret_cast<win::BYTE*>(buffer.data()),
            static_cast<win::DWORD>(kDevicePropertyChars * sizeof(wchar_t)), nullptr) != win::ERROR_SUCCESS)
        return false;
    text->assign(buffer.data());
    return true;
}

// The error SHGetFolderPathW's result stands for.
win::DWORD ErrorOf(win::HRESULT hr) {
    if ((static_cast<win::DWORD>(hr) & 0xFFFF0000u) == 0x80070000u) return static_cast<win::DWORD>(hr) & 0xFFFFu;
    if (hr == win::S_FALSE) return win::ERROR_FILE_NOT_FOUND;  // the folder does not exist
    return static_cast<win::DWORD>(hr);
}

}  // namespace

bool WorkaroundGetHKRRegistryPath() {
    TraceLog("==> Enter WorkaroundGetHKRRegistryPath\r\n");
    bool found = false;
    std::vector<std::wstring> subKeys;
    {
        win::UniqueHKey classKey;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSoftwareComponentClassKeyPath, 0, win::KEY_READ,
                                     classKey.put()) != kOk) {
            TraceLog("<== Exit WorkaroundGetHKRRegistryPath (%d)\r\n", 0);
            return false;
        }
        try {
            EnumerateSubKeys(classKey.get(), &subKeys);
        } catch (const std::bad_alloc&) {
            TraceLog("SubKeyName or ValueName is NULL\n");
            subKeys.clear();
        }
    }
    TraceLog("<HKR> NumSubKey = %d\r\n", static_cast<int>(subKeys.size()));

    for (std::size_t i = 0; i < subKeys.size() && !found; ++i) {
        const int n = static_cast<int>(i + 1);
        if (subKeys[i].empty()) {
            TraceLog("(%d) SubKeyName[%d] is NULL\n", n, n - 1);
            continue;
        }
        std::wstring path = std::wstring(kSoftwareComponentClassKeyPath) + L"\\" + subKeys[i];
        // The path buffer holds 254 characters; an instance whose path does not fit cannot
        // be named there, so it is passed over rather than cut to another key's name.
        if (path.size() >= kDriverKeyPathChars) continue;
        TraceLog("(%d) Path : %ws\n", n, path.c_str());
        win::UniqueHKey instance;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, path.c_str(), 0, win::KEY_READ, instance.put()) != kOk)
            continue;
        const std::wstring desc = ReadRegistryString(instance.get(), kDriverDescValue);
        instance.reset();
        TraceLog("(%d) DriverDesc : %ws\n", n, desc.c_str());
        if (desc == kTavoComponentDriverDesc) {
            TraceLog("DriverDesc is TAVO Pad Suite Component\n");
            std::lock_guard<std::mutex> lock(defaults->driverKeyLock);
            defaults->driverKeyPath = path;
            found = true;
        }
    }
    TraceLog("<== Exit WorkaroundGetHKRRegistryPath (%d)\r\n", found ? 1 : 0);
    return found;
}

std::wstring DriverKeyPath() {
    std::lock_guard<std::mutex> lock(defaults->driverKeyLock);
    return defaults->driverKeyPath;
}

bool ReadHKRDefaultSettings(const std::wstring& driverKeyPath) {
    const std::wstring path = driverKeyPath + L"\\" + kDefaultSettingsSubKey;
    win::UniqueHKey key;
    // Without a driver key there are no driver defaults: the path would name a
    // "DefaultSettings" key directly under HKLM, which is nobody's to read.
    const bool opened =
        !driverKeyPath.empty() &&
        win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, path.c_str(), 0, win::KEY_READ, key.put()) == kOk;
    if (opened) {
        TraceLog("Open HKR Registry Success\r\n");
        PalmDefaultOption = ReadRegistryDword(key.get(), kValuePalmDefaultOption);
        PalmRangeGroup = ReadRegistryDword(key.get(), kValuePalmRangeGroup);
        SupportDynamicModeCommand = ReadRegistryDword(key.get(), kValueSupportDynamicModeCommand);
        key.reset();
    } else {
        TraceLog("Open HKR Registry Fail\r\n");
    }
    TraceLog("Read HKR Registry : PalmDefaultOption = %d\r\n", static_cast<int>(PalmDefaultOption.load()));
    TraceLog("Read HKR Registry : PalmRangeGroup = %d\r\n", static_cast<int>(PalmRangeGroup.load()));
    TraceLog("Read HKR Registry : SupportDynamicModeCommand = %d\r\n",
             static_cast<int>(SupportDynamicModeCommand.load()));
    palmDefaults.Set(0, PalmDefaultOption.load());
    return opened;
}

bool GetConsoleUserLocalAppDataPath(std::wstring* path, win::DWORD* error) {
    const win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();
    if (session == win::kNoConsoleSession) {
        *error = win::ERROR_NO_TOKEN;  // nobody at the console, so no user token
        return false;
    }
    win::HRESULT hr;
    std::wstring folder;
    {
        win::UniqueToken token;
        if (win::DWORD e = win::Wts().WTSQueryUserToken(session, token.put()); e != win::ERROR_SUCCESS) {
            *error = e;
            return false;
        }
        hr = win::Fs().SHGetFolderPathW(win::CSIDL_LOCAL_APPDATA, token.get(), win::SHGFP_TYPE_CURRENT, &folder);
    }
    if (hr != win::S_OK) {
        *error = ErrorOf(hr);
        return false;
    }
    *path = std::move(folder);
    return true;
}

bool CompanionPackagePath(const std::wstring& localAppData, std::wstring* path) {
    std::wstring p = localAppData + L"\\Packages\\" + kCompanionPackageFamilyName;
    if (p.size() >= kPackagePathChars) return false;
    *path = std::move(p);
    return true;
}

CompanionCheck CheckUWPInstall() {
    std::wstring folder;
    win::DWORD error = win::ERROR_SUCCESS;
    if (!GetConsoleUserLocalAppDataPath(&folder, &error)) {
        TraceLog("DetectUWPInstall::Get UserAppDataPath Fail, Error=%d\r\n", static_cast<int>(error));
        return CompanionCheck::kUnknown;
    }
    std::wstring package;
    if (!CompanionPackagePath(folder, &package)) {
        // Nothing the shell can test lies beyond its path buffers.
        TraceLog("DetectUWPInstall::UWP AppData doesn't Exist Error=%d\r\n",
                 static_cast<int>(win::ERROR_FILENAME_EXCED_RANGE));
        return CompanionCheck::kAbsent;
    }
    TraceLog("DetectUWPInstall::Get UWPAppDataPath Success (%ws)\r\n", package.c_str());
    if (win::DWORD e = win::Fs().PathFileExistsW(package.c_str()); e != win::ERROR_SUCCESS) {
        TraceLog("DetectUWPInstall::UWP AppData doesn't Exist Error=%d\r\n", static_cast<int>(e));
        const bool notThere =
            e == win::ERROR_FILE_NOT_FOUND || e == win::ERROR_PATH_NOT_FOUND || e == win::ERROR_FILENAME_EXCED_RANGE;
        return notThere ? CompanionCheck::kAbsent : CompanionCheck::kUnknown;
    }
    TraceLog("DetectUWPInstall::UWP AppData Exist\r\n");
    return CompanionCheck::kPresent;
}

int DetectUWPInstall() { return CheckUWPInstall() == CompanionCheck::kPresent ? 1 : 0; }

CompanionCheck CheckSoftwareComponentInstall() {
    CompanionCheck result = CompanionCheck::kAbsent;
    bool unread = false;  // a device that might have decided could not be read
    win::UniqueDevInfo set;
    if (win::Devices().SetupDiGetClassDevsW(kSoftwareComponentClass, win::DIGCF_PRESENT | win::DIGCF_PROFILE,
                                            set.put()) != win::ERROR_SUCCESS) {
        TraceLog("DetectSoftwareComponentInstall::Cannot Find Any SWComponent Device\r\n");
        unread = true;
    } else {
        for (win::DWORD index = 0;; ++index) {
            win::SP_DEVINFO_DATA device{};
            if (const win::DWORD e = win::Devices().SetupDiEnumDeviceInfo(set.get(), index, &device);
                e != win::ERROR_SUCCESS) {
                unread = unread || e != win::ERROR_NO_MORE_ITEMS;
                break;
            }
            std::wstring hardwareId;
            if (!ReadDeviceString(set.get(), device, win::SPDRP_HARDWAREID, &hardwareId)) {
                TraceLog("DetectSoftwareComponentInstall::Cannot Get SWComponent Device HWID\r\n");
                unread = true;
                continue;
            }
            if (hardwareId.find(kCompanionHardwareIdFragment) == std::wstring::npos) continue;
            win::DWORD status = 0;
            win::DWORD problem = 0;
            // A node that is gone is an answer; any other refusal is not.
            if (const win::CONFIGRET cr = win::Devices().CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
                cr != win::CR_SUCCESS) {
                unread = unread || cr != win::CR_NO_SUCH_DEVNODE;
                continue;
            }
            std::wstring manufacturer;
            if (!ReadDeviceString(set.get(), device, win::SPDRP_MFG, &manufacturer)) {
                unread = true;
            } else if (manufacturer.find(kCompanionManufacturerFragment) != std::wstring::npos) {
                result = CompanionCheck::kPresent;
            }
            break;
        }
    }
    set.reset();
    if (result != CompanionCheck::kPresent && unread) result = CompanionCheck::kUnknown;
    TraceLog("DetectSoftwareComponentInstall::Result = %d\r\n", result == CompanionCheck::kPresent ? 1 : 0);
    return result;
}

int DetectSoftwareComponentInstall() {
    return CheckSoftwareComponentInstall() == CompanionCheck::kPresent ? 1 : 0;
}

}  // namespace tavo
