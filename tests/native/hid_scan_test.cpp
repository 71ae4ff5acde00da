// Selecting the touchpad among the HID collections, and giving back all that a scan opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <thread>

#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device_fixture.h"
#include "common/registry_paths.h"

namespace tavo::test {
namespace {

class ScanTest : public DeviceTest {
protected:
    // Scans with a sentinel in the id and canaries after it, so an output written on
    // failure, or past the id's 256 characters, shows.
    int Scan() {
        out.pad.handle.reset();
        std::fill(std::begin(out.pad.hardwareId), std::end(out.pad.hardwareId), L'#');
        std::fill(std::begin(out.canary), std::end(out.canary), L'#');
        int result = ScanTavoHidDevice(&out.pad);
        handle = out.pad.handle.get();
        hwid = out.pad.hardwareId;
        return result;
    }
    void CloseHandle() {
        out.pad.handle.reset();
        handle = win::INVALID_HANDLE_VALUE;
    }
    // A collection of another touchpad-like device at position n of the bus.
    static sim::HidInterface Collection(int n, win::USHORT vid, win::USHORT pid, std::vector<sim::FeatureValue> values) {
        sim::HidInterface c;
        c.path = HidPath(L"VEN_TEST&DEV_" + std::to_wstring(n) + L"#1&0&" + std::to_wstring(n));
        c.hardwareIds = {L"HID\\VEN_TEST&DEV_" + std::to_wstring(n)};
        c.vendorId = vid;
        c.productId = pid;
        c.featureValues = std::move(values);
        return c;
    }

