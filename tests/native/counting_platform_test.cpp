// The counting platform: every call reaches the machine behind it unchanged and is counted
// under its own facet; and, counted with it, the touchpad scans and device opens one
// settings apply makes in each mode, which is where hidden extra round trips would show.
#include <set>
#include <string>

#include "device_fixture.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sessions.h"
#include "platform/sim/counting_platform.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo::test {
namespace {

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;

class CountingPlatformTest : public DeviceTest {};

TEST_F(CountingPlatformTest, PassesEachCallOnAndCountsItUnderItsFacet) {
    machine.registry.SetDword(kInForce, L"AABB", 7);
    machine.sessions.LogOn(L"alice");
    sim::CountingPlatform counting;
    counting.Install();

    {
        win::UniqueHKey key;
        ASSERT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_READ, key.put()),
                  win::ERROR_SUCCESS);
        win::DWORD type = 0, value = 0, size = sizeof value;
        EXPECT_EQ(win::Reg().RegQueryValueExW(key.get(), L"AABB", &type, reinterpret_cast<win::BYTE*>(&value), &size),
                  win::ERROR_SUCCESS);
        EXPECT_EQ(value, 7u);
        win::UniqueHKey missing;
        EXPECT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nowhere", 0, win::KEY_READ,
                                           missing.put()),
                  win::ERROR_FILE_NOT_FOUND);
        win::UniqueToken token;
        EXPECT_EQ(win::Wts().WTSQueryUserToken(1, token.put()), win::ERROR_SUCCESS);
        EXPECT_TRUE(machine.handles.IsOpen(static_cast<std::uint64_t>(token.get()), "TOKEN"));
    }

    const sim::CallTable expected = {
        {{"Registry", "RegOpenKeyExW"}, 2}, {{"Registry", "RegQueryValueExW"}, 1}, {{"Registry", "RegCloseKey"}, 1},
        {{"Sessions", "WTSQueryUserToken"}, 1}, {{"Sessions", "CloseHandle"}, 1}};
    EXPECT_EQ(counting.Counts().Table(), expected) << "the token's close is not the HID facet's";
    EXPECT_EQ(counting.Counts().Total(), 6);
    EXPECT_EQ(machine.handles.OpenCount(), 0) << "closes reached the machine";
}

TEST_F(CountingPlatformTest, UninstallPutsTheWrappedPlatformBack) {
    {
        sim::CountingPlatform counting;
        counting.Install();
        EXPECT_NE(win::P().registry, &machine.registry);
        counting.Uninstall();
        EXPECT_EQ(win::P().registry, &machine.registry);
        win::Wts().WTSGetActiveConsoleSessionId();
        EXPECT_EQ(counting.Counts().Total(), 0) << "nothing is counted once it is out of the way";
        counting.Install();
    }
    EXPECT_EQ(win::P().registry, &machine.registry) << "going out of scope uninstalls";
    EXPECT_EQ(win::P().hid, &machine.devices);
}

// ---- one settings apply, as every occasion runs it ----------------------------------------

struct ApplyCase {
    const char* name;
    bool companion;
    int dynamicMode;  // the driver's SupportDynamicModeCommand
    long scans;        // full HID enumerations
    long deviceLists;  // per scan the HID interfaces and the mice; the component tests
    int configOpens;   // opens of the touchpad's vendor collection: examined, then reopened
};

const ApplyCase kApplyCases[] = {
    {"UiModeScansOncePerItem", true, 1, 6, 6 * 2 + 4, 12},
    {"NonUiDynamicWithNothingToSendScansNever", false, 1, 0, 2, 0},
    {"NonUiWithoutDynamicModeScansForTheDefaultSet", false, 0, 1, 2 + 2, 2},
};

class ApplyCalls : public CountingPlatformTest, public testing::WithParamInterface<ApplyCase> {};

TEST_P(ApplyCalls, ScanAndOpenTheTouchpadOnlyAsOftenAsTheItemsPushed) {
    const ApplyCase& c = GetParam();
    SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
    Build(machine, laptop);
    machine.registry.Import(DriverPackageReg(L"0000", 2, 3, c.dynamicMode));
    machine.sessions.LogOn(L"alice");
    if (c.companion) InstallCompanion(machine, L"alice");
    ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
    ReadHKRDefaultSettings(DriverKeyPath());
    ReadPSTStatusFromDM.store(GetPSTDeivce() ? 1 : 0);
    auto apply = [] {
        PalmControl(livePalmSettings, 0, 0);
        ForcePadControl(liveForcepadSettings, 0, 0);
    };
    apply();  // the first run stores the user's values; later runs are all alike
    const std::wstring config = laptop.hid.back().path;
    const int opensBefore = machine.devices.OpenCount(config);

    sim::CountingPlatform counting;
    counting.Install();
    apply();

    EXPECT_EQ(counting.Counts().Of("HidDevices", "HidD_GetHidGuid"), c.scans);
    EXPECT_EQ(counting.Counts().Of("DeviceManager", "SetupDiGetClassDevsW"), c.deviceLists);
    EXPECT_EQ(machine.devices.OpenCount(config) - opensBefore, c.configOpens);
    const std::set<std::string> allowed = {"Registry", "DeviceManager", "HidDevices", "Sessions", "Files"};
    for (const auto& [call, n] : counting.Counts().Table())
        EXPECT_TRUE(allowed.count(call.first)) << call.first << "::" << call.second << " called " << n << " times";
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Situations, ApplyCalls, testing::ValuesIn(kApplyCases),
                         [](const testing::TestParamInfo<ApplyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tavo::test
