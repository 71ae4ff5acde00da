// Simulated laptops described as data: their Windows version, HID collections, mouse-class
// devices and touchpad firmware. A scenario builds one into its machine and then reads like
// the hardware it tests.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_windows_version.h"
#include "settings/driver_defaults.h"

namespace tavo::laptops {

inline constexpr win::USHORT kTavoVid = 0x2C7E;
inline constexpr win::USHORT kTavoPid = 0x4A51;

inline std::wstring HidPath(const std::wstring& instance) {
    return L"\\\\?\\HID#" + instance + L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

// The vendor feature value a touchpad's configuration collection carries.
inline sim::FeatureValue VendorReport(win::BYTE reportId = 0x0D) {
    sim::FeatureValue v;
    v.reportId = reportId;
    v.usagePage = 0xFF00;
    v.usage = 0x0005;
    v.bitSize = 16;
    v.reportCount = 2;
    v.logicalMin = 0;
    v.logicalMax = 0xFFFF;
    return v;
}

// What the firmware of a forcepad answers out of the box.
inline std::map<win::WORD, win::WORD> ForcepadFunctions() {
    return {{0x0101, 0x0001}, {0x0104, 0x0001}, {0x0105, 0x1E14}, {0x0106, 0x0C80}, {0x0107, 0x0800},
            {0x0108, 0x0303}, {0x0365, 0x8000}, {0x03A1, 0x0307}, {0x03A2, 0x00A0}, {0x03A3, 0x0080},
            {0x03A4, 0x003C}, {0x03A9, 0x006E}, {0x03AA, 0x0042}, {0x03AB, 0x4040}};
}

// A keyboard collection of another maker: opened exclusively by the system.
inline sim::HidInterface KeyboardCollection() {
    sim::HidInterface k;
    k.path = HidPath(L"VEN_KBDX&DEV_0100&Col01#5&1c2d3e4f&0&0000");
    k.hardwareIds = {L"HID\\VEN_KBDX&DEV_0100&Col01", L"HID_DEVICE_SYSTEM_KEYBOARD"};
    k.description = L"HID Keyboard Device";
    k.vendorId = 0x048D;
    k.productId = 0x0100;
    k.usagePage = 0x0001;
    k.usage = 0x0006;
    k.grantableAccess = 0;
    return k;
}

// The touchpad's pointer collection: right ids, no vendor report, system-owned.
inline sim::HidInterface TouchpadMouseCollection() {
    sim::HidInterface m;
    m.path = HidPath(L"VEN_TAVO&DEV_0C5E&Col01#5&2a3b4c5d&0&0000");
    m.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5E&Col01", L"HID_DEVICE_SYSTEM_MOUSE"};
    m.description = L"HID-compliant mouse";
    m.vendorId = kTavoVid;
    m.productId = kTavoPid;
    m.usagePage = 0x0001;
    m.usage = 0x0002;
    m.grantableAccess = 0;
    return m;
}

// The touchpad's configuration collection, which carries the vendor report.
inline sim::HidInterface TouchpadVendorCollection(std::shared_ptr<sim::TouchpadFirmware> firmware) {
    sim::HidInterface c;
    c.path = HidPath(L"VEN_TAVO&DEV_0C5E&Col02#5&2a3b4c5d&0&0001");
    c.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5E&Col02", L"HID\\VEN_TAVO&UP:FF00_U:0001"};
    c.vendorId = kTavoVid;
    c.productId = kTavoPid;
    c.featureValues = {VendorReport()};
    c.firmware = std::move(firmware);
    return c;
}

inline sim::Device MouseClassDevice(std::wstring description, std::wstring hardwareId) {
    sim::Device d;
    d.setupClass = win::GUID_DEVCLASS_MOUSE;
    d.description = std::move(description);
    d.hardwareIds = {std::move(hardwareId)};
    d.manufacturer = L"Microsoft";
    return d;
}
inline sim::Device PointingStick() {
    sim::Device d = MouseClassDevice(L"TAVO VadavAredu Device", L"ACPI\\VEN_TAVO&DEV_0C60");
    d.manufacturer = L"TAVO";
    return d;
}

struct Laptop {
    sim::WindowsVersion windows;
    std::vector<sim::HidInterface> hid;
    std::vector<sim::Device> mice;
};

// What a scenario needs to reach after building.
struct BuiltLaptop {
    std::vector<win::DEVINST> hidNodes;
    std::vector<win::DEVINST> mouseNodes;
};

inline BuiltLaptop Build(sim::Machine& machine, const Laptop& laptop) {
    BuiltLaptop built;
    sim::SetWindowsVersion(machine.registry, laptop.windows);
    for (const auto& h : laptop.hid) built.hidNodes.push_back(machine.devices.AddHid(h));
    for (const auto& m : laptop.mice) built.mouseNodes.push_back(machine.devices.Add(m));
    return built;
}

// A Windows 11 laptop with a forcepad and a pointing stick, the stick third in the mouse list.
inline Laptop ForcepadLaptopWithPointingStick(std::shared_ptr<sim::TouchpadFirmware> firmware) {
    return Laptop{sim::Windows11_23H2(),
                  {KeyboardCollection(), TouchpadMouseCollection(), TouchpadVendorCollection(std::move(firmware))},
                  {MouseClassDevice(L"HID-compliant mouse", L"HID\\VEN_TAVO&DEV_0C5E&Col01"),
                   MouseClassDevice(L"USB Optical Mouse", L"HID\\VID_1BCF&PID_0005"), PointingStick()}};
}

// A Windows 10 laptop with a touchpad and no pointing stick.
inline Laptop TouchpadLaptop(std::shared_ptr<sim::TouchpadFirmware> firmware) {
    return Laptop{sim::Windows10_22H2(),
                  {KeyboardCollection(), TouchpadMouseCollection(), TouchpadVendorCollection(std::move(firmware))},
                  {MouseClassDevice(L"HID-compliant mouse", L"HID\\VEN_TAVO&DEV_0C5E&Col01")}};
}

// The laptops by name, for programs that let a person pick one.
struct NamedLaptop {
    const char* name;
    const char* description;
    Laptop (*make)(std::shared_ptr<sim::TouchpadFirmware> firmware);
};
inline constexpr NamedLaptop kLaptops[] = {
    {"forcepad", "forcepad with a pointing stick (Windows 11 unless told)", &ForcepadLaptopWithPointingStick},
    {"touchpad", "touchpad without a pointing stick (Windows 10 unless told)", &TouchpadLaptop},
};

// ---- the driver package's software component and the store companion ----------------

// The driver package's instance under the software-component class key, as its INF installs
// it: DriverDesc and the "DefaultSettings" values (a negative value: left out).
inline std::wstring DriverPackageReg(const std::wstring& instance, std::int32_t palmDefaultOption = 2,
                                     std::int32_t palmRangeGroup = 3, std::int32_t supportDynamicModeCommand = 1,
                                     const std::wstring& driverDesc = kTavoComponentDriverDesc) {
    const std::wstring key = std::wstring(L"[HKEY_LOCAL_MACHINE\\") + kSoftwareComponentClassKeyPath + L"\\" + instance;
    auto dword = [](const wchar_t* name, std::int32_t v) {
        if (v < 0) return std::wstring();
        wchar_t text[16];
        std::swprintf(text, 16, L"%08x", static_cast<unsigned>(v));
        return L"\"" + std::wstring(name) + L"\"=dword:" + text + L"\n";
    };
    return key + L"]\n\"DriverDesc\"=\"" + driverDesc + L"\"\n" + key + L"\\DefaultSettings]\n" +
           dword(kValuePalmDefaultOption, palmDefaultOption) + dword(kValuePalmRangeGroup, palmRangeGroup) +
           dword(kValueSupportDynamicModeCommand, supportDynamicModeCommand);
}

// A device of the software-component class; the companion's own one by default.
inline sim::Device SoftwareComponent(std::wstring hardwareId = L"SWC\\VAR_IRORI_VOV21&SUBSYS_TAVO0001",
                                     std::wstring manufacturer = L"TAVO Corporation") {
    sim::Device d;
    d.setupClass = kSoftwareComponentClass;
    d.description = L"TAVO Touchpad Companion Component";
    d.hardwareIds = {std::move(hardwareId), L"SWC\\VAR_IRORI_VOV21"};
    d.manufacturer = std::move(manufacturer);
    return d;
}

// The companion's package folder for a user with the usual profile folders.
inline std::wstring CompanionPackageFolder(const std::wstring& user) {
    return L"C:\\Users\\" + user + L"\\AppData\\Local\\Packages\\" + kCompanionPackageFamilyName;
}

// The companion installed for a user at the console: its package folder and its component.
inline void InstallCompanion(sim::Machine& machine, const std::wstring& user) {
    machine.files.AddFolder(CompanionPackageFolder(user));
    machine.devices.Add(SoftwareComponent());
}

}  // namespace tavo::laptops
