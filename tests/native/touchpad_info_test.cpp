// Touchpad information, forcepad capability and the touchpad status for the companion,
// on simulated laptops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "device/touchpad_info.h"
#include "native/device_fixture.h"
#include "common/registry_paths.h"

namespace tavo::test {
namespace {

const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

// The user's Precision Touchpad switch as the Settings app keeps it in the user's hive.
std::wstring PtpStatusReg(const std::wstring& enabledLine) {
    return L"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\PrecisionTouchPad\\Status]\n" +
           enabledLine + L"\n";
}

class TouchpadInfoTest : public DeviceTest {
protected:
    ~TouchpadInfoTest() override {
        EXPECT_EQ(OpenDeviceHandles(), 0) << "a device handle, set or key was left open";
        EXPECT_EQ(machine.handles.OpenCount("TOKEN"), 0) << "a user token was left open";
        EXPECT_EQ(machine.handles.OpenCount("Profile"), 0) << "a user profile was left loaded";
    }

    BuiltLaptop BuildForcepadLaptop() { return Build(machine, LoadSimLaptop("forcepad", firmware)); }
    // alice at the console with the given "Enabled" line in her hive (empty: no such key).
    void AliceAtConsole(const std::wstring& enabledLine) {
        machine.sessions.LogOn(L"alice");
        if (!enabledLine.empty()) machine.sessions.ImportUserHive(L"alice", PtpStatusReg(enabledLine));
    }
    bool AnyLogged(const std::wstring& prefix) const {
        for (const auto& l : Written())
            if (l.starts_with(prefix)) return true;
        return false;
    }
    win::BYTE Status() {
        win::BYTE result = 0xEE;
        ProcessGetTouchpadStatus(&result);
        return result;
    }
};

// ---- the physical size ---------------------------------------------------------------

TEST(ComputePhysicalSize, WorkedExamplesAndEdges) {
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 1), 9710u);
    EXPECT_EQ(ComputePhysicalSize(2600, 20, 5), 8060u);
    // a = 3000, b = 30: each resolution gives a different size.
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 0), 9710u) << "class 0 reads as 800 counts per inch";
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 2), 9590u) << "class 2: 810";
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 15), 8300u) << "class 15: 940";
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 16), 8210u) << "class 16: 950";
    EXPECT_EQ(ComputePhysicalSize(3000, 30, 255), 8210u) << "every class above 15: 950";
    EXPECT_EQ(ComputePhysicalSize(3000, 0, 1), 0u);
    EXPECT_EQ(ComputePhysicalSize(3000, 1, 1), 0u);
    EXPECT_EQ(ComputePhysicalSize(3000, 2, 1), 2u * 4762u + 200u) << "7620000 / 1600, rounded down";
}

// ---- the information read ------------------------------------------------------------------

TEST_F(TouchpadInfoTest, ReadsSplitsComputesAndPublishes) {
    BuildForcepadLaptop();
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    // 0x0105 = 0x1E14, 0x0106 = 3200, 0x0107 = 2048, 0x0108 = 0x0303 (820 cpi), 0x0365 = 0x8000.
    const TouchpadInfo expected{3200, 2048, 10100, 6530, 3, 3, 0x14, 0x1E, 1};
    EXPECT_EQ(PublishedTouchpadInfo(), expected);
    EXPECT_EQ(WorkingTouchpadInfo(), expected);
    EXPECT_TRUE(Logged(L"TouchPad_Physical_X = 10100, TouchPad_Physical_Y = 6530\r\n"));

    firmware->Set(0x0365, 0x7FFF);  // every bit but 15
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    EXPECT_EQ(PublishedTouchpadInfo().BiosEnableTP, 0u);
    EXPECT_TRUE(Logged(L"BiosEnableTP = 0\r\n"));
}

