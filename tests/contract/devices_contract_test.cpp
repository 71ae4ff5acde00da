// Device-manager and HID-class behaviour that the simulated machine must share with
// Windows: first for cases that need no particular hardware present, then on the laptop of
// the contract laptop file (its mice, its software component, its HID collections' nodes).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "contract/contract_laptop.h"
#include "contract/contract_platform.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/hid.h"
#include "settings/driver_defaults.h"

namespace {

// A class no device belongs to.
constexpr win::GUID kNoSuchClass = {0x6C0DA6E1, 0x0C4A, 0x4E3B, {0x9B, 0x1F, 0x53, 0x2E, 0x7A, 0x11, 0x90, 0x42}};

class DevicesContract : public ::testing::Test {
protected:
    DevicesContract() { contract::InstallPlatform(); }
    ~DevicesContract() override { contract::UninstallPlatform(); }
};

TEST_F(DevicesContract, HidInterfaceClassIsTheWellKnownGuid) {
    win::GUID g{};
    win::Hid().HidD_GetHidGuid(&g);
    EXPECT_TRUE(g == win::GUID_DEVINTERFACE_HID);
}

TEST_F(DevicesContract, AClassWithoutDevicesGivesAnEmptySet) {
    for (win::DWORD flags : {win::DIGCF_PRESENT | win::DIGCF_DEVICEINTERFACE, win::DIGCF_PRESENT | win::DIGCF_PROFILE}) {
        SCOPED_TRACE(flags);
        win::UniqueDevInfo set;
        ASSERT_EQ(win::Devices().SetupDiGetClassDevsW(kNoSuchClass, flags, set.put()), win::ERROR_SUCCESS);
        win::SP_DEVINFO_DATA device{};
        EXPECT_EQ(win::Devices().SetupDiEnumDeviceInfo(set.get(), 0, &device), win::ERROR_NO_MORE_ITEMS);
        win::SP_DEVICE_INTERFACE_DATA iface{};
        EXPECT_EQ(win::Hid().SetupDiEnumDeviceInterfaces(set.get(), kNoSuchClass, 0, &iface), win::ERROR_NO_MORE_ITEMS);
        EXPECT_EQ(win::Devices().SetupDiDestroyDeviceInfoList(set.release()), win::ERROR_SUCCESS);
    }
}

TEST_F(DevicesContract, ACollectionThatIsNotThereCannotBeOpened) {
    win::HANDLE h = win::INVALID_HANDLE_VALUE;
    const win::DWORD e = win::Hid().CreateFileW(
        L"\\\\?\\HID#VEN_NONE&DEV_0000&Col01#0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
        win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0, &h);
    EXPECT_EQ(e, win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, win::INVALID_HANDLE_VALUE);
}

// ---- the laptop's devices ---------------------------------------------------------------------

using tavo::laptops::DeviceSheet;

class LaptopDevices : public DevicesContract {
protected:
    LaptopDevices() { contract::InstallLaptop(); }
};

// A text property's bytes as the device manager keeps them: each string terminated, and a
// list (REG_MULTI_SZ) with one terminator more.
std::vector<win::BYTE> TextBytes(const std::vector<std::wstring>& strings, bool list) {
    std::wstring text;
    for (const auto& s : strings) text += s + L'\0';
    if (list) text += L'\0';
    const auto* p = reinterpret_cast<const win::BYTE*>(text.data());
    return {p, p + text.size() * sizeof(wchar_t)};
}

struct Property {
    win::DWORD error;
    win::DWORD type = 0;
    std::vector<win::BYTE> bytes;
};

Property Read(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device, win::DWORD property) {
    Property p;
    win::DWORD required = 0;
    p.error = win::Devices().SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &required);
    if (p.error != win::ERROR_INSUFFICIENT_BUFFER) return p;
    p.bytes.resize(required);
    p.error = win::Devices().SetupDiGetDeviceRegistryPropertyW(set, device, property, &p.type, p.bytes.data(), required,
                                                              nullptr);
    return p;
}

// Every present device of a setup class, as its description, hardware ids and manufacturer.
std::vector<DeviceSheet> ClassDevices(const win::GUID& setupClass, std::vector<win::DEVINST>* nodes = nullptr) {
    std::vector<DeviceSheet> out;
    win::UniqueDevInfo set;
    EXPECT_EQ(win::Devices().SetupDiGetClassDevsW(setupClass, win::DIGCF_PRESENT | win::DIGCF_PROFILE, set.put()), 0u);
    win::SP_DEVINFO_DATA device{};
    for (win::DWORD i = 0; win::Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == 0; ++i) {
        DeviceSheet d;
        auto text = [&](win::DWORD property, win::DWORD type) {
            const Property p = Read(set.get(), device, property);
            std::vector<std::wstring> strings;
            if (p.error != 0) return strings;
            EXPECT_EQ(p.type, type) << "property " << property;
            std::wstring all(p.bytes.size() / sizeof(wchar_t), L'\0');
            std::memcpy(all.data(), p.bytes.data(), all.size() * sizeof(wchar_t));
            for (std::size_t at = 0; at < all.size() && all[at];) {
                const std::size_t end = all.find(L'\0', at);
                strings.push_back(all.substr(at, end - at));
                at = end == std::wstring::npos ? end : end + 1;
            }
            EXPECT_EQ(p.bytes, TextBytes(strings, type == win::REG_MULTI_SZ)) << "property " << property;
            return strings;
        };
        const auto description = text(win::SPDRP_DEVICEDESC, win::REG_SZ);
        const auto manufacturer = text(win::SPDRP_MFG, win::REG_SZ);
        d.hardwareIds = text(win::SPDRP_HARDWAREID, win::REG_MULTI_SZ);
        d.description = description.empty() ? L"" : description[0];
        d.manufacturer = manufacturer.empty() ? L"" : manufacturer[0];
        out.push_back(d);
        if (nodes) nodes->push_back(device.DevInst);
    }
    return out;
}

