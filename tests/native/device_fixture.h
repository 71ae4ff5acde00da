// Device-access scenarios: a fresh machine whose trace the test records, and a forcepad
// firmware at hand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/system_probes.h"
#include "laptops/laptops.h"
#include "sim_fixture.h"

namespace tavo::test {

using namespace tavo::laptops;

class DeviceTest : public SimTest {
protected:
    DeviceTest() { RecordTrace(); }

    // Messages written from a mark (a previous Written().size()) on.
    std::vector<std::wstring> WrittenSince(std::size_t mark) const {
        auto all = Written();
        return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())),
                                         all.end());
    }
    // Everything device access acquires: device files, device information sets, preparsed
    // data and registry keys.
    int OpenDeviceHandles() const {
        return machine.handles.OpenCount("DeviceFile") + machine.handles.OpenCount("HDEVINFO") +
               machine.handles.OpenCount("PreparsedData") + machine.handles.OpenCount("HKEY");
    }

    std::shared_ptr<sim::TouchpadFirmware> firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
};

}  // namespace tavo::test
