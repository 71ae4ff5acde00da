// A laptop file made into the simulated machine (native builds): its Windows version, its
// HID collections (each with a touchpad firmware where the file gives one), its mouse-class
// devices, and when asked the software component and the registry the driver package leaves.
//
// Two steps, so that a scenario can change the laptop before it is built (a collection that
// vanishes, a stick with a problem, one more collection):
//     SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
//     laptop.mice[2].problem = win::CM_PROB_FAILED_START;
//     BuiltLaptop built = Build(machine, laptop);
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "laptops/laptop_file.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_windows_version.h"

namespace tavo::laptops {

struct SimLaptop {
    std::string name;
    sim::WindowsVersion windows;
    std::vector<sim::HidInterface> hid;  // in the file's order
    std::vector<sim::Device> mice;
    std::optional<sim::Device> softwareComponent;
    std::vector<RegOperation> registry;
};

// What to make of the file besides the Windows version, the collections and the mice. The
// software component and the registry are left out unless asked for: scenarios install the
// companion and import the driver package (DriverPackageReg) as each case needs them.
struct BuildParts {
    bool softwareComponent = false;
    bool registry = false;
};

// What a scenario reaches after building.
struct BuiltLaptop {
    std::vector<win::DEVINST> hidNodes;  // one per collection, in order
    // The firmware behind each collection (none where the file gives none).
    std::vector<std::shared_ptr<sim::TouchpadFirmware>> firmware;
    std::vector<win::DEVINST> mouseNodes;
    std::optional<win::DEVINST> softwareComponentNode;
    // The first firmware, the pad's when there is one pad.
    std::shared_ptr<sim::TouchpadFirmware> Pad() const;
};

// firmware: the one object behind every collection that has a firmware in the file (the
// scenario's own, its table as the scenario made it); none: each such collection gets a
// firmware of its own with the file's table and refused functions.
SimLaptop ToSim(const LaptopSheet& sheet, std::shared_ptr<sim::TouchpadFirmware> firmware = nullptr);
sim::WindowsVersion ToSim(const WindowsSheet& windows);
sim::FeatureValue ToSim(const FeatureValueSheet& value);
sim::HidInterface ToSim(const HidSheet& hid, std::shared_ptr<sim::TouchpadFirmware> firmware);
sim::Device ToSim(const DeviceSheet& device, const win::GUID& setupClass);
std::shared_ptr<sim::TouchpadFirmware> MakeFirmware(const FirmwareSheet& firmware);

// Adds the laptop to the machine; never fails (the file was checked when it was read).
BuiltLaptop Build(sim::Machine& machine, const SimLaptop& laptop, BuildParts parts = {});

// A laptop file by name or path (FindLaptopFile), read once per process and kept.
const LaptopSheet& LaptopFile(const std::string& nameOrPath);
// The same, made into the simulator's devices.
SimLaptop LoadSimLaptop(const std::string& nameOrPath, std::shared_ptr<sim::TouchpadFirmware> firmware = nullptr);
// Reads the file afresh and builds it: a file with any fault throws LaptopFileError before
// the machine is touched.
BuiltLaptop BuildLaptopFile(sim::Machine& machine, const std::string& nameOrPath, BuildParts parts = {});

// ---- parts of the shipped laptops, for scenarios that assemble a machine of their own -----
// The forcepad laptop's collection of that name ("keyboard", "pointer", "vendor").
sim::HidInterface ForcepadCollection(std::string_view name,
                                     std::shared_ptr<sim::TouchpadFirmware> firmware = nullptr);
// The forcepad laptop's pointing stick, "TAVO VadavAredu Device".
sim::Device PointingStick();
// What the forcepad's firmware answers out of the box (the file's table).
std::map<win::WORD, win::WORD> ForcepadFunctions();
// The vendor collection's feature value, with another report id when asked.
sim::FeatureValue VendorReport(win::BYTE reportId = 0x0D);

}  // namespace tavo::laptops
