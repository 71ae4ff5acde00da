// The Windows-version rule and the pointing-stick probe, alone and as every scan runs them.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/hid_device.h"
#include "device_fixture.h"
#include "common/registry_paths.h"

namespace tavo::test {
namespace {

const std::wstring kSettings = std::wstring(L"HKLM\\") + kSettingsKeyPath;

class ProbeTest : public DeviceTest {
protected:
    void SetBuild(const wchar_t* build) { machine.registry.SetString(sim::kCurrentVersionKey, L"CurrentBuild", build); }
    void Scan() {
        TavoTouchpad touchpad;
        ScanTavoHidDevice(&touchpad);
    }
    std::optional<win::DWORD> PstStatus() const { return machine.registry.Dword(kSettings, L"BIOSEnablePSTStatus"); }
};

TEST_F(ProbeTest, Windows11IsDecidedByBuild22000AndNeverForgotten) {
    Build(machine, LoadSimLaptop("touchpad", firmware));
    SetBuild(L"21999");
    Scan();
    EXPECT_TRUE(Logged(L"WinOSInfo.build = 21999\r\n"));
    EXPECT_TRUE(Logged(L"isWin11OSVersion = FALSE\r\n"));
    EXPECT_EQ(isWin11OSVersion.load(), 0);

    SetBuild(L"22000");
    Scan();
    EXPECT_TRUE(Logged(L"WinOSInfo->build = 22000\r\n"));
    EXPECT_TRUE(Logged(L"isWin11OSVersion = TRUE\r\n"));
    EXPECT_EQ(isWin11OSVersion.load(), 1);

    // A later scan that sees an older build says so but keeps the flag.
    SetBuild(L"21999");
    Scan();
    EXPECT_EQ(CountLogged(L"isWin11OSVersion = FALSE\r\n"), 2);
    EXPECT_EQ(isWin11OSVersion.load(), 1);
    EXPECT_EQ(CurrentWinOSInfo().build, 21999u);
}

TEST_F(ProbeTest, VersionValuesAreReadAsWindowsStoresThem) {
    sim::SetWindowsVersion(machine.registry, ToSim(WindowsByName(11)));
    SetBuild(L"22000.2538 ");  // only the leading digits count
    machine.registry.SetString(sim::kCurrentVersionKey, L"UBR", L"2538");  // wrong type
    // The size of a DWORD, but not one.
    machine.registry.SetRaw(sim::kCurrentVersionKey, L"CurrentMinorVersionNumber", win::REG_BINARY, {7, 0, 0, 0});
    WinOSInfoRecord info{};
    ReadWinOSInfo(&info);
    EXPECT_EQ(info.build, 22000u);
    EXPECT_EQ(info.major, 10);
    EXPECT_EQ(info.minor, -1);
    EXPECT_EQ(info.ubr, -1);
    EXPECT_EQ(std::wstring(info.productName), L"Windows 10 Pro");
    EXPECT_EQ(std::wstring(info.releaseId), L"2009");
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ProbeTest, UnreadableVersionValuesKeepWhatWasThere) {
    WinOSInfoRecord info{};
    info.build = 19045;
    ReadWinOSInfo(&info);
    EXPECT_TRUE(Logged(L"RegOpenKeyEx fail\r\n"));
    EXPECT_EQ(info.build, 19045u);

    // A product name longer than the 256-byte field is refused by the registry, not cut
    // into the field; a missing build leaves the old one.
    machine.registry.SetString(sim::kCurrentVersionKey, L"ProductName", std::wstring(200, L'W'));
    machine.registry.SetString(sim::kCurrentVersionKey, L"ReleaseId", L"2009");
    std::fill(std::begin(info.productName), std::end(info.productName), L'#');
    ReadWinOSInfo(&info);
    EXPECT_TRUE(Logged(L"Get Reg::CurrentBuild fail...\r\n"));
    EXPECT_TRUE(Logged(L"Get ProductName fail...\r\n"));
    EXPECT_FALSE(Logged(L"Get ReleaseId fail...\r\n"));
    EXPECT_EQ(info.build, 19045u);
    EXPECT_EQ(info.major, -1);
    EXPECT_EQ(info.productName[kWinOSTextChars - 1], L'#');
    EXPECT_EQ(std::wstring(info.releaseId), L"2009");
}

TEST_F(ProbeTest, PointingStickThirdInTheMouseListWritesZeroZeroOne) {
    Build(machine, LoadSimLaptop("forcepad", firmware));
    // The third write fails: what stays is the 0 written for the devices before the stick.
    machine.faults.Fail("RegSetValueExW", win::ERROR_ACCESS_DENIED, 3);
    EXPECT_TRUE(GetPSTDeivce()) << "a failed write does not change the probe's result";
    EXPECT_EQ(PstStatus(), 0u);
    EXPECT_EQ(machine.faults.Uses("RegSetValueExW"), 3);

    machine.faults.Clear();
    const std::size_t mark = Written().size();
    EXPECT_TRUE(GetPSTDeivce());
    EXPECT_EQ(PstStatus(), 1u);
    EXPECT_EQ(machine.faults.Uses("RegSetValueExW"), 6);
    const std::vector<std::wstring> expected = {
        L"[GetPSTDeivce] Enter ==> GetPSTDeivce()\r\n",
        L"[GetPSTDeivce] HardwareName = HID-compliant mouse\r\n",
        L"[GetPSTDeivce] Cannot Find TAVO PST Device #2\r\n",
        L"[GetPSTDeivce] HardwareName = USB Optical Mouse\r\n",
        L"[GetPSTDeivce] Cannot Find TAVO PST Device #2\r\n",
        L"[GetPSTDeivce] HardwareName = TAVO VadavAredu Device\r\n",
        L"[GetPSTDeivce] Find TAVO PST Device\r\n",
        L"[GetPSTDeivce] Exit <== GetPSTDeivce()\r\n"};
    EXPECT_EQ(WrittenSince(mark), expected);
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ProbeTest, PointingStickWithAProblemEndsTheWalk) {
    const win::DWORD up = sim::Device{}.status;
    // The problem flag decides; a problem number without it is no problem.
    struct Case {
        const char* what;
        win::DWORD status;
        win::DWORD problem;
        bool found;
    } cases[] = {
        {"failed start", (up | win::DN_HAS_PROBLEM) & ~win::DN_STARTED, win::CM_PROB_FAILED_START, false},
        {"a problem number without the problem flag", up, win::CM_PROB_DISABLED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimLaptop laptop = LoadSimLaptop("forcepad", firmware);
        laptop.mice[2].status = c.status;
        laptop.mice[2].problem = c.problem;
        laptop.mice.push_back(PointingStick());  // a healthy one later must not be examined
        const BuiltLaptop built = Build(machine, laptop);
        const std::size_t mark = Written().size();
        const int writes = machine.faults.Uses("RegSetValueExW");

        EXPECT_EQ(GetPSTDeivce(), c.found);
        EXPECT_EQ(PstStatus(), c.found ? 1u : 0u);
        EXPECT_EQ(machine.faults.Uses("RegSetValueExW") - writes, 3) << "one write per mouse up to the stick";
        const auto lines = WrittenSince(mark);
        auto count = [&](const wchar_t* text) { return std::count(lines.begin(), lines.end(), text); };
        EXPECT_EQ(count(L"[GetPSTDeivce] HardwareName = TAVO VadavAredu Device\r\n"), 1);
        EXPECT_EQ(count(L"[GetPSTDeivce] Cannot Find TAVO PST Device #1\r\n"), c.found ? 0 : 1);
        EXPECT_EQ(lines.back(), L"[GetPSTDeivce] Exit <== GetPSTDeivce()\r\n");
        EXPECT_EQ(OpenDeviceHandles(), 0);
        for (win::DEVINST n : built.mouseNodes) machine.devices.Unplug(n);
    }

    // A node status that cannot be read counts as no problem.
    const BuiltLaptop built = Build(machine, LoadSimLaptop("forcepad", firmware));
    machine.devices.SetProblem(built.mouseNodes[2], win::CM_PROB_FAILED_START);
    machine.faults.Fail("CM_Get_DevNode_Status", win::CR_NO_SUCH_DEVNODE);
    EXPECT_TRUE(GetPSTDeivce());
    EXPECT_EQ(PstStatus(), 1u);
}

TEST_F(ProbeTest, MouseClassThatCannotBeListedOrIsEmpty) {
    machine.registry.SetDword(kSettings, L"BIOSEnablePSTStatus", 1);
    EXPECT_FALSE(GetPSTDeivce());
    EXPECT_EQ(PstStatus(), 1u) << "an empty mouse class writes nothing";

    machine.faults.Fail("SetupDiGetClassDevsW", win::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetPSTDeivce());
    EXPECT_TRUE(Logged(L"[GetPSTDeivce] Cannot Find Any Mouse Device\r\n"));
    EXPECT_EQ(PstStatus(), 0u);
    EXPECT_EQ(CountLogged(L"[GetPSTDeivce] Exit <== GetPSTDeivce()\r\n"), 2);
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ProbeTest, DescriptionsThatDoNotFitOrAreMissingAreSkipped) {
    // A description longer than the 520-byte property buffer, though it names the stick.
    machine.devices.Add(MouseClassDevice(L"TAVO VadavAredu Device " + std::wstring(300, L'x'), L"ACPI\\X"));
    machine.devices.Add(MouseClassDevice(L"", L"ACPI\\Y"));
    machine.devices.Add(PointingStick());
    EXPECT_TRUE(GetPSTDeivce());
    EXPECT_EQ(CountLogged(L"[GetPSTDeivce] Cannot Get PST Device HWID\r\n"), 2);
    EXPECT_EQ(machine.faults.Uses("RegSetValueExW"), 1) << "unreadable descriptions write nothing";
}

TEST_F(ProbeTest, SettingsKeyThatCannotBeWritten) {
    machine.devices.Add(PointingStick());
    machine.registry.DenyWrite(kSettings);
    EXPECT_TRUE(GetPSTDeivce());
    EXPECT_TRUE(Logged(L"[UpdatePSTDeviceStatusToRgistry] RegCreateKeyEx Fail, GetLastError = 0x00000005\r\n"));
    EXPECT_FALSE(PstStatus().has_value());
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

TEST_F(ProbeTest, AValueThatCannotBeSetIsNotReportedAsWritten) {
    machine.faults.Fail("RegSetValueExW", win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(UpdatePSTDeviceStatusToRgistry(1));
    machine.faults.Clear();
    EXPECT_TRUE(UpdatePSTDeviceStatusToRgistry(1));
    EXPECT_EQ(PstStatus(), 1u);
    EXPECT_EQ(OpenDeviceHandles(), 0);
}

}  // namespace
}  // namespace tavo::test
