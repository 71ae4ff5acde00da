// A laptop described as data: one JSON file (laptops/NAME.json) and the Windows ".reg" file
// it names, read the same way by the simulator, the native tests, the benchmarks, tavo-sim
// and the Windows test tools that make the laptop under Wine. Portable: standard types only,
// nothing of the simulator, so it builds natively and with MinGW beside <windows.h>.
//
//   {
//     "description": "forcepad with a pointing stick",
//     "windows": "11",                        // "10", "11" or an object of WindowsSheet's fields
//     "hid": [ { "name": "vendor", "path": "\\\\?\\HID#...", "hardwareIds": ["HID\\VEN_TAVO&DEV_0C5E&Col02"],
//                "vendorId": "0x2C7E", "productId": "0x4A51", "usagePage": "0xFF00", "usage": "0x0001",
//                "featureValues": [ { "reportId": "0x0D", "usagePage": "0xFF00", "usage": "0x0005",
//                                     "bitSize": 16, "reportCount": 2 } ],
//                "firmware": { "functions": { "0x0101": "0x0001" } } } ],
//     "mice": [ { "description": "TAVO VadavAredu Device", "hardwareIds": ["ACPI\\VEN_TAVO&DEV_0C60"],
//                 "manufacturer": "TAVO" } ],
//     "softwareComponent": { "description": "...", "hardwareIds": ["SWC\\..."], "manufacturer": "TAVO Inc." },
//     "registryFile": "forcepad.reg"          // beside the JSON file
//   }
//
// Field names are the structures' below. Ids, usages, report ids and other 16-bit values may
// be JSON numbers or strings "0x2C7E". A field not listed here is refused, so a typo cannot
// pass silently; so is a field given twice.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_text.h"

namespace tavo::laptops {

// The values Windows keeps under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion.
struct WindowsSheet {
    std::wstring productName, releaseId, currentBuild;  // currentBuild a string, as Windows stores it
    std::uint32_t major = 10, minor = 0, ubr = 0;
    friend bool operator==(const WindowsSheet&, const WindowsSheet&) = default;
};

// One feature value capability of a collection (HidP_GetValueCaps). Optional in the file:
// logicalMin 0, logicalMax 0xFFFF, physicalMin and physicalMax 0.
struct FeatureValueSheet {
    std::uint8_t reportId = 0;
    std::uint16_t usagePage = 0, usage = 0, bitSize = 0, reportCount = 0;
    std::int32_t logicalMin = 0, logicalMax = 0xFFFF, physicalMin = 0, physicalMax = 0;
    friend bool operator==(const FeatureValueSheet&, const FeatureValueSheet&) = default;
};

// The touchpad firmware behind a collection's vendor report 0x0D: its table of 16-bit
// function values, and the functions whose requests it refuses (optional, none).
struct FirmwareSheet {
    std::map<std::uint16_t, std::uint16_t> functions;
    std::set<std::uint16_t> refused;
    friend bool operator==(const FirmwareSheet&, const FirmwareSheet&) = default;
};

// One HID collection (a device node of the HID class and its interface). Optional in the
// file: description ("HID-compliant vendor-defined device"), versionNumber (0x0100),
// featureValues (none), systemOwned (false), firmware (none: every feature report stalls).
struct HidSheet {
    std::string name;                      // what scenarios call it ("vendor", "keyboard")
    std::wstring path;                     // the interface path (the simulator's; Wine makes its own)
    std::vector<std::wstring> hardwareIds;  // most specific first
    std::wstring description = L"HID-compliant vendor-defined device";
    std::uint16_t vendorId = 0, productId = 0, versionNumber = 0x0100, usagePage = 0, usage = 0;
    std::vector<FeatureValueSheet> featureValues;
    bool systemOwned = false;  // opened exclusively by the system: only an open without data access works
    std::optional<FirmwareSheet> firmware;
    friend bool operator==(const HidSheet&, const HidSheet&) = default;
};

// A device node as the device manager lists it: a mouse-class device or the software component.
struct DeviceSheet {
    std::wstring description;
    std::vector<std::wstring> hardwareIds;
    std::wstring manufacturer;
    friend bool operator==(const DeviceSheet&, const DeviceSheet&) = default;
};

struct LaptopSheet {
    std::string name;         // the file's stem unless the file says "name"
    std::string description;  // one line, for lists of laptops
    std::string file;         // the JSON file it was read from
    WindowsSheet windows;
    std::vector<HidSheet> hid;     // in the order the bus enumerates them
    std::vector<DeviceSheet> mice;  // the mouse class, in order
    std::optional<DeviceSheet> softwareComponent;
    std::string registryFile;       // the .reg file (a path, resolved beside the JSON); empty: none
    std::wstring registryText;      // its text
    std::vector<RegOperation> registry;  // and what it asks for, in order
};

// what(): "FILE:LINE: FIELD: expected ..., got ..." (LINE where the field is written; the
// field as a JSON pointer such as /hid/2/vendorId).
class LaptopFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the file and the .reg file it names; throws LaptopFileError (a .reg file's faults
// included) and returns nothing half-filled.
LaptopSheet LoadLaptopFile(const std::string& path);

// A path (anything with a '/' or '\\' in it, or ending in ".json") as it is; otherwise a
// name, NAME.json in LaptopsDir().
std::string FindLaptopFile(const std::string& nameOrPath);
// The folder of the laptop files: TAVO_LAPTOPS_DIR when set, else the source tree's laptops/.
std::string LaptopsDir();
// The laptop files in a folder (LaptopsDir() by default), by name.
std::vector<std::string> LaptopFileNames(const std::string& dir = LaptopsDir());

// The Windows versions the simulator runs by name: 10 (22H2) and 11 (23H2).
WindowsSheet WindowsByName(int version);

// The collection of that name; throws LaptopFileError naming the laptop when there is none.
const HidSheet& HidNamed(const LaptopSheet& laptop, std::string_view name);

}  // namespace tavo::laptops
