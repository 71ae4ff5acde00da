// Device-access scenarios: a fresh machine with a service object to log through, the
// probes' process-wide state as a new process has it, and a forcepad firmware at hand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/system_probes.h"
#include "laptops.h"
#include "service/service_base.h"
#include "sim_fixture.h"

namespace tavo::test {

class DeviceTest : public SimTest {
protected:
    DeviceTest() {
        ResetSystemProbesForTest();
        logger_ = std::make_unique<CServiceBase>();
    }
    ~DeviceTest() override {
        logger_.reset();
        ResetSystemProbesForTest();
    }

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

private:
    std::unique_ptr<CServiceBase> logger_;
};

}  // namespace tavo::test
