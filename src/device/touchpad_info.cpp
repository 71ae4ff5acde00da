#include "device/touchpad_info.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/feature_report.h"
#include "common/process_state.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sessions.h"
#include "log/trace_format.h"
#include "log/trace_log.h"
#include "registry/registry_helpers.h"

namespace tavo {

namespace {

constexpr wchar_t kForcepadCapabilityValue[] = L"ForcepadCapability";
constexpr wchar_t kPtpStatusPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PrecisionTouchPad\\Status";
constexpr wchar_t kPtpEnabledValue[] = L"Enabled";
// Device properties are read through 520 bytes of UTF-16.
constexpr std::size_t kPropertyChars = 260;
// A hardware-id list that needs more than this is not a device's: give up on it.
constexpr win::DWORD kMaxPropertyBytes = 64 * 1024;
// The vendor and device part of a HID hardware id: after "HID\", at most "VEN_XXXX&DEV_XXXX".
constexpr std::size_t kTargetSkip = 4;
constexpr std::size_t kTargetChars = 17;

// The RPC threads read the snapshot while the start thread writes; each side copies whole.
struct InfoState {
    std::mutex infoLock;
    TouchpadInfo working{};
    TouchpadInfo published{};
};
ProcessWide<InfoState> infoState;

template <typename Change>
void UpdateWorking(Change change) {
    std::lock_guard<std::mutex> lock(infoState->infoLock);
    change(infoState->working);
}

std::size_t BoundedLength(const wchar_t* text, std::size_t capacity) {
    return static_cast<std::size_t>(std::find(text, text + capacity, L'\0') - text);
}

// The first string of the device's hardware-id list. A list too long for the usual
// buffer is read again at the size the device manager asks for, so a long list does not
// hide the device.
bool ReadFirstHardwareId(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device, std::wstring* id) {
    // One spare character keeps the text terminated whatever the property holds.
    std::vector<wchar_t> buffer(kPropertyChars + 1, L'\0');
    win::DWORD required = 0;
    win::DWORD e = win::Devices().SetupDiGetDeviceRegistryPropertyW(
        set, device, win::SPDRP_HARDWAREID, nullptr, reinterpret_cast<win::BYTE*>(buffer.data()),
        kPropertyChars * sizeof(wchar_t), &required);
    if (e == win::ERROR_INSUFFICIENT_BUFFER && required > kPropertyChars * sizeof(wchar_t) &&
        required <= kMaxPropertyBytes) {
        const std::size_t chars = (required + sizeof(wchar_t) - 1) / sizeof(wchar_t);
        buffer.assign(chars + 1, L'\0');
        e = win::Devices().SetupDiGetDeviceRegistryPropertyW(set, device, win::SPDRP_HARDWAREID, nullptr,
                                                             reinterpret_cast<win::BYTE*>(buffer.data()),
                                                             static_cast<win::DWORD>(chars * sizeof(wchar_t)), nullptr);
    }
    if (e != win::ERROR_SUCCESS) return false;
    id->assign(buffer.data(), BoundedLength(buffer.data(), buffer.size()));
    return true;
}

// One bit of one firmware function, with the messages of the probe that reads it.
struct BitProbe {
    win::WORD function;
    win::WORD mask;
    const char* enter;
    const char* before;
    const char* failure;
    const char* after;
    const char* exit;
};

bool ReadFirmwareBit(const BitProbe& probe) {
    TraceLog(probe.enter);
    bool result = false;
    TavoTouchpad pad;
    if (ScanTavoHidDevice(&pad)) {
        const win::WORD value = GetFeatureFunction(pad.handle.get(), probe.function);
        TraceLog(probe.before, static_cast<unsigned>(value));
        if (value == kFeatureReadFailed) {
            TraceLog(probe.failure);
            return false;
        }
        TraceLog(probe.after, static_cast<unsigned>(value & probe.mask));
        result = (value & probe.mask) != 0;
    }
    pad.handle.reset();
    TraceLog(probe.exit, result ? 1 : 0);
    return result;
}

}  // namespace

TouchpadInfo WorkingTouchpadInfo() {
    std::lock_guard<std::mutex> lock(infoState->infoLock);
    return infoState->working;
}

TouchpadInfo PublishedTouchpadInfo() {
    std::lock_guard<std::mutex> lock(infoState->infoLock);
    return infoState->published;
}

std::uint32_t ComputePhysicalSize(std::uint32_t extent, std::uint32_t steps, std::uint32_t resolutionClass) {
    std::uint32_t countsPerInch;
    if (resolutionClass <= 1)
        countsPerInch = 800;
    else if (resolutionClass <= 15)
        countsPerInch = 800 + 10 * (resolutionClass - 1);
    else
        countsPerInch = 950;
    if (steps <= 1) return 0;
    // 2540 hundredths of a millimetre to the inch.
    return steps * ((extent * 2540u) / (steps * countsPerInch)) + 200u;
}

int ReadTouchpadInfo() {
    TavoTouchpad pad;
    if (!ScanTavoHidDevice(&pad)) {
        TraceLog("Cannot Find TAVO HID Device");
        return 0;
    }
    TraceLog("Find TAVO HID Device");

    struct Read {
        win::WORD function;
        const char* failure;
        void (*store)(TouchpadInfo&, win::WORD);
    };
    static constexpr Read kReads[] = {
        {fn::kStepCounts, "GetFeatureFunction Fail #1",
         [](TouchpadInfo& i, win::WORD v) {
             i.TouchPad_Steps_X = v & 0xFFu;
             i.TouchPad_Steps_Y = v >> 8;
         }},
        {fn::kExtentX, "GetFeatureFunction Fail #2", [](TouchpadInfo& i, win::WORD v) { i.TouchPad_Extent_X = v; }},
        {fn::kExtentY, "GetFeatureFunction Fail #3", [](TouchpadInfo& i, win::WORD v) { i.TouchPad_Extent_Y = v; }},
        {fn::kResolutionClass, "GetFeatureFunction Fail #4",
         [](TouchpadInfo& i, win::WORD v) {
             i.TouchPad_Class_X = v & 0xFFu;
             i.TouchPad_Class_Y = v >> 8;
         }},
    };
    for (const Read& read : kReads) {
        const win::WORD value = GetFeatureFunction(pad.handle.get(), read.function);
        if (value == kFeatureReadFailed) {
            TraceLog(read.failure);
            return 0;
        }
        UpdateWorking([&](TouchpadInfo& i) { read.store(i, value); });
    }

    UpdateWorking([](TouchpadInfo& i) { i.BiosEnableTP = 1; });
    const win::WORD bios = GetFeatureFunction(pad.handle.get(), fn::kBiosEnable);
    if (bios == kFeatureReadFailed) {
        TraceLog("GetFeatureFunction Fail #5");
        return 0;
    }
    const std::uint32_t biosEnable = (bios & kBiosEnableBit) ? 1 : 0;
    UpdateWorking([&](TouchpadInfo& i) { i.BiosEnableTP = biosEnable; });
    TraceLog("BiosEnableTP = %d\r\n", static_cast<int>(biosEnable));

    pad.handle.reset();
    TraceLog("Close TAVO HID Device");

    std::lock_guard<std::mutex> lock(infoState->infoLock);
    infoState->working.TouchPad_Physical_X =
        ComputePhysicalSize(infoState->working.TouchPad_Extent_X, infoState->working.TouchPad_Steps_X, infoState->working.TouchPad_Class_X);
    infoState->working.TouchPad_Physical_Y =
        ComputePhysicalSize(infoState->working.TouchPad_Extent_Y, infoState->working.TouchPad_Steps_Y, infoState->working.TouchPad_Class_Y);
    TraceLog("TouchPad_Physical_X = %d, TouchPad_Physical_Y = %d\r\n", static_cast<int>(infoState->working.TouchPad_Physical_X),
             static_cast<int>(infoState->working.TouchPad_Physical_Y));
    infoState->published = infoState->working;
    return 1;
}

bool SupportForcepad() {
    return ReadFirmwareBit({fn::kForcepadSupport, kForcepadSupportBit, "[SupportForcepad] ==> Enter SupportForcepad()",
                            "[SupportForcepad] Before value = 0x%.4X", "GetFeatureFunction Fail #6",
                            "[SupportForcepad] After value = 0x%.4X",
                            "[SupportForcepad] <== Exit SupportForcepad(), Result = %d"});
}

bool BIOSEnableForcepad() {
    return ReadFirmwareBit({fn::kBiosEnable, kBiosEnableBit, "[BIOSEnableForcepad] ==> Enter BIOSEnableForcepad()",
                            "[BIOSEnableForcepad] Before value = 0x%.4X", "GetFeatureFunction Fail #7",
                            "[BIOSEnableForcepad] After value = 0x%.4X",
                            "[BIOSEnableForcepad] <== Exit BIOSEnableForcepad(), Result = %d"});
}

bool DMEnableForcepad() {
    TraceLog("[DMEnableForcepad] ==> Enter DMEnableForcepad()");
    bool result = false;
    win::UniqueDevInfo set;
    if (win::Devices().SetupDiGetClassDevsW(win::GUID_DEVCLASS_HIDCLASS, win::DIGCF_PRESENT | win::DIGCF_PROFILE,
                                            set.put()) != win::ERROR_SUCCESS) {
        TraceLog("[DMEnableForcepad] Cannot Find Any Mouse Device");
    } else {
        win::SP_DEVINFO_DATA device{};
        for (win::DWORD i = 0; win::Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == win::ERROR_SUCCESS; ++i) {
            std::wstring id;
            if (!ReadFirstHardwareId(set.get(), device, &id)) {
                TraceLog("[DMEnableForcepad] Cannot Get Forcepad Device HWID");
                continue;
            }
            TraceLog("[DMEnableForcepad] HardwareId = %s", NarrowText(id).c_str());
            if (id.find(L"0C5E") == std::wstring::npos && id.find(L"0C5F") == std::wstring::npos) {
                TraceLog("[DMEnableForcepad] Cannot Find TAVO Forcepad Device");
                continue;
            }
            TraceLog("[DMEnableForcepad] Found TAVO Forcepad Device");
            win::DWORD status = 0, problem = 0;
            if (win::Devices().CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == win::CR_SUCCESS) {
                TraceLog("[DMEnableForcepad] problem = 0x%.8X", static_cast<unsigned>(problem));
                if (problem == 0) {
                    TraceLog("[DMEnableForcepad] Device is Enabled in Device Manager");
                    result = true;
                } else if (problem == win::CM_PROB_DISABLED) {
                    TraceLog("[DMEnableForcepad] Device is Disabled in Device Manager");
                } else {
                    TraceLog("[DMEnableForcepad] Device has some problems");
                }
            }
            break;
        }
        set.reset();
    }
    TraceLog("[DMEnableForcepad] Exit <== DMEnableForcepad(), result = %d", result ? 1 : 0);
    return result;
}

void ReadForcepadCapability() {
    TraceLog("[ReadForcepadCapability] Enter ==> ReadForcepadCapability()");
    int result = SupportForcepad() ? 1 : 0;
    TraceLog("[ReadForcepadCapability] Result = %d #SupportForcepad", result);
    if (result) {
        result = BIOSEnableForcepad() ? 1 : 0;
        TraceLog("[ReadForcepadCapability] Result = %d #BIOSEnableForcepad", result);
    }
    if (result) {
        result = DMEnableForcepad() ? 1 : 0;
        TraceLog("[ReadForcepadCapability] Result = %d #DMEnableForcepad", result);
    }
    ChangeValueInRegistry(kForcepadCapabilityValue, result);
    TraceLog("[ReadForcepadCapability] Exit <== ReadForcepadCapability(), Result = %d", result);
}

int GetTouchpadDeviceStatus(wchar_t (&target)[kHidIdChars]) {
    if (target[0] == L'\0') std::copy(std::begin(kDefaultTouchpadTarget), std::end(kDefaultTouchpadTarget), target);
    // The caller's text may lack a terminator: never read past the buffer.
    const std::wstring fragment(target, BoundedLength(target, kHidIdChars));
    TraceLog("GetTouchpadDeviceStatus::Target Device : %ws\r\n", fragment.c_str());

    int count = 0;
    int state = 0;
    win::UniqueDevInfo set;
    if (win::Devices().SetupDiGetClassDevsW(win::GUID_DEVCLASS_HIDCLASS, win::DIGCF_PRESENT | win::DIGCF_PROFILE,
                                            set.put()) != win::ERROR_SUCCESS) {
        TraceLog("GetTouchpadDeviceStatus::Cannot Find Any HID Device\r\n");
    } else {
        win::SP_DEVINFO_DATA device{};
        for (win::DWORD i = 0; win::Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == win::ERROR_SUCCESS; ++i) {
            std::wstring id;
            if (!ReadFirstHardwareId(set.get(), device, &id) || id.find(fragment) == std::wstring::npos) continue;
            TraceLog("GetTouchpadDeviceStatus::Find TAVO HID Device : %ws \r\n", id.c_str());
            ++count;
            win::DWORD status = 0, problem = 0;
            if (win::Devices().CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) != win::CR_SUCCESS) {
                TraceLog("GetTouchpadDeviceStatus::TAVO HID Device(%ws) is unknown, Set Disabled\r\n", id.c_str());
                state = 4;
                continue;
            }
            if ((status & win::DN_HAS_PROBLEM) && problem == win::CM_PROB_DISABLED) {
                TraceLog("GetTouchpadDeviceStatus::TAVO HID Device(%ws) is Disabled\r\n", id.c_str());
                state = 4;
                break;
            }
            TraceLog("GetTouchpadDeviceStatus::TAVO HID Device(%ws) is OK\r\n", id.c_str());
        }
        set.reset();
    }
    TraceLog("GetTouchpadDeviceStatus::NumTAVODevice=%d, Result=%d\r\n", count, state);
    const int result = count == 0 ? 0 : state == 4 ? 4 : 2;
    TraceLog("GetTouchpadDeviceStatus::Result : %d (!=0)\r\n", result);
    return result;
}

