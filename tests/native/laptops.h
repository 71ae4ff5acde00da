// Simulated laptops described as data: their Windows version, HID collections, mouse-class
// devices and touchpad firmware. A scenario builds one into its machine and then reads like
// the hardware it tests.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_windows_version.h"

namespace tavo::test {

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

}  // namespace tavo::test
