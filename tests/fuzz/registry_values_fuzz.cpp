// Values of any type and any size where the service reads its settings: the settings key
// and the console user's subkey, the driver package's instance keys and their defaults, the
// Windows version key and the user's Precision Touchpad switch in the user's hive. Then
// every read the service makes of them, each held to what its header promises for the bytes
// that are stored.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/driver_cleanup.h"
#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "fuzz_input.h"
#include "fuzz_scenario.h"
#include "laptops/laptops.h"
#include "monitors/toggle_flag.h"
#include "platform/sim/sim_windows_version.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "registry/registry_helpers.h"
#include "settings/settings_store.h"

namespace tavo::fuzz {
namespace {

using namespace tavo::laptops;

const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;
const std::wstring kAliceKey = kSettingsKey + L"\\alice";
const std::wstring kClassKey = std::wstring(L"HKLM\\") + kSoftwareComponentClassKeyPath;
constexpr wchar_t kPtpStatusKey[] = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\PrecisionTouchPad\\Status";

const wchar_t* const kSettingsNames[] = {
    kValuePalmCheckLevel, kValuePalmCheckRangeUp, kValuePalmCheckRangeDown, kValuePalmCheckRangeLeft,
    kValuePalmCheckRangeRight, kValueCurrentControlItem, kValueHapticEnabled, kValueHapticFeedbackCheckSlider,
    kValueFingerDetectionForceCheckOption, kValueClickForceCheckOption, kValueUseTopZoneAsVadavAreduButtonsEnabled,
    kValueVadavAreduButtonClickForceCheckOption, kValueUseTopZoneAsVadavAreduButtonsNotGrayOut,
    kValueUseTopZoneAsVadavAreduButtonsPreviousManualStatus, kValueForcepadCapability,
    kValueFunctionCustomPalmRejection, kValueAABB, kValueBIOSEnablePSTStatus, kValueDisableEventLog, kValueVersion};
const wchar_t* const kInstanceNames[] = {kDriverDescValue};
const wchar_t* const kDefaultsNames[] = {kValuePalmDefaultOption, kValuePalmRangeGroup,
                                         kValueSupportDynamicModeCommand};
const wchar_t* const kVersionNames[] = {L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber", L"UBR",
                                        L"CurrentBuild", L"ProductName", L"ReleaseId"};

constexpr win::DWORD kTypes[] = {win::REG_NONE,      win::REG_SZ, win::REG_EXPAND_SZ, win::REG_BINARY,
                                 win::REG_DWORD,     5 /*REG_DWORD_BIG_ENDIAN*/,      6 /*REG_LINK*/,
                                 win::REG_MULTI_SZ,  11 /*REG_QWORD*/};

// A registry name: printable, no separator (a separator would make it a path).
std::wstring AnyName(FuzzInput& in, std::size_t maxChars) {
    std::wstring name = in.Ascii(maxChars);
    for (auto& c : name)
        if (c == L'\\' || c == 0) c = L'_';
    return name;
}

// The bytes of a value: raw, or text in the registry's wide characters with or without
// its terminator.
std::vector<win::BYTE> AnyData(FuzzInput& in) {
    if (in.Bit()) return in.Bytes(in.Size(70000));
    const std::wstring text = in.Ascii(4096);
    const bool terminated = in.Bit();
    const auto* p = reinterpret_cast<const win::BYTE*>(text.c_str());
    return std::vector<win::BYTE>(p, p + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

// What ReadRegistryString promises for the stored bytes.
std::wstring ExpectedString(const std::optional<sim::RegValue>& v) {
    if (!v || (v->type != win::REG_SZ && v->type != win::REG_EXPAND_SZ && v->type != win::REG_MULTI_SZ)) return {};
    if (v->data.size() > kRegistryStringChars * sizeof(wchar_t)) return {};
    std::wstring text(v->data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), v->data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::int32_t ExpectedDword(win::DWORD type, const std::vector<win::BYTE>& data) {
    if (type != win::REG_DWORD || data.size() != 4) return -1;
    std::int32_t v;
    std::memcpy(&v, data.data(), 4);
    return v;
}

// .reg text for one value of any type in the user's hive.
std::wstring HiveValue(win::DWORD type, const std::vector<win::BYTE>& data) {
    wchar_t head[32];
    std::swprintf(head, 32, L"\"Enabled\"=hex(%x):", static_cast<unsigned>(type));
    std::wstring text = std::wstring(L"[") + kPtpStatusKey + L"]\n" + head;
    for (std::size_t i = 0; i < data.size(); ++i) {
        wchar_t byte[4];
        std::swprintf(byte, 4, L"%02x", static_cast<unsigned>(data[i]));
        if (i) text += L',';
        text += byte;
    }
    return text + L"\n";
}

}  // namespace

int FuzzRegistryValues(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Scenario s;
    auto firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    Build(s.machine, LoadSimLaptop("forcepad", firmware));
    s.machine.registry.Import(DriverPackageReg(L"0000"));
    s.machine.devices.Add(SoftwareComponent());
    s.machine.sessions.LogOn(L"alice");
    s.machine.files.AddFolder(CompanionPackageFolder(L"alice"));
    // One copy of the package in the INF folder, so that a version read reaches a comparison.
    s.machine.setupInf.AddFile(L"OEM3.INF",
                               L"[Version]\nSignature=\"$Windows NT$\"\nCatalogFile=KVR_Component.cat\n"
                               L"DriverVer=01/02/2024,1.0.0.1\n");

    std::optional<std::int32_t> hiveEnabled;  // what the user's switch reads as, once written
    for (int n = 0; n < 40 && !in.empty(); ++n) {
        std::wstring key;
        std::wstring name;
        switch (in.Pick(8)) {
            case 0: key = kSettingsKey; name = in.PickFrom(kSettingsNames); break;
            case 1: key = kAliceKey; name = in.PickFrom(kSettingsNames); break;
            case 2: key = kClassKey + L"\\0000"; name = in.PickFrom(kInstanceNames); break;
            case 3: key = kClassKey + L"\\0000\\" + kDefaultSettingsSubKey; name = in.PickFrom(kDefaultsNames); break;
            case 4: key = sim::kCurrentVersionKey; name = in.PickFrom(kVersionNames); break;
            case 5: {
                // Another instance, its name of any length: the registry allows 255 characters.
                const std::wstring instance = AnyName(in, 300);
                key = kClassKey + L"\\" + (instance.empty() ? L"0001" : instance);
                if (in.Bit()) key += std::wstring(L"\\") + kDefaultSettingsSubKey;
                name = in.Bit() ? std::wstring(kDriverDescValue) : in.PickFrom(kDefaultsNames);
                break;
            }
            case 6: key = in.Bit() ? kSettingsKey : kAliceKey; name = AnyName(in, 300); break;
            case 7: {
                const win::DWORD type = in.Bit() ? in.PickFrom(kTypes) : in.U32();
                const std::vector<win::BYTE> bytes = in.Bytes(in.Size(64));
                s.machine.sessions.ImportUserHive(L"alice", HiveValue(type, bytes));
                hiveEnabled = ExpectedDword(type, bytes);
                continue;
            }
        }
        const win::DWORD type = in.Bit() ? in.PickFrom(kTypes) : in.U32();
        s.machine.registry.SetRaw(key, name, type, AnyData(in));
    }
    s.CheckNothingOpen();

    // The trace session's switch: 1 as a DWORD keeps the session off.
    EnableTracelog();
    if (s.StoredDword(kSettingsKey, kValueDisableEventLog) == 1) FUZZ_CHECK(!TraceSessionRunning());
    if (!s.machine.registry.Value(kSettingsKey, kValueDisableEventLog)) FUZZ_CHECK(TraceSessionRunning());
    DisableTracelog();
    FUZZ_CHECK(!TraceSessionRunning());

    {
        std::wstring version = L"sentinel";
        const bool opened = GetDriverVersion(&version);
        FUZZ_CHECK(opened == s.machine.registry.KeyExists(kSettingsKey));
        FUZZ_CHECK(version == ExpectedString(s.machine.registry.Value(kSettingsKey, kValueVersion)));
        FUZZ_CHECK(DeleteOldDriver(version) == (version.empty() ? 0 : 1));
    }

    {
        const bool found = WorkaroundGetHKRRegistryPath();
        const std::wstring path = DriverKeyPath();
        if (found) {
            FUZZ_CHECK(path.size() < kDriverKeyPathChars);
            FUZZ_CHECK(ExpectedString(s.machine.registry.Value(L"HKLM\\" + path, kDriverDescValue)) ==
                       kTavoComponentDriverDesc);
        } else {
            FUZZ_CHECK(path.empty());
            for (const std::wstring& sub : s.machine.registry.SubKeys(kClassKey))
                if (sub.size() <= 100)
                    FUZZ_CHECK(ExpectedString(s.machine.registry.Value(kClassKey + L"\\" + sub, kDriverDescValue)) !=
                               kTavoComponentDriverDesc);
        }
        const bool opened = ReadHKRDefaultSettings(path);
        const std::wstring defaults = L"HKLM\\" + path + L"\\" + kDefaultSettingsSubKey;
        FUZZ_CHECK(opened == (found && s.machine.registry.KeyExists(defaults)));
        if (opened) {
            FUZZ_CHECK(PalmDefaultOption.load() == s.StoredDword(defaults, kValuePalmDefaultOption));
            FUZZ_CHECK(PalmRangeGroup.load() == s.StoredDword(defaults, kValuePalmRangeGroup));
            FUZZ_CHECK(SupportDynamicModeCommand.load() == s.StoredDword(defaults, kValueSupportDynamicModeCommand));
        }
        FUZZ_CHECK(palmDefaults.Get(0) == PalmDefaultOption.load());
    }

    {
        const bool keyExisted = s.machine.registry.KeyExists(kSettingsKey);
        const std::int32_t aabb = RegRead_AABB();
        FUZZ_CHECK(aabb == (keyExisted ? s.StoredDword(kSettingsKey, kValueAABB) : 0));
        int custom = 7;
        ReadCustomPalmRejection(&custom);
        FUZZ_CHECK(custom == (s.StoredDword(kSettingsKey, kValueFunctionCustomPalmRejection) == 1 ? 1 : 0));
    }

    for (int mode : {SYNC_READ, SYNC_READ_LAST}) {
        const std::wstring& key = mode == SYNC_READ ? kAliceKey : kSettingsKey;
        PalmSettings palm{-7, -7, -7, -7, -7};
        FUZZ_CHECK(SyncTouchpadSettings(mode, palm) == 1);
        FUZZ_CHECK(palm == StoredRecord<PalmSettings>(s, key));
        ForcepadSettings forcepad{-7, -7, -7, -7, -7, -7, -7, -7, -7};
        FUZZ_CHECK(SyncForcepadSettings(mode, forcepad) == 1);
        FUZZ_CHECK(forcepad == StoredRecord<ForcepadSettings>(s, key));
    }
    {
        PalmSettings palm{};
        SyncTouchpadSettings(99, palm);  // an unknown mode opens the key and does nothing else
        FUZZ_CHECK(palm == PalmSettings{});
    }

    {
        std::int32_t enabled = -7;
        const bool read = ReadPTPEnableSetting(&enabled);
        FUZZ_CHECK(read == hiveEnabled.has_value());
        if (read) FUZZ_CHECK(enabled == *hiveEnabled);
    }

    // What the service does with the values once read: the version probe in every scan,
    // the decisions from the values in force, and the status byte.
    ReadTouchpadInfo();
    ReadPSTStatusFromDM = GetPSTDeivce() ? 1 : 0;
    ReadForcepadCapability();
    const std::int32_t capability = s.StoredDword(kSettingsKey, kValueForcepadCapability);
    FUZZ_CHECK(capability == 0 || capability == 1);
    SyncTouchpadSettings(SYNC_READ_LAST, livePalmSettings);
    SyncForcepadSettings(SYNC_READ_LAST, liveForcepadSettings);
    PalmControl(livePalmSettings, 0, 1);
    ForcePadControl(liveForcepadSettings, 0, 1);
    PalmControl(livePalmSettings, 1, 0);
    ForcePadControl(liveForcepadSettings, 1, 0);
    std::uint8_t status = 0xEE;
    ProcessGetTouchpadStatus(&status);
    FUZZ_CHECK((status & ~0x07) == 0);
    RunDriverCleanup();
    s.CheckNothingOpen();
    return 0;
}

}  // namespace tavo::fuzz