bool ReadPTPEnableSetting(std::int32_t* value) {
    TraceLog("ReadPTPEnableSetting++\n");
    bool read = false;
    const win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();
    if (session != win::kNoConsoleSession) {
        win::UniqueToken token;
        if (win::Wts().WTSQueryUserToken(session, token.put()) == win::ERROR_SUCCESS) {
            wchar_t user[kUserNameChars] = {};
            // Without the console user's name the load would name nobody or someone else.
            if (GetCurrectUserName(user) == 0 || user[0] == L'\0') {
                TraceLog("ReadPTPEnableSetting::No User Name, Profile Not Loaded\n");
            } else {
                win::DWORD e = win::ERROR_SUCCESS;
                win::UniqueProfile loaded = win::LoadUserProfileOwned(std::move(token), user, &e);
                if (!loaded) {
                    TraceLog("Cannot laod user profile Fail, Error=%d\n", static_cast<int>(e));
                } else {
                    // The key is closed before the profile is unloaded, so the hive can go.
                    win::UniqueHKey key;
                    const win::LSTATUS status =
                        win::Reg().RegOpenKeyExW(loaded.root(), kPtpStatusPath, 0, win::KEY_QUERY_VALUE, key.put());
                    if (status != win::ERROR_SUCCESS) {
                        TraceLog("RegOpenKeyEx Fail, Error=%d\n", static_cast<int>(status));
                    } else {
                        const std::int32_t enabled = ReadRegistryDword(key.get(), kPtpEnabledValue);
                        key.reset();
                        TraceLog("Read PTP Enable setting = %d\n", enabled);
                        if (value) *value = enabled;
                        read = true;
                    }
                }
            }
        }
    }
    TraceLog("ReadPTPEnableSetting--\n");
    return read;
}

