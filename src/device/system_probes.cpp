#include "device/system_probes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "common/process_state.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "log/trace_log.h"
#include "common/registry_paths.h"

namespace tavo {

namespace {

struct ProbeState {
    std::atomic<std::int32_t> isWin11OSVersion{0};
    std::atomic<std::int32_t> ReadPSTStatusFromDM{0};
    // Scans on several threads rewrite the record; each works on a copy and publishes it whole.
    std::mutex winOSInfoLock;
    WinOSInfoRecord WinOSInfo{};
};
ProcessWide<ProbeState> probes;

}  // namespace

std::atomic<std::int32_t>& isWin11OSVersion = probes->isWin11OSVersion;
std::atomic<std::int32_t>& ReadPSTStatusFromDM = probes->ReadPSTStatusFromDM;

namespace {

constexpr wchar_t kCurrentVersionPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kPointingStickName[] = L"TAVO VadavAredu Device";
constexpr wchar_t kPstStatusValue[] = L"BIOSEnablePSTStatus";
// Device property buffers are 520 bytes of UTF-16.
constexpr std::size_t kPropertyChars = 260;


std::int32_t ReadDword(win::HKEY key, const wchar_t* name) {
    win::DWORD type = 0, value = 0, size = sizeof value;
    if (win::Reg().RegQueryValueExW(key, name, &type, reinterpret_cast<win::BYTE*>(&value), &size) !=
            win::ERROR_SUCCESS ||
        type != win::REG_DWORD)
        return -1;
    return static_cast<std::int32_t>(value);
}

// Reads a string value into a field of kWinOSTextChars; the returned bytes are copied as
// they are. One spare character keeps the scratch text terminated whatever was stored.
bool ReadText(win::HKEY key, const wchar_t* name, wchar_t (&scratch)[kWinOSTextChars + 1], win::DWORD* bytes) {
    std::fill(std::begin(scratch), std::end(scratch), L'\0');
    win::DWORD size = kWinOSTextChars * sizeof(wchar_t);
    if (win::Reg().RegQueryValueExW(key, name, nullptr, reinterpret_cast<win::BYTE*>(scratch), &size) !=
        win::ERROR_SUCCESS)
        return false;
    *bytes = std::min<win::DWORD>(size, kWinOSTextChars * sizeof(wchar_t));
    return true;
}

// The leading decimal digits, as the C runtime's conversion reads them; saturates rather
// than wrapping on an absurdly long number.
win::DWORD LeadingNumber(const wchar_t* text) {
    std::uint64_t n = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) n = std::min<std::uint64_t>(n * 10 + (*text - L'0'), 0xFFFFFFFFu);
    return static_cast<win::DWORD>(n);
}

}  // namespace

void ReadWinOSInfo(WinOSInfoRecord* record) {
    win::UniqueHKey key;
    if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kCurrentVersionPath, 0, win::KEY_READ, key.put()) !=
        win::ERROR_SUCCESS) {
        TraceLog("RegOpenKeyEx fail");
        return;
    }
    record->major = ReadDword(key.get(), L"CurrentMajorVersionNumber");
    record->minor = ReadDword(key.get(), L"CurrentMinorVersionNumber");
    record->ubr = ReadDword(key.get(), L"UBR");

    wchar_t text[kWinOSTextChars + 1];
    win::DWORD bytes = 0;
    if (!ReadText(key.get(), L"CurrentBuild", text, &bytes)) {
        TraceLog("Get Reg::CurrentBuild fail...");
    } else {
        record->build = LeadingNumber(text);
        TraceLog("WinOSInfo->build = %d", static_cast<int>(record->build));
    }
    if (!ReadText(key.get(), L"ProductName", text, &bytes))
        TraceLog("Get ProductName fail...");
    else
        std::memcpy(record->productName, text, bytes);
    if (!ReadText(key.get(), L"ReleaseId", text, &bytes))
        TraceLog("Get ReleaseId fail...");
    else
        std::memcpy(record->releaseId, text, bytes);
}

