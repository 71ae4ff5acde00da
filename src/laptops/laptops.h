// What scenarios add to a simulated laptop beside its file (laptops/*.json, built by
// sim_laptop.h): devices and the driver package's registry that cases vary, and the store
// companion's installation.
#pragma once

#include <cstdio>
#include <string>

#include "laptops/sim_laptop.h"
#include "platform/sim/machine.h"
#include "settings/driver_defaults.h"

namespace tavo::laptops {

// The touchpad's vendor and product id, for collections a scenario makes of its own.
inline constexpr win::USHORT kTavoVid = 0x2C7E;
inline constexpr win::USHORT kTavoPid = 0x4A51;

inline std::wstring HidPath(const std::wstring& instance) {
    return L"\\\\?\\HID#" + instance + L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

inline sim::Device MouseClassDevice(std::wstring description, std::wstring hardwareId) {
    sim::Device d;
    d.setupClass = win::GUID_DEVCLASS_MOUSE;
    d.description = std::move(description);
    d.hardwareIds = {std::move(hardwareId)};
    d.manufacturer = L"Microsoft";
    return d;
}

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