void ProcessGetTouchpadStatus(win::BYTE* EnableResult) {
    TraceLog("Service::ProcessGetTouchpadStatus++\n");
    win::BYTE result = kStatusBiosEnabled | kStatusUserEnabled | kStatusDeviceEnabled;
    if (PublishedTouchpadInfo().BiosEnableTP == 0) result &= static_cast<win::BYTE>(~kStatusBiosEnabled);

    std::int32_t enabled = -1;
    if (ReadPTPEnableSetting(&enabled) && enabled == 0) result &= static_cast<win::BYTE>(~kStatusUserEnabled);

    wchar_t target[kHidIdChars] = {};
    {
        TavoTouchpad pad;
        if (ScanTavoHidDevice(&pad)) {
            const std::size_t length = BoundedLength(pad.hardwareId, kHidIdChars);
            if (length >= kTargetSkip) {
                const std::size_t n = std::min(length - kTargetSkip, kTargetChars);
                std::copy_n(pad.hardwareId + kTargetSkip, n, target);
            }
        }
    }
    const int status = GetTouchpadDeviceStatus(target);
    if (status == 0 || status == 4) result &= static_cast<win::BYTE>(~kStatusDeviceEnabled);

    TraceLog("ProcessGetTouchpadStatus::EnableResult=0x%.02X\n", static_cast<unsigned>(result));
    if (EnableResult) *EnableResult = result;
    TraceLog("Service::ProcessGetTouchpadStatus--\n");
}

}  // namespace tavo
