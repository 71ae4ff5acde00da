#include "laptops/sim_laptop.h"

#include <map>
#include <mutex>

#include "settings/driver_defaults.h"

namespace tavo::laptops {

std::shared_ptr<sim::TouchpadFirmware> BuiltLaptop::Pad() const {
    for (const auto& f : firmware)
        if (f) return f;
    return nullptr;
}

sim::WindowsVersion ToSim(const WindowsSheet& w) {
    return {w.productName, w.releaseId, w.currentBuild, w.major, w.minor, w.ubr};
}

sim::FeatureValue ToSim(const FeatureValueSheet& f) {
    sim::FeatureValue v;
    v.reportId = f.reportId;
    v.usagePage = f.usagePage;
    v.usage = f.usage;
    v.bitSize = f.bitSize;
    v.reportCount = f.reportCount;
    v.logicalMin = f.logicalMin;
    v.logicalMax = f.logicalMax;
    v.physicalMin = f.physicalMin;
    v.physicalMax = f.physicalMax;
    return v;
}

std::shared_ptr<sim::TouchpadFirmware> MakeFirmware(const FirmwareSheet& sheet) {
    auto firmware = std::make_shared<sim::TouchpadFirmware>(sheet.functions);
    for (win::WORD f : sheet.refused) firmware->Refuse(f);
    return firmware;
}

sim::HidInterface ToSim(const HidSheet& h, std::shared_ptr<sim::TouchpadFirmware> firmware) {
    sim::HidInterface c;
    c.path = h.path;
    c.hardwareIds = h.hardwareIds;
    c.description = h.description;
    c.vendorId = h.vendorId;
    c.productId = h.productId;
    c.versionNumber = h.versionNumber;
    c.usagePage = h.usagePage;
    c.usage = h.usage;
    for (const auto& f : h.featureValues) c.featureValues.push_back(ToSim(f));
    if (h.systemOwned) c.grantableAccess = 0;
    c.firmware = std::move(firmware);
    return c;
}

sim::Device ToSim(const DeviceSheet& d, const win::GUID& setupClass) {
    sim::Device device;
    device.setupClass = setupClass;
    device.description = d.description;
    device.hardwareIds = d.hardwareIds;
    device.manufacturer = d.manufacturer;
    return device;
}

SimLaptop ToSim(const LaptopSheet& sheet, std::shared_ptr<sim::TouchpadFirmware> firmware) {
    SimLaptop laptop;
    laptop.name = sheet.name;
    laptop.windows = ToSim(sheet.windows);
    for (const auto& h : sheet.hid)
        laptop.hid.push_back(ToSim(h, !h.firmware ? nullptr : firmware ? firmware : MakeFirmware(*h.firmware)));
    for (const auto& m : sheet.mice) laptop.mice.push_back(ToSim(m, win::GUID_DEVCLASS_MOUSE));
    if (sheet.softwareComponent) laptop.softwareComponent = ToSim(*sheet.softwareComponent, kSoftwareComponentClass);
    laptop.registry = sheet.registry;
    return laptop;
}

BuiltLaptop Build(sim::Machine& machine, const SimLaptop& laptop, BuildParts parts) {
    BuiltLaptop built;
    sim::SetWindowsVersion(machine.registry, laptop.windows);
    for (const auto& h : laptop.hid) {
        built.hidNodes.push_back(machine.devices.AddHid(h));
        built.firmware.push_back(h.firmware);
    }
    for (const auto& m : laptop.mice) built.mouseNodes.push_back(machine.devices.Add(m));
    if (parts.softwareComponent && laptop.softwareComponent)
        built.softwareComponentNode = machine.devices.Add(*laptop.softwareComponent);
    if (parts.registry) machine.registry.Apply(laptop.registry);
    return built;
}

const LaptopSheet& LaptopFile(const std::string& nameOrPath) {
    static std::mutex lock;
    static std::map<std::string, LaptopSheet> loaded;
    std::lock_guard<std::mutex> guard(lock);
    auto it = loaded.find(nameOrPath);
    if (it == loaded.end()) it = loaded.emplace(nameOrPath, LoadLaptopFile(FindLaptopFile(nameOrPath))).first;
    return it->second;
}

SimLaptop LoadSimLaptop(const std::string& nameOrPath, std::shared_ptr<sim::TouchpadFirmware> firmware) {
    return ToSim(LaptopFile(nameOrPath), std::move(firmware));
}

BuiltLaptop BuildLaptopFile(sim::Machine& machine, const std::string& nameOrPath, BuildParts parts) {
    const SimLaptop laptop = ToSim(LoadLaptopFile(FindLaptopFile(nameOrPath)));
    return Build(machine, laptop, parts);
}

sim::HidInterface ForcepadCollection(std::string_view name, std::shared_ptr<sim::TouchpadFirmware> firmware) {
    return ToSim(HidNamed(LaptopFile("forcepad"), name), std::move(firmware));
}

sim::Device PointingStick() {
    for (const auto& m : LaptopFile("forcepad").mice)
        if (m.description == L"TAVO VadavAredu Device") return ToSim(m, win::GUID_DEVCLASS_MOUSE);
    throw LaptopFileError(LaptopFile("forcepad").file + ": expected the pointing stick in /mice, got none");
}

std::map<win::WORD, win::WORD> ForcepadFunctions() {
    const HidSheet& vendor = HidNamed(LaptopFile("forcepad"), "vendor");
    if (!vendor.firmware) throw LaptopFileError(LaptopFile("forcepad").file + ": expected a firmware in the vendor collection");
    return vendor.firmware->functions;
}

sim::FeatureValue VendorReport(win::BYTE reportId) {
    sim::FeatureValue v = ToSim(HidNamed(LaptopFile("forcepad"), "vendor").featureValues.at(0));
    v.reportId = reportId;
    return v;
}

}  // namespace tavo::laptops
