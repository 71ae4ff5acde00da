// HID collections, mouse-class devices and software components whose paths, hardware ids,
// descriptions, manufacturers, attributes and capabilities are anything a device or its
// driver could report, stored terminated or not. Then every scan and probe the service
// makes of them: none may read past a buffer, leave a handle open, or answer outside its
// range.
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_device.h"
#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "fuzz_input.h"
#include "fuzz_scenario.h"
#include "laptops/laptops.h"
#include "platform/sim/sim_windows_version.h"
#include "settings/driver_defaults.h"
#include "settings/settings_records.h"

namespace tavo::fuzz {
namespace {

using namespace tavo::laptops;

const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

const wchar_t* const kKnownHardwareIds[] = {
    L"HID\\VEN_TAVO&DEV_0C5E&Col02", L"HID\\VEN_TAVO&DEV_0C5F&Col01", L"HID\\VEN_TAVO", L"HID\\", L"HID",
    L"HID_DEVICE_SYSTEM_MOUSE", L"ACPI\\VEN_TAVO&DEV_0C60", L"SWC\\VAR_IRORI_VOV21&SUBSYS_TAVO0001",
    L"SWC\\VAR_IRORI_VOV21", L""};
const wchar_t* const kKnownTexts[] = {L"TAVO VadavAredu Device", L"HID-compliant mouse", L"TAVO Corporation", L"TAVO",
                                      L""};
constexpr win::USHORT kVendorIds[] = {0x2C7E, 0x1D93, 0x048D};
constexpr win::USHORT kProductIds[] = {0x4A51, 0x4A52, 0x0100};
constexpr win::DWORD kAccess[] = {win::GENERIC_READ | win::GENERIC_WRITE, win::GENERIC_READ, win::GENERIC_WRITE, 0};

std::wstring AnyText(FuzzInput& in, std::size_t maxChars) {
    switch (in.Pick(4)) {
        case 0: return in.PickFrom(kKnownTexts);
        case 1: return in.PickFrom(kKnownHardwareIds);
        case 2: return in.Ascii(maxChars);
        default: return in.Text(maxChars);
    }
}

// A known id with anything around it, or any text.
std::wstring AnyHardwareId(FuzzInput& in) {
    if (in.Bit()) {
        std::wstring id = in.Ascii(8);
        id += in.PickFrom(kKnownHardwareIds);
        return id + in.Ascii(300);
    }
    return AnyText(in, 600);
}

std::vector<std::wstring> AnyHardwareIds(FuzzInput& in) {
    std::vector<std::wstring> ids(in.Pick(4));
    for (auto& id : ids) id = AnyHardwareId(in);
    return ids;
}

// Sometimes a property is stored as raw bytes: unterminated, cut inside a character.
void MaybeRaw(FuzzInput& in, std::map<win::DWORD, std::vector<win::BYTE>>* raw) {
    static constexpr win::DWORD kProperties[] = {win::SPDRP_HARDWAREID, win::SPDRP_DEVICEDESC, win::SPDRP_MFG};
    for (int n = 0; n < 3 && in.U8() >= 192; ++n) {
        const win::DWORD property = in.PickFrom(kProperties);
        if (in.Bit()) {
            (*raw)[property] = in.Bytes(in.Size(3000));
            continue;
        }
        // Text that fills the readers' 260-character buffers, give or take a character,
        // with no terminator and perhaps a last character cut short.
        std::wstring text = AnyText(in, 300);
        text.resize(258 + in.Pick(5), L'x');
        std::vector<win::BYTE> bytes(text.size() * sizeof(wchar_t) + in.Pick(sizeof(wchar_t)), 'x');
        std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
        (*raw)[property] = std::move(bytes);
    }
}

void MaybeTrouble(FuzzInput& in, sim::Machine& m, win::DEVINST node) {
    switch (in.Pick(8)) {
        case 0: m.devices.SetProblem(node, win::CM_PROB_DISABLED); break;
        case 1: m.devices.SetProblem(node, in.U32()); break;
        case 2: m.devices.Unplug(node); break;
        default: break;
    }
}

sim::HidInterface AnyCollection(FuzzInput& in, const std::shared_ptr<sim::TouchpadFirmware>& firmware) {
    sim::HidInterface h;
    switch (in.Pick(3)) {
        case 0: h.path = HidPath(in.Ascii(300)); break;
        case 1: h.path = in.Text(600); break;
        default: h.path = HidPath(L"VEN_TAVO&DEV_0C5E&Col02#5&2a3b4c5d&0&" + in.Ascii(8)); break;
    }
    h.hardwareIds = AnyHardwareIds(in);
    if (in.Bit()) h.description = AnyText(in, 600);
    MaybeRaw(in, &h.rawProperties);
    h.vendorId = in.Bit() ? in.PickFrom(kVendorIds) : in.U16();
    h.productId = in.Bit() ? in.PickFrom(kProductIds) : in.U16();
    h.usagePage = in.U16();
    h.usage = in.U16();
    for (std::size_t n = in.Pick(4); n > 0; --n) {
        sim::FeatureValue v = in.Bit() ? VendorReport() : sim::FeatureValue{};
        if (in.Bit()) v.reportId = in.U8();
        if (in.Bit()) v.bitSize = in.U8();
        if (in.Bit()) v.reportCount = in.U8();
        if (in.Bit()) {
            v.logicalMin = in.Int32();
            v.logicalMax = in.Int32();
            v.physicalMin = in.Int32();
            v.physicalMax = in.Int32();
        }
        h.featureValues.push_back(v);
    }
    if (in.U8() >= 224) h.featureReportByteLength = in.U16();
    h.grantableAccess = in.PickFrom(kAccess);
    if (in.Bit()) h.firmware = firmware;
    if (in.U8() >= 224) h.vanishAfterOpens = static_cast<int>(in.Pick(4));
    return h;
}

sim::Device AnyDevice(FuzzInput& in, const win::GUID& setupClass) {
    sim::Device d;
    d.setupClass = setupClass;
    d.description = AnyText(in, 600);
    d.hardwareIds = AnyHardwareIds(in);
    d.manufacturer = AnyText(in, 600);
    MaybeRaw(in, &d.rawProperties);
    return d;
}

bool TerminatedWithin(const wchar_t* text, std::size_t capacity) { return wcsnlen(text, capacity) < capacity; }

}  // namespace

int FuzzHidIds(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Scenario s;
    auto firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    const std::uint8_t setup = in.U8();
    sim::SetWindowsVersion(s.machine.registry, (setup & 1) ? ToSim(WindowsByName(11)) : ToSim(WindowsByName(10)));
    if (setup & 2) {
        s.machine.sessions.LogOn(L"alice");
        s.machine.files.AddFolder(CompanionPackageFolder(L"alice"));
    }
    if ((setup & 0x1C) == 0x1C) {
        // More collections than the scan's tables hold: slow, so one input in eight.
        for (int i = 0; i < kHidMaxDevices + 2; ++i) {
            sim::HidInterface h = ForcepadCollection("pointer");
            h.path = HidPath(L"VEN_KBDX&DEV_0100&Col01#" + std::to_wstring(i));
            s.machine.devices.AddHid(h);
        }
    }

    for (std::size_t n = in.Pick(8); n > 0; --n)
        MaybeTrouble(in, s.machine, s.machine.devices.AddHid(AnyCollection(in, firmware)));
    for (std::size_t n = in.Pick(5); n > 0; --n)
        MaybeTrouble(in, s.machine, s.machine.devices.Add(AnyDevice(in, win::GUID_DEVCLASS_MOUSE)));
    for (std::size_t n = in.Pick(4); n > 0; --n)
        MaybeTrouble(in, s.machine, s.machine.devices.Add(AnyDevice(in, kSoftwareComponentClass)));

    {
        auto tables = std::make_unique_for_overwrite<wchar_t[][kHidIdChars]>(2 * kHidMaxDevices);
        wchar_t (*paths)[kHidIdChars] = tables.get();
        wchar_t (*ids)[kHidIdChars] = tables.get() + kHidMaxDevices;
        int count = static_cast<int>(in.Pick(kHidMaxDevices + 1));
        const int first = count;
        if (HID_GetDevice(paths, ids, &count) == 1) {
            FUZZ_CHECK(count >= first && count <= kHidMaxDevices);
            for (int i = first; i < count; ++i) {
                FUZZ_CHECK(TerminatedWithin(paths[i], kHidIdChars));
                FUZZ_CHECK(TerminatedWithin(ids[i], kHidIdChars));
                win::DWORD access = 0xDEAD;
                win::UniqueDeviceHandle device = OpenHidDevice(paths[i], &access);
                if (device) FUZZ_CHECK(access == kAccess[0] || access == kAccess[1] || access == kAccess[2] || access == 0);
            }
        }
    }
    s.CheckNothingOpen();

    {
        TavoTouchpad pad;
        if (ScanTavoHidDevice(&pad) == 1) FUZZ_CHECK(TerminatedWithin(pad.hardwareId, kHidIdChars));
    }
    s.CheckNothingOpen();

    ReadPSTStatusFromDM = GetPSTDeivce() ? 1 : 0;
    const std::int32_t stick = s.StoredDword(kSettingsKey, kValueBIOSEnablePSTStatus);
    FUZZ_CHECK(stick == -1 || stick == 0 || stick == 1);
    ReadForcepadCapability();
    DMEnableForcepad();
    const int component = DetectSoftwareComponentInstall();
    FUZZ_CHECK(component == 0 || component == 1);

    {
        // The caller's target may fill the whole buffer without a terminator.
        wchar_t target[kHidIdChars];
        const std::wstring text = in.Bit() ? in.Text(kHidIdChars) : in.Ascii(kHidIdChars);
        std::fill(std::begin(target), std::end(target), L'X');
        std::copy(text.begin(), text.end(), target);
        if (text.size() < kHidIdChars && in.Bit()) target[text.size()] = L'\0';
        const int status = GetTouchpadDeviceStatus(target);
        FUZZ_CHECK(status == 0 || status == 2 || status == 4);
    }
    std::uint8_t status = 0xEE;
    ProcessGetTouchpadStatus(&status);
    FUZZ_CHECK((status & ~0x07) == 0);
    ReadTouchpadInfo();
    s.CheckNothingOpen();
    return 0;
}

}  // namespace tavo::fuzz