struct ClassCase {
    const char* name;
    win::GUID setupClass;
    std::vector<DeviceSheet> (*expected)();
};

class SetupClasses : public LaptopDevices, public testing::WithParamInterface<ClassCase> {};

// What the pointing-stick probe and the companion test walk: exactly the file's devices, in
// its order, each with its texts as written, working (no problem).
TEST_P(SetupClasses, ListTheFilesDevicesInOrderWithTheirPropertiesAndNoProblem) {
    std::vector<win::DEVINST> nodes;
    const auto listed = ClassDevices(GetParam().setupClass, &nodes);
    const auto want = GetParam().expected();
    ASSERT_EQ(listed.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(listed[i].description == want[i].description);
        EXPECT_TRUE(listed[i].hardwareIds == want[i].hardwareIds);
        EXPECT_TRUE(listed[i].manufacturer == want[i].manufacturer);
        win::DWORD status = 0xFFFFFFFF, problem = 0xFFFFFFFF;
        EXPECT_EQ(win::Devices().CM_Get_DevNode_Status(&status, &problem, nodes[i], 0), win::CR_SUCCESS);
        EXPECT_EQ(status & win::DN_HAS_PROBLEM, 0u);
        EXPECT_EQ(problem, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forcepad, SetupClasses,
    testing::Values(ClassCase{"Mouse", win::GUID_DEVCLASS_MOUSE, [] { return contract::Laptop().mice; }},
                    ClassCase{"SoftwareComponent", tavo::kSoftwareComponentClass,
                              [] { return std::vector<DeviceSheet>{*contract::Laptop().softwareComponent}; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Each collection has a node of the HID class whose hardware ids begin with the file's. Under
// Wine that is the virtual laptop's root node, which carries the driver's match id after them;
// Wine's HID node of the collection is listed beside it.
TEST_F(LaptopDevices, EachCollectionHasANodeOfTheHidClassWithItsHardwareIds) {
    const auto listed = ClassDevices(win::GUID_DEVCLASS_HIDCLASS);
    for (const auto& c : contract::Laptop().hid) {
        SCOPED_TRACE(c.name);
        int found = 0;
        for (const auto& d : listed)
            if (d.hardwareIds.size() >= c.hardwareIds.size() &&
                std::equal(c.hardwareIds.begin(), c.hardwareIds.end(), d.hardwareIds.begin()))
                ++found;
        EXPECT_EQ(found, 1);
    }
}

// A property read as the service reads it: a buffer too small leaves it untouched and says
// how much is needed; one property no device here has.
struct PropertyCase {
    const char* name;
    win::DWORD property;
    int bufferShortBy;  // characters short of the property's size; -1: no buffer at all
    win::DWORD error;
};

class PropertyReads : public LaptopDevices, public testing::WithParamInterface<PropertyCase> {};

TEST_P(PropertyReads, OnThePointingStick) {
    const PropertyCase& c = GetParam();
    win::UniqueDevInfo set;
    ASSERT_EQ(win::Devices().SetupDiGetClassDevsW(win::GUID_DEVCLASS_MOUSE, win::DIGCF_PRESENT | win::DIGCF_PROFILE,
                                                  set.put()),
              0u);
    const std::wstring stick = L"TAVO VadavAredu Device";
    win::SP_DEVINFO_DATA device{};
    bool found = false;
    for (win::DWORD i = 0; !found && win::Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == 0; ++i) {
        const Property p = Read(set.get(), device, win::SPDRP_DEVICEDESC);
        found = p.error == 0 && p.bytes == TextBytes({stick}, false);
    }
    ASSERT_TRUE(found);
    const win::DWORD size = c.property == win::SPDRP_DEVICEDESC ? static_cast<win::DWORD>((stick.size() + 1) * sizeof(wchar_t)) : 0;
    std::vector<win::BYTE> buffer(256, 0xAB);
    win::DWORD required = 0xFFFF;
    const win::DWORD offered = c.bufferShortBy < 0 ? 0 : size - c.bufferShortBy * sizeof(wchar_t);
    const win::DWORD e = win::Devices().SetupDiGetDeviceRegistryPropertyW(
        set.get(), device, c.property, nullptr, c.bufferShortBy < 0 ? nullptr : buffer.data(), offered, &required);
    EXPECT_EQ(e, c.error);
    if (e == win::ERROR_INSUFFICIENT_BUFFER) {
        EXPECT_EQ(required, size);
    }
    if (e != 0) {
        EXPECT_EQ(buffer, std::vector<win::BYTE>(256, 0xAB)) << "the buffer is left as it was";
    }
}

constexpr win::DWORD kFriendlyName = 0x0C;  // SPDRP_FRIENDLYNAME: none of the laptop's devices has one

INSTANTIATE_TEST_SUITE_P(
    Forcepad, PropertyReads,
    testing::Values(PropertyCase{"NoBufferGivesTheSize", win::SPDRP_DEVICEDESC, -1, win::ERROR_INSUFFICIENT_BUFFER},
                    PropertyCase{"OneCharacterShortGivesTheSize", win::SPDRP_DEVICEDESC, 1, win::ERROR_INSUFFICIENT_BUFFER},
                    PropertyCase{"ExactlyTheSizeFits", win::SPDRP_DEVICEDESC, 0, win::ERROR_SUCCESS},
                    PropertyCase{"APropertyTheDeviceLacks", kFriendlyName, 0, win::ERROR_INVALID_DATA}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