    struct {
        TavoTouchpad pad;
        wchar_t canary[8];
    } out;
    static_assert(sizeof(TavoTouchpad) == offsetof(decltype(out), canary), "canaries right after the id");
    win::HANDLE handle = win::INVALID_HANDLE_VALUE;
    const wchar_t* hwid = out.pad.hardwareId;
};

TEST_F(ScanTest, FindsTheConfigurationCollectionOfTheForcepad) {
    Build(machine, LoadSimLaptop("forcepad", firmware));
    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(std::wstring(hwid), L"HID\\VEN_TAVO&DEV_0C5E&Col02");
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::Hid Device Count = 3\r\n"));
    EXPECT_TRUE(Logged(L"Device Logical  (0, 65535)\r\n"));
    EXPECT_TRUE(Logged(L"Device Physical (0, 0)\r\n"));
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID Device Select Index = 2, Hwid = HID\\VEN_TAVO&DEV_0C5E&Col02\r\n"));
    EXPECT_EQ(machine.devices.OpenCount(ForcepadCollection("vendor", nullptr).path), 2) << "scanned, then reopened";
    EXPECT_EQ(GetFeatureFunction(handle, fn::kForcepadSupport), 0x0001);

    // The probes ran with it.
    EXPECT_EQ(isWin11OSVersion.load(), 1);
    EXPECT_EQ(machine.registry.Dword(std::wstring(L"HKLM\\") + kSettingsKeyPath, L"BIOSEnablePSTStatus"), 1u);
    CloseHandle();
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ScanTest, TheLaterOfTwoQualifyingCollectionsIsSelected) {
    // The touchpad laptop and a second collection with report 0x0D (Col03, product 0x4A52,
    // logical maximum 0x7FFF), one firmware behind both.
    Build(machine, LoadSimLaptop("two-pads", firmware));

    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(std::wstring(hwid), L"HID\\VEN_TAVO&DEV_0C5E&Col03");
    EXPECT_TRUE(Logged(L"Device Logical  (0, 65535)\r\n"));
    EXPECT_TRUE(Logged(L"Device Logical  (0, 32767)\r\n"));
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID Device Select Index = 3, Hwid = HID\\VEN_TAVO&DEV_0C5E&Col03\r\n"));
    EXPECT_EQ(machine.devices.OpenCount(ForcepadCollection("vendor", nullptr).path), 1) << "only the later is reopened";
    CloseHandle();
}

TEST_F(ScanTest, RightIdsWithoutTheVendorReportAreNotTheTouchpad) {
    machine.devices.AddHid(ForcepadCollection("pointer"));
    machine.devices.AddHid(Collection(1, kTavoVid, 0x4A52, {VendorReport(0x0C), VendorReport(0x0E)}));
    machine.devices.AddHid(Collection(2, 0x1D93, kTavoPid, {}));
    ASSERT_EQ(Scan(), 0);
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::Error: Cannot found any Tavo HID Device\r\n"));
    EXPECT_FALSE(out.pad.handle) << "outputs untouched";
    EXPECT_EQ(hwid[0], L'#');
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ScanTest, TheVendorReportOfAnotherVendorIsNotTheTouchpad) {
    machine.devices.AddHid(Collection(1, 0x2C7F, kTavoPid, {VendorReport()}));
    machine.devices.AddHid(Collection(2, kTavoVid, 0x4A53, {VendorReport()}));
    sim::HidInterface otherPage = Collection(3, 0x06CB, 0xCE26, {VendorReport()});
    otherPage.usagePage = 0x000D;  // a digitizer page makes no difference
    machine.devices.AddHid(otherPage);
    EXPECT_EQ(Scan(), 0);
    EXPECT_FALSE(Logged(L"Device Logical  (0, 65535)\r\n"));
}

TEST_F(ScanTest, ExactlyOneHundredTwentyEightCollectionsAreAllScanned) {
    for (int i = 0; i < 127; ++i) machine.devices.AddHid(Collection(i, 0x1111, 0x2222, {}));
    machine.devices.AddHid(Collection(127, kTavoVid, kTavoPid, {VendorReport()}));
    ASSERT_EQ(Scan(), 1);
    EXPECT_TRUE(Logged(L"HID_GetDevice::Too many HID device!\r\n"));
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::Hid Device Count = 128\r\n"));
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID Device Select Index = 127, Hwid = HID\\VEN_TEST&DEV_127\r\n"));
    CloseHandle();
}

TEST_F(ScanTest, CollectionsBeyondOneHundredTwentyEightAreNotSeen) {
    for (int i = 0; i < 128; ++i) machine.devices.AddHid(Collection(i, 0x1111, 0x2222, {}));
    machine.devices.AddHid(Collection(128, kTavoVid, kTavoPid, {VendorReport()}));
    EXPECT_EQ(Scan(), 0);
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::Hid Device Count = 128\r\n"));
    EXPECT_EQ(machine.devices.OpenCount(Collection(128, 0, 0, {}).path), 0);
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ScanTest, BelowOneHundredTwentyEightNothingIsSaidAboutTooMany) {
    for (int i = 0; i < 127; ++i) machine.devices.AddHid(Collection(i, 0x1111, 0x2222, {}));
    EXPECT_EQ(Scan(), 0);
    EXPECT_FALSE(Logged(L"HID_GetDevice::Too many HID device!\r\n"));
}

TEST_F(ScanTest, EveryPathClosesWhatItOpened) {
    SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
    for (int i = 0; i < 5; ++i) laptop.hid.push_back(Collection(10 + i, kTavoVid, kTavoPid, {VendorReport()}));
    Build(machine, laptop);
    // Collections 3 to 7 would qualify; 3 to 6 each fail at another step of the check (the
    // touchpad's pointer and configuration collections come first at every step).
    machine.faults.Fail("HidD_GetAttributes", win::ERROR_INVALID_FUNCTION, 4);
    machine.faults.Fail("HidD_GetPreparsedData", win::ERROR_NOT_ENOUGH_MEMORY, 3);
    machine.faults.Fail("HidP_GetCaps", win::HIDP_STATUS_INVALID_PREPARSED_DATA, 3);
    machine.faults.Fail("HidP_GetValueCaps", win::HIDP_STATUS_INVALID_PREPARSED_DATA, 2);
    ASSERT_EQ(Scan(), 1);
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID Device Select Index = 7, Hwid = HID\\VEN_TEST&DEV_14\r\n"));
    EXPECT_EQ(machine.handles.OpenCount("DeviceFile"), 1) << "only the handle given to the caller";
    EXPECT_EQ(machine.handles.OpenCount("PreparsedData"), 0);
    EXPECT_EQ(machine.handles.OpenCount("HDEVINFO"), 0);
    CloseHandle();
    EXPECT_EQ(OpenDeviceHandles(), 0);

    // Nothing selected, and the HID list unavailable.
    machine.faults.Clear();
    machine.faults.Fail("HidD_GetAttributes", win::ERROR_INVALID_FUNCTION);
    EXPECT_EQ(Scan(), 0);
    EXPECT_EQ(OpenDeviceHandles(), 0);
    machine.faults.Clear();
    machine.faults.Fail("SetupDiGetClassDevsW", win::ERROR_INVALID_PARAMETER, 2);  // the first is the mouse class
    EXPECT_EQ(Scan(), 0);
    EXPECT_TRUE(Logged(L"HID_GetDevice::SetupDiGetClassDevs fail\r\n"));
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID_GetDevice fail\r\n"));
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ScanTest, DeviceThatVanishesBeforeTheReopenGivesAnInvalidHandle) {
    SimLaptop laptop = LoadSimLaptop("touchpad", firmware);
    laptop.hid[2].vanishAfterOpens = 1;
    Build(machine, laptop);
    ASSERT_EQ(Scan(), 1) << "the selection stands; the caller's first transfer fails";
    EXPECT_EQ(handle, win::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::HID Device Select Index = 2, HID Handle = 0xffffffff\r\n"));
    EXPECT_EQ(GetFeatureFunction(handle, fn::kForcepadSupport), kFeatureReadFailed);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x0104) Set Fail\r\n"));
    EXPECT_TRUE(firmware->Reports().empty());
    CloseHandle();  // an owner of the invalid value closes nothing
    EXPECT_EQ(machine.faults.Uses("CloseHandle"), 3) << "one per collection scanned, none for the reopen";

    EXPECT_EQ(Scan(), 0) << "gone for the next scan";
}

TEST_F(ScanTest, OpenTakesTheMostAccessTheSystemGrants) {
    sim::HidInterface readOnly = Collection(1, 0x1111, 0x2222, {});
    readOnly.grantableAccess = win::GENERIC_READ;
    machine.devices.AddHid(readOnly);
    machine.devices.AddHid(ForcepadCollection("keyboard"));
    machine.devices.AddHid(Collection(2, 0x1111, 0x2222, {}));

    win::DWORD granted = 0xDEAD;
    win::UniqueDeviceHandle h = OpenHidDevice(readOnly.path.c_str(), &granted);
    EXPECT_TRUE(h);
    EXPECT_EQ(granted, win::GENERIC_READ);
    win::UniqueDeviceHandle k = OpenHidDevice(ForcepadCollection("keyboard").path.c_str(), &granted);
    EXPECT_TRUE(k);
    EXPECT_EQ(granted, 0u);
    win::UniqueDeviceHandle full = OpenHidDevice(Collection(2, 0, 0, {}).path.c_str(), &granted);
    EXPECT_EQ(granted, win::GENERIC_READ | win::GENERIC_WRITE);
    granted = 0xDEAD;
    EXPECT_FALSE(OpenHidDevice(L"\\\\?\\HID#NOPE", &granted));
    EXPECT_EQ(granted, 0xDEADu);
}

TEST_F(ScanTest, PathsAndHardwareIdsThatDoNotFit) {
    // A path of 300 characters cannot be held, and naming a cut path would open another
    // device or none: the collection is left out.
    sim::HidInterface longPath = Collection(1, kTavoVid, kTavoPid, {VendorReport()});
    longPath.path = HidPath(L"VEN_TAVO&DEV_0C5E&Col02#" + std::wstring(300, L'p'));
    machine.devices.AddHid(longPath);
    EXPECT_EQ(Scan(), 0);
    EXPECT_TRUE(Logged(L"ScanTavoHidDevice::Hid Device Count = 0\r\n"));

    // A hardware id of 258 characters still fits the 520-byte property buffer with its two
    // terminators and is cut to 255 characters, keeping the vendor and device part.
    sim::HidInterface longId = Collection(2, kTavoVid, kTavoPid, {VendorReport()});
    longId.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5E&" + std::wstring(236, L'i')};
    // And one whose ids overflow the property buffer reads as no hardware id.
    sim::HidInterface hugeIds = Collection(3, 0x1111, 0x2222, {});
    hugeIds.hardwareIds = {std::wstring(200, L'a'), std::wstring(200, L'b')};
    machine.devices.AddHid(hugeIds);
    machine.devices.AddHid(longId);
    ASSERT_EQ(Scan(), 1);
    const std::wstring id(hwid);
    EXPECT_EQ(id.size(), kHidIdChars - 1);
    EXPECT_EQ(id.substr(0, 22), L"HID\\VEN_TAVO&DEV_0C5E&");
    EXPECT_EQ(out.canary[0], L'#') << "nothing written past the 256 characters";
    CloseHandle();
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

}  // namespace
}  // namespace tavo::test

namespace tavo::test {
namespace {

TEST_F(ScanTest, ConcurrentScansEachOpenTheirOwnHandle) {
    SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
    Build(machine, laptop);
    constexpr int kThreads = 4;
    std::vector<TavoTouchpad> pads(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&pads, t] {
            ScanTavoHidDevice(&pads[t]);
            SetFeatureFunction(pads[t].handle.get(), fn::kHapticStrength, static_cast<win::WORD>(0x2020 + t));
        });
    for (auto& th : threads) th.join();
    std::set<win::HANDLE> distinct;
    for (const auto& p : pads) distinct.insert(p.handle.get());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(isWin11OSVersion.load(), 1);
    pads.clear();
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

}  // namespace
}  // namespace tavo::test