TEST_F(TouchpadInfoTest, FailedReadKeepsTheSnapshotButNotTheWorkingRecord) {
    BuildForcepadLaptop();
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    const TouchpadInfo first = PublishedTouchpadInfo();

    firmware->Set(0x0105, 0x0A0B);
    firmware->Set(0x0106, 1000);
    firmware->Set(0x0107, 900);
    firmware->Refuse(0x0108);
    EXPECT_EQ(ReadTouchpadInfo(), 0);
    EXPECT_TRUE(Logged(L"GetFeatureFunction Fail #4\r\n"));
    EXPECT_EQ(PublishedTouchpadInfo(), first) << "the snapshot changes only after a complete read";
    TouchpadInfo partial = first;
    partial.TouchPad_Steps_X = 0x0B;
    partial.TouchPad_Steps_Y = 0x0A;
    partial.TouchPad_Extent_X = 1000;
    partial.TouchPad_Extent_Y = 900;
    EXPECT_EQ(WorkingTouchpadInfo(), partial);
}

TEST_F(TouchpadInfoTest, FailedBiosReadLeavesTheWorkingBitSet) {
    BuildForcepadLaptop();
    firmware->Refuse(0x0365);
    EXPECT_EQ(ReadTouchpadInfo(), 0);
    EXPECT_TRUE(Logged(L"GetFeatureFunction Fail #5\r\n"));
    EXPECT_EQ(WorkingTouchpadInfo().BiosEnableTP, 1u);
    EXPECT_EQ(PublishedTouchpadInfo(), TouchpadInfo{});
}

TEST_F(TouchpadInfoTest, NoTouchpad) {
    SimLaptop keyboardOnly;
    keyboardOnly.windows = ToSim(WindowsByName(11));
    keyboardOnly.hid = {ForcepadCollection("keyboard")};
    Build(machine, keyboardOnly);
    EXPECT_EQ(ReadTouchpadInfo(), 0);
    EXPECT_TRUE(Logged(L"Cannot Find TAVO HID Device\r\n"));
    EXPECT_EQ(Status(), 0x02) << "no BIOS bit, no device; no user leaves bit 1 set";
}

// ---- the forcepad capability -------------------------------------------------------------

