// Device-manager and HID-class behaviour that the simulated machine must share with
// Windows, for cases that need no particular hardware present.
#include <gtest/gtest.h>

#include "contract/contract_platform.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/hid.h"

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

}  // namespace
