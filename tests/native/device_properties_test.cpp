// Device properties as a driver may leave them in the registry: without a terminator, or
// cut inside a character. Every reader stays inside its buffer (the sanitizer builds would
// see an overread) and still finds what the text names.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/hid_device.h"
#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "native/device_fixture.h"
#include "settings/driver_defaults.h"

namespace tavo::test {
namespace {

// The property buffers of the probes: 520 bytes of UTF-16, 260 characters.
constexpr std::size_t kPropertyChars = 260;

// text, padded with 'x' to chars characters, stored without a terminator; extraBytes of a
// further character cut short.
std::vector<win::BYTE> Unterminated(std::wstring text, std::size_t chars, std::size_t extraBytes = 0) {
    text.resize(chars, L'x');
    std::vector<win::BYTE> bytes(text.size() * sizeof(wchar_t) + extraBytes, 'x');
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

struct Case {
    const char* name;
    std::function<void(sim::Machine&, std::shared_ptr<sim::TouchpadFirmware>)> build;
    std::function<bool()> found;
};

sim::HidInterface VendorCollectionWithIds(std::shared_ptr<sim::TouchpadFirmware> firmware, std::vector<win::BYTE> ids) {
    sim::HidInterface c = ForcepadCollection("vendor", std::move(firmware));
    c.rawProperties[win::SPDRP_HARDWAREID] = std::move(ids);
    return c;
}

bool ScanFindsTheTouchpadWithItsIdCut() {
    TavoTouchpad pad;
    if (ScanTavoHidDevice(&pad) != 1) return false;
    const std::wstring id(pad.hardwareId);
    return id.size() == kHidIdChars - 1 && id.starts_with(L"HID\\VEN_TAVO&DEV_0C5E&Col02");
}

bool DefaultTargetFindsTheTouchpad() {
    wchar_t target[kHidIdChars] = {};
    return GetTouchpadDeviceStatus(target) == 2;
}

const Case kCases[] = {
    {"stick description filling the buffer",
     [](sim::Machine& m, auto) {
         sim::Device stick = PointingStick();
         stick.rawProperties[win::SPDRP_DEVICEDESC] = Unterminated(L"TAVO VadavAredu Device", kPropertyChars);
         m.devices.Add(stick);
     },
     [] { return GetPSTDeivce(); }},
    {"stick description cut inside a character",
     [](sim::Machine& m, auto) {
         sim::Device stick = PointingStick();
         stick.rawProperties[win::SPDRP_DEVICEDESC] = Unterminated(L"TAVO VadavAredu Device", 30, 1);
         m.devices.Add(stick);
     },
     [] { return GetPSTDeivce(); }},
    {"touchpad hardware ids filling the buffer",
     [](sim::Machine& m, auto fw) {
         m.devices.AddHid(VendorCollectionWithIds(fw, Unterminated(L"HID\\VEN_TAVO&DEV_0C5E&Col02", kPropertyChars)));
     },
     [] { return ScanFindsTheTouchpadWithItsIdCut() && DMEnableForcepad() && DefaultTargetFindsTheTouchpad(); }},
    {"touchpad hardware ids longer than the buffer",
     [](sim::Machine& m, auto fw) {
         m.devices.AddHid(VendorCollectionWithIds(fw, Unterminated(L"HID\\VEN_TAVO&DEV_0C5E&Col02", 3000, 2)));
     },
     [] { return DMEnableForcepad() && DefaultTargetFindsTheTouchpad(); }},
    {"companion component with unterminated id and maker",
     [](sim::Machine& m, auto) {
         sim::Device component = SoftwareComponent();
         component.rawProperties[win::SPDRP_HARDWAREID] = Unterminated(L"SWC\\VAR_IRORI_VOV21", kPropertyChars);
         component.rawProperties[win::SPDRP_MFG] = Unterminated(L"TAVO Corporation", 100, 3);
         m.devices.Add(component);
     },
     [] { return DetectSoftwareComponentInstall() == 1; }},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class UnterminatedProperty : public DeviceTest, public testing::WithParamInterface<Case> {};

TEST_P(UnterminatedProperty, IsReadInsideItsBufferAndStillMatches) {
    GetParam().build(machine, firmware);
    EXPECT_TRUE(GetParam().found());
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Devices, UnterminatedProperty, testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == ' ') c = '_';
    return name;
});

}  // namespace
}  // namespace tavo::test