TEST_F(TouchpadInfoTest, AFirmwareProbeThatSaysNoStoresZeroAndSkipsTheLaterProbes) {
    BuildForcepadLaptop();
    // Only bit 0 of 0x0104 and bit 15 of 0x0365 count.
    struct Case {
        const char* what;
        win::WORD function;
        win::WORD value;
        bool biosProbed;
    } cases[] = {
        {"not a forcepad", 0x0104, 0x0000, false},
        {"every bit but the support bit", 0x0104, 0xFFFE, false},
        {"every bit but the BIOS bit", 0x0365, 0x7FFF, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine.registry.SetDword(kSettingsKey, L"ForcepadCapability", 1);
        firmware->Set(c.function, c.value);
        const std::size_t mark = Written().size();
        ReadForcepadCapability();
        firmware->Set(c.function, ForcepadFunctions().at(c.function));
        EXPECT_EQ(machine.registry.Dword(kSettingsKey, L"ForcepadCapability"), 0u);
        bool biosProbed = false, dmProbed = false;
        for (const auto& l : WrittenSince(mark)) {
            biosProbed |= l.starts_with(L"[BIOSEnableForcepad]");
            dmProbed |= l.starts_with(L"[DMEnableForcepad]");
        }
        EXPECT_EQ(biosProbed, c.biosProbed);
        EXPECT_FALSE(dmProbed);
    }
}

TEST_F(TouchpadInfoTest, ForcepadNodeProblemDecides) {
    auto built = BuildForcepadLaptop();
    ReadForcepadCapability();
    EXPECT_EQ(machine.registry.Dword(kSettingsKey, L"ForcepadCapability"), 1u);
    // The keyboard is listed first; its id is logged as text and does not match.
    EXPECT_TRUE(Logged(L"[DMEnableForcepad] HardwareId = HID\\VEN_KBDX&DEV_0100&Col01\r\n"));
    EXPECT_TRUE(Logged(L"[DMEnableForcepad] Device is Enabled in Device Manager\r\n"));

    // The pointer collection is the first forcepad node; the vendor collection stays up.
    machine.devices.SetProblem(built.hidNodes[1], win::CM_PROB_DISABLED);
    ReadForcepadCapability();
    EXPECT_EQ(machine.registry.Dword(kSettingsKey, L"ForcepadCapability"), 0u);
    EXPECT_TRUE(Logged(L"[DMEnableForcepad] problem = 0x00000016\r\n"));
    EXPECT_EQ(CountLogged(L"[DMEnableForcepad] Found TAVO Forcepad Device\r\n"), 2) << "one node per run";

    machine.devices.SetProblem(built.hidNodes[1], win::CM_PROB_FAILED_START);
    EXPECT_FALSE(DMEnableForcepad());
    EXPECT_TRUE(Logged(L"[DMEnableForcepad] Device has some problems\r\n"));
}

TEST_F(TouchpadInfoTest, FailedProbeReadGivesZeroWithoutExitLine) {
    BuildForcepadLaptop();
    firmware->Refuse(0x0104);
    ReadForcepadCapability();
    EXPECT_TRUE(Logged(L"GetFeatureFunction Fail #6\r\n"));
    EXPECT_FALSE(AnyLogged(L"[SupportForcepad] <== Exit"));
    EXPECT_EQ(machine.registry.Dword(kSettingsKey, L"ForcepadCapability"), 0u);
}

// ---- Device Manager state of the touchpad ----------------------------------------------------

TEST_F(TouchpadInfoTest, EmptyTargetFallsBackToTheVendorFragment) {
    BuildForcepadLaptop();
    wchar_t target[kHidIdChars] = {};
    EXPECT_EQ(GetTouchpadDeviceStatus(target), 2);
    EXPECT_EQ(std::wstring(target), L"HID\\VEN_TAVO");
    EXPECT_TRUE(Logged(L"GetTouchpadDeviceStatus::NumTAVODevice=2, Result=0\r\n"));
}

TEST_F(TouchpadInfoTest, OnlyADisabledOrUnreadableNodeCountsAsDisabled) {
    const win::DWORD up = sim::Device{}.status;
    const win::DWORD down = (up | win::DN_HAS_PROBLEM) & ~win::DN_STARTED;
    // A matching node in the row's state, then a healthy one; a disabled node ends the walk.
    struct Case {
        const char* what;
        win::DWORD status;
        win::DWORD problem;
        bool unreadable;
        int result;
        const wchar_t* summary;
    } cases[] = {
        {"state unreadable", up, 0, true, 4, L"NumTAVODevice=2, Result=4"},
        {"disabled", down, win::CM_PROB_DISABLED, false, 4, L"NumTAVODevice=1, Result=4"},
        {"another problem", down, win::CM_PROB_FAILED_START, false, 2, L"NumTAVODevice=2, Result=0"},
        {"a problem number without the problem flag", up, win::CM_PROB_DISABLED, false, 2,
         L"NumTAVODevice=2, Result=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Device first;
        first.setupClass = win::GUID_DEVCLASS_HIDCLASS;
        first.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5E&Col01"};
        first.status = c.status;
        first.problem = c.problem;
        sim::Device second;
        second.setupClass = win::GUID_DEVCLASS_HIDCLASS;
        second.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5E&Col02"};
        const win::DEVINST nodes[] = {machine.devices.Add(first), machine.devices.Add(second)};
        if (c.unreadable) machine.faults.Fail("CM_Get_DevNode_Status", win::CR_NO_SUCH_DEVNODE, 1);

        const std::size_t mark = Written().size();
        wchar_t target[kHidIdChars] = L"VEN_TAVO&DEV_0C5E";
        EXPECT_EQ(GetTouchpadDeviceStatus(target), c.result);
        const auto lines = WrittenSince(mark);
        const std::wstring summary = std::wstring(L"GetTouchpadDeviceStatus::") + c.summary + L"\r\n";
        EXPECT_NE(std::find(lines.begin(), lines.end(), summary), lines.end()) << "walked " << c.summary;
        machine.faults.Clear();
        for (win::DEVINST n : nodes) machine.devices.Unplug(n);
    }
}

TEST_F(TouchpadInfoTest, NoMatchNoListOrUnterminatedTargetGivesZero) {
    BuildForcepadLaptop();
    wchar_t other[kHidIdChars] = L"VEN_ELSE&DEV_0001";
    EXPECT_EQ(GetTouchpadDeviceStatus(other), 0);
    wchar_t unterminated[kHidIdChars];
    std::fill(std::begin(unterminated), std::end(unterminated), L'X');
    EXPECT_EQ(GetTouchpadDeviceStatus(unterminated), 0) << "read within its buffer";

    machine.faults.Fail("SetupDiGetClassDevsW", win::ERROR_INVALID_PARAMETER);
    wchar_t target[kHidIdChars] = {};
    EXPECT_EQ(GetTouchpadDeviceStatus(target), 0);
    EXPECT_TRUE(Logged(L"GetTouchpadDeviceStatus::Cannot Find Any HID Device\r\n"));
    EXPECT_FALSE(DMEnableForcepad());
    EXPECT_TRUE(Logged(L"[DMEnableForcepad] Cannot Find Any Mouse Device\r\n"));
}

TEST_F(TouchpadInfoTest, LongHardwareIdListsAreStillExamined) {
    // A collection whose id list does not fit 520 bytes: read again at its own size.
    sim::HidInterface sensor = ForcepadCollection("vendor", nullptr);
    sensor.path = HidPath(L"VEN_TAVO&DEV_0C5F&Col03#5&2a3b4c5d&0&0002");
    sensor.hardwareIds = {L"HID\\VEN_TAVO&DEV_0C5F&Col03", std::wstring(300, L'C')};
    SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
    laptop.hid = {ForcepadCollection("keyboard"), sensor, ForcepadCollection("vendor", firmware)};
    auto built = Build(machine, laptop);
    machine.devices.SetProblem(built.hidNodes[1], win::CM_PROB_DISABLED);

    wchar_t target[kHidIdChars] = L"VEN_TAVO&DEV_0C5F";
    EXPECT_EQ(GetTouchpadDeviceStatus(target), 4);
    EXPECT_TRUE(Logged(L"GetTouchpadDeviceStatus::TAVO HID Device(HID\\VEN_TAVO&DEV_0C5F&Col03) is Disabled\r\n"));
    EXPECT_FALSE(DMEnableForcepad()) << "the long-listed node is the first forcepad node, and it is disabled";
}

// ---- the status byte for the companion -------------------------------------------------------

TEST_F(TouchpadInfoTest, EverythingInOrderIs07AndTheBiosBitClears0) {
    BuildForcepadLaptop();
    AliceAtConsole(L"\"Enabled\"=dword:00000001");
    EXPECT_EQ(Status(), 0x06) << "before the information read the snapshot is zero";
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    EXPECT_EQ(Status(), 0x07);
    EXPECT_TRUE(Logged(L"GetTouchpadDeviceStatus::Target Device : VEN_TAVO&DEV_0C5E\r\n"));
    EXPECT_TRUE(Logged(L"ProcessGetTouchpadStatus::EnableResult=0x07\r\n"));
    firmware->Set(0x0365, 0x7FFF);
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    EXPECT_EQ(Status(), 0x06);
}

TEST_F(TouchpadInfoTest, UserSwitchOffClearsBit1AndUnknownLeavesItSet) {
    BuildForcepadLaptop();
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    AliceAtConsole(L"\"Enabled\"=dword:00000000");
    EXPECT_EQ(Status(), 0x05);
    AliceAtConsole(L"\"Enabled\"=-");  // the value is gone: -1
    EXPECT_EQ(Status(), 0x07);
    AliceAtConsole(L"\"Enabled\"=\"0\"");  // not a DWORD
    EXPECT_EQ(Status(), 0x07);
}

TEST_F(TouchpadInfoTest, DisabledTouchpadClearsBit2EvenWhenItCannotBeScanned) {
    auto built = BuildForcepadLaptop();
    AliceAtConsole(L"\"Enabled\"=dword:00000001");
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    machine.devices.SetProblem(built.hidNodes[1], win::CM_PROB_DISABLED);
    EXPECT_EQ(Status(), 0x03);
    // Disabling the device disables both collections; the scan then finds no touchpad.
    machine.devices.SetProblem(built.hidNodes[2], win::CM_PROB_DISABLED);
    EXPECT_EQ(Status(), 0x03);
    EXPECT_TRUE(Logged(L"GetTouchpadDeviceStatus::Target Device : HID\\VEN_TAVO\r\n"));
}

// ---- the user's profile ------------------------------------------------------------------------

TEST_F(TouchpadInfoTest, ProfileIsLoadedForTheReadAndUnloadedAfter) {
    AliceAtConsole(L"\"Enabled\"=dword:00000000");
    const std::wstring hive = machine.sessions.UserHivePath(L"alice");
    std::int32_t value = 7;
    EXPECT_TRUE(ReadPTPEnableSetting(&value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(machine.faults.Uses("UnloadUserProfile"), 1);
    EXPECT_FALSE(machine.registry.KeyExists(hive)) << "the hive is unloaded with the profile";

    machine.sessions.ImportUserHive(L"alice", L"[-HKEY_CURRENT_USER\\Software]\n");
    value = 7;
    EXPECT_FALSE(ReadPTPEnableSetting(&value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(Logged(L"RegOpenKeyEx Fail, Error=2\r\n")) << "the open's own status, not a stale last error";
    EXPECT_EQ(machine.faults.Uses("UnloadUserProfile"), 2);
    EXPECT_FALSE(machine.registry.KeyExists(hive));
}

TEST_F(TouchpadInfoTest, ProfileThatCannotBeLoadedIsNotUnloaded) {
    AliceAtConsole(L"\"Enabled\"=dword:00000000");
    machine.faults.Fail("LoadUserProfileW", win::ERROR_ACCESS_DENIED);
    std::int32_t value = 7;
    EXPECT_FALSE(ReadPTPEnableSetting(&value));
    EXPECT_TRUE(Logged(L"Cannot laod user profile Fail, Error=5\r\n"));
    EXPECT_EQ(machine.faults.Uses("UnloadUserProfile"), 0);
    EXPECT_EQ(value, 7);
}

TEST_F(TouchpadInfoTest, NoConsoleUserNoTokenOrNoNameLoadsNoProfile) {
    std::int32_t value = 7;
    EXPECT_FALSE(ReadPTPEnableSetting(&value)) << "nobody at the console";
    machine.sessions.AddSession(1, L"", win::WTSConnected);  // the logon screen: no token
    machine.sessions.SetConsoleSession(1);
    EXPECT_FALSE(ReadPTPEnableSetting(&value));

    AliceAtConsole(L"\"Enabled\"=dword:00000000");
    machine.faults.Fail("WTSQuerySessionInformationW", win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ReadPTPEnableSetting(&value)) << "a token but no name: no profile is loaded for nobody";
    EXPECT_EQ(machine.faults.Uses("WTSQueryUserToken"), 2);
    EXPECT_TRUE(Logged(L"ReadPTPEnableSetting::No User Name, Profile Not Loaded\r\n"));

    EXPECT_EQ(machine.faults.Uses("LoadUserProfileW"), 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(CountLogged(L"ReadPTPEnableSetting--\r\n"), 3);
}

}  // namespace
}  // namespace tavo::test