WinOSInfoRecord RefreshWinOSInfo() {
    WinOSInfoRecord info = CurrentWinOSInfo();
    ReadWinOSInfo(&info);
    std::lock_guard<std::mutex> lock(probes->winOSInfoLock);
    probes->WinOSInfo = info;
    return info;
}

WinOSInfoRecord CurrentWinOSInfo() {
    std::lock_guard<std::mutex> lock(probes->winOSInfoLock);
    return probes->WinOSInfo;
}

void ApplyWin11Rule(const WinOSInfoRecord& info) {
    TraceLog("WinOSInfo.build = %d", static_cast<int>(info.build));
    if (info.build >= kWin11FirstBuild) {
        TraceLog("isWin11OSVersion = TRUE");
        isWin11OSVersion.store(1);
    } else {
        TraceLog("isWin11OSVersion = FALSE");
    }
}

bool UpdatePSTDeviceStatusToRgistry(win::DWORD value) {
    win::UniqueHKey key;
    const win::LSTATUS status = win::Reg().RegCreateKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0,
                                                           win::KEY_READ | win::KEY_WRITE, key.put(), nullptr);
    if (status != win::ERROR_SUCCESS) {
        TraceLog("[UpdatePSTDeviceStatusToRgistry] RegCreateKeyEx Fail, GetLastError = 0x%.8X",
                 static_cast<unsigned>(status));
        return false;
    }
    return win::Reg().RegSetValueExW(key.get(), kPstStatusValue, win::REG_DWORD,
                                     reinterpret_cast<const win::BYTE*>(&value), sizeof value) == win::ERROR_SUCCESS;
}

bool GetPSTDeivce() {
    TraceLog("[GetPSTDeivce] Enter ==> GetPSTDeivce()");
    bool found = false;
    win::UniqueDevInfo mice;
    if (win::Devices().SetupDiGetClassDevsW(win::GUID_DEVCLASS_MOUSE, win::DIGCF_PRESENT | win::DIGCF_PROFILE,
                                            mice.put()) != win::ERROR_SUCCESS) {
        TraceLog("[GetPSTDeivce] Cannot Find Any Mouse Device");
        UpdatePSTDeviceStatusToRgistry(0);
    } else {
        win::SP_DEVINFO_DATA device{};
        for (win::DWORD i = 0; win::Devices().SetupDiEnumDeviceInfo(mice.get(), i, &device) == win::ERROR_SUCCESS;
             ++i) {
            // The spare last character stays NUL, so the text ends inside the buffer.
            wchar_t description[kPropertyChars + 1] = {};
            if (win::Devices().SetupDiGetDeviceRegistryPropertyW(mice.get(), device, win::SPDRP_DEVICEDESC, nullptr,
                                                                 reinterpret_cast<win::BYTE*>(description),
                                                                 kPropertyChars * sizeof(wchar_t),
                                                                 nullptr) != win::ERROR_SUCCESS) {
                TraceLog("[GetPSTDeivce] Cannot Get PST Device HWID");
                continue;
            }
            TraceLog("[GetPSTDeivce] HardwareName = %S", description);
            if (std::wstring_view(description).find(kPointingStickName) == std::wstring_view::npos) {
                TraceLog("[GetPSTDeivce] Cannot Find TAVO PST Device #2");
                UpdatePSTDeviceStatusToRgistry(0);
                continue;
            }
            // A query that fails leaves the status at 0, which counts as no problem.
            win::DWORD status = 0, problem = 0;
            win::Devices().CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
            if (status & win::DN_HAS_PROBLEM) {
                TraceLog("[GetPSTDeivce] Cannot Find TAVO PST Device #1");
                UpdatePSTDeviceStatusToRgistry(0);
            } else {
                TraceLog("[GetPSTDeivce] Find TAVO PST Device");
                UpdatePSTDeviceStatusToRgistry(1);
                found = true;
            }
            break;
        }
    }
    mice.reset();
    TraceLog("[GetPSTDeivce] Exit <== GetPSTDeivce()");
    return found;
}

}  // namespace tavo
