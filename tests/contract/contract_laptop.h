// The laptop the HID and device-manager cases run on: one laptop file, built into the
// simulated machine, and under Wine made in the contract prefix by the virtual laptop's
// installer before the tests run (tests/contract/laptop_prefix.sh). The pad is the file's
// collection "vendor"; its firmware records every report in both directions.
#pragma once

#include <string>
#include <vector>

#include "laptops/laptop_file.h"

namespace contract {

inline constexpr char kLaptopFile[] = "forcepad";

const tavo::laptops::LaptopSheet& Laptop();
// After InstallPlatform: the laptop is there and its pad plugged in, accepting every report,
// with an empty record.
void InstallLaptop();
// The pad's record since the last call, one line a report as the installer prints it
// ("> 0D 05 03 05 01", "< 0D 05 01 14 1E", " refused" after one the pad stalled).
std::vector<std::string> TakePadReports();
// The pad stalls every report, or none.
void RefusePadReports(bool all);
// The pad's device node removed (DIF_REMOVE under Wine), and brought back with its table.
void UnplugPad();
void PlugPad();

}  // namespace contract
