// Driver defaults and companion detection on simulated machines: which driver instance is
// found, which defaults reach the process, when the companion counts as installed, and
// that every path releases its keys, tokens and device sets.
#include <string>
#include <vector>

#include "native/companion_fixture.h"

namespace tavo::test {
namespace {

const std::wstring kClassKey = std::wstring(L"HKLM\\") + kSoftwareComponentClassKeyPath;
const std::wstring kClassPath = kSoftwareComponentClassKeyPath;

class DriverKeySearchTest : public CompanionTest {};

TEST_F(DriverKeySearchTest, FirstInstanceWithTheExactDescriptionWinsAndIsLogged) {
    machine.registry.Import(DriverPackageReg(L"0000", 0, 1, 1, L"Intel(R) Audio Component"));
    machine.registry.Import(DriverPackageReg(L"0001"));
    machine.registry.Import(DriverPackageReg(L"0002", 4, 4, 0));  // a second copy: never reached

    ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(DriverKeyPath(), kClassPath + L"\\0001");

    const std::vector<std::wstring> expected = {
        L"==> Enter WorkaroundGetHKRRegistryPath\r\n",
        L"Number of subkeys: 3\r\n",
        L"(1) 0000\r\n",
        L"(2) 0001\r\n",
        L"(3) 0002\r\n",
        L"Number of values: 0\r\n",
        L"<HKR> NumSubKey = 3\r\n",
        L"(1) Path : " + kClassPath + L"\\0000\r\n",
        L"(1) DriverDesc : Intel(R) Audio Component\r\n",
        L"(2) Path : " + kClassPath + L"\\0001\r\n",
        L"(2) DriverDesc : TAVO Pad Suite Component\r\n",
        L"DriverDesc is TAVO Pad Suite Component\r\n",
        L"<== Exit WorkaroundGetHKRRegistryPath (1)\r\n",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(DriverKeySearchTest, NearMissesDoNotMatch) {
    machine.registry.Import(DriverPackageReg(L"0000", 2, 3, 1, L"TAVO Pad Suite Component "));
    machine.registry.Import(DriverPackageReg(L"0001", 2, 3, 1, L"tavo pad suite component"));
    machine.registry.Import(DriverPackageReg(L"0002", 2, 3, 1, L"TAVO Pad Suite"));
    // A description stored as a number reads as empty text.
    machine.registry.SetDword(kClassKey + L"\\0003", L"DriverDesc", 7);

    EXPECT_FALSE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(DriverKeyPath(), L"");
    EXPECT_TRUE(Has(L"(4) DriverDesc :\r\n"));  // the log trims trailing blanks
    EXPECT_TRUE(Has(L"<== Exit WorkaroundGetHKRRegistryPath (0)\r\n"));
    EXPECT_FALSE(Has(L"DriverDesc is TAVO Pad Suite Component\r\n"));
}

TEST_F(DriverKeySearchTest, EachTryIsOneSearchWithoutPausesAndALaterTrySeesANewInstance) {
    // Without the class key a try fails at once.
    EXPECT_FALSE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"==> Enter WorkaroundGetHKRRegistryPath\r\n",
                                                  L"<== Exit WorkaroundGetHKRRegistryPath (0)\r\n"}));
    machine.registry.Import(DriverPackageReg(L"0000", 2, 3, 1, L"Other"));
    EXPECT_FALSE(WorkaroundGetHKRRegistryPath());
    machine.registry.Import(DriverPackageReg(L"0001"));
    EXPECT_TRUE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(DriverKeyPath(), kClassPath + L"\\0001");
    // Pausing between tries is the caller's business.
    EXPECT_TRUE(machine.system.Sleeps().empty());
    EXPECT_EQ(Count(L"==> Enter WorkaroundGetHKRRegistryPath\r\n"), 3);
}

TEST_F(DriverKeySearchTest, InstancesThatCannotBeReadOrNamedArePassedOver) {
    // Names the registry allows but whose full path would not fit the 255-character path
    // buffer: they are skipped rather than cut short, and the search goes on.
    const std::size_t room = kDriverKeyPathChars - 1 - kClassPath.size() - 1;  // for the name
    const std::wstring longName = L"0000" + std::wstring(196, L'A');
    const std::wstring oneTooMany = L"0001" + std::wstring(room + 1 - 4, L'A');
    machine.registry.Import(DriverPackageReg(longName));
    machine.registry.Import(DriverPackageReg(oneTooMany));
    machine.registry.Import(DriverPackageReg(L"0007"));
    machine.faults.Fail("RegOpenKeyExW", win::ERROR_ACCESS_DENIED, 2);  // the class key, then 0007

    EXPECT_FALSE(WorkaroundGetHKRRegistryPath());
    EXPECT_FALSE(Has(L"(1) Path : " + kClassPath + L"\\" + longName + L"\r\n"));
    EXPECT_FALSE(Has(L"(2) Path : " + kClassPath + L"\\" + oneTooMany + L"\r\n"));
    EXPECT_TRUE(Has(L"(3) Path : " + kClassPath + L"\\0007\r\n"));
    EXPECT_FALSE(Has(L"(3) DriverDesc : TAVO Pad Suite Component\r\n"));

    machine.faults.Clear();
    EXPECT_TRUE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(DriverKeyPath(), kClassPath + L"\\0007");

    // A name that just fits is examined.
    const std::wstring justFits = L"0002" + std::wstring(room - 4, L'A');
    machine.registry.Import(DriverPackageReg(justFits));
    EXPECT_TRUE(WorkaroundGetHKRRegistryPath());
    EXPECT_EQ(DriverKeyPath(), kClassPath + L"\\" + justFits);
}

class DriverDefaultsTest : public CompanionTest {};

TEST_F(DriverDefaultsTest, ValuesOfTheDriverKeyBecomeTheDefaults) {
    machine.registry.Import(DriverPackageReg(L"0000", 3, 2, 0));
    ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
    Mark();
    EXPECT_TRUE(ReadHKRDefaultSettings(DriverKeyPath()));
    EXPECT_EQ(PalmDefaultOption.load(), 3);
    EXPECT_EQ(PalmRangeGroup.load(), 2);
    EXPECT_EQ(SupportDynamicModeCommand.load(), 0);
    EXPECT_EQ(palmDefaults.Load(), (PalmSettings{3, 0, 0, 0, 0}));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"Open HKR Registry Success\r\n",
                                                  L"Read HKR Registry : PalmDefaultOption = 3\r\n",
                                                  L"Read HKR Registry : PalmRangeGroup = 2\r\n",
                                                  L"Read HKR Registry : SupportDynamicModeCommand = 0\r\n"}));
}

TEST_F(DriverDefaultsTest, MissingOrMistypedValuesReadAsMinusOne) {
    machine.registry.Import(DriverPackageReg(L"0000", 1, -1, -1));
    machine.registry.SetString(kClassKey + L"\\0000\\DefaultSettings", kValuePalmRangeGroup, L"3");
    EXPECT_TRUE(ReadHKRDefaultSettings(kClassPath + L"\\0000"));
    EXPECT_EQ(PalmDefaultOption.load(), 1);
    EXPECT_EQ(PalmRangeGroup.load(), -1);
    EXPECT_EQ(SupportDynamicModeCommand.load(), -1);
    EXPECT_TRUE(Has(L"Read HKR Registry : SupportDynamicModeCommand = -1\r\n"));

    // A driver without PalmDefaultOption gives palm defaults whose level is -1.
    machine.registry.Import(DriverPackageReg(L"0001", -1, 1, 1));
    ReadHKRDefaultSettings(kClassPath + L"\\0001");
    EXPECT_EQ(palmDefaults.Load(), (PalmSettings{-1, 0, 0, 0, 0}));
}

TEST_F(DriverDefaultsTest, WithoutADriverKeyTheDefaultsKeepWhatTheyHeld) {
    machine.registry.Import(L"[HKEY_LOCAL_MACHINE\\DefaultSettings]\n\"PalmDefaultOption\"=dword:00000004\n");
    // The search failed: the path is empty and nothing is read, whatever HKLM holds.
    EXPECT_FALSE(ReadHKRDefaultSettings(DriverKeyPath()));
    EXPECT_EQ(PalmDefaultOption.load(), 0);
    EXPECT_EQ(PalmRangeGroup.load(), 1);
    EXPECT_EQ(SupportDynamicModeCommand.load(), 1);
    EXPECT_EQ(palmDefaults.Load(), (PalmSettings{0, 0, 0, 0, 0}));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"Open HKR Registry Fail\r\n",
                                                  L"Read HKR Registry : PalmDefaultOption = 0\r\n",
                                                  L"Read HKR Registry : PalmRangeGroup = 1\r\n",
                                                  L"Read HKR Registry : SupportDynamicModeCommand = 1\r\n"}));
    // A driver key that went away after a successful read leaves the values read before.
    machine.registry.Import(DriverPackageReg(L"0000", 3, 2, 0));
    ReadHKRDefaultSettings(kClassPath + L"\\0000");
    machine.registry.DeleteKey(kClassKey + L"\\0000");
    EXPECT_FALSE(ReadHKRDefaultSettings(kClassPath + L"\\0000"));
    EXPECT_EQ(PalmDefaultOption.load(), 3);
    EXPECT_EQ(SupportDynamicModeCommand.load(), 0);
}

class DetectUWPInstallTest : public CompanionTest {};

TEST_F(DetectUWPInstallTest, PackageFolderOfTheConsoleUserCounts) {
    machine.sessions.LogOn(L"alice");
    machine.files.AddFolder(CompanionPackageFolder(L"alice"));
    EXPECT_EQ(DetectUWPInstall(), 1);
    EXPECT_EQ(Lines(),
              (std::vector<std::wstring>{
                  L"DetectUWPInstall::Get UWPAppDataPath Success (" + CompanionPackageFolder(L"alice") + L")\r\n",
                  L"DetectUWPInstall::UWP AppData Exist\r\n"}));
}

TEST_F(DetectUWPInstallTest, PackageFolderOfAnotherUserDoesNot) {
    machine.sessions.AddUser(L"bob");
    machine.files.AddFolder(CompanionPackageFolder(L"bob"));
    machine.sessions.LogOn(L"alice");
    machine.files.AddFolder(L"C:\\Users\\alice\\AppData\\Local\\Packages");
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_TRUE(Has(L"DetectUWPInstall::UWP AppData doesn't Exist Error=2\r\n"));

    // Without even a Packages folder the error is the missing path.
    machine.sessions.LogOn(L"carol", 2);
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_TRUE(Has(L"DetectUWPInstall::UWP AppData doesn't Exist Error=3\r\n"));
}

TEST_F(DetectUWPInstallTest, NoUserFolderMeansNotInstalledAndTheTokenIsAlwaysReleased) {
    machine.files.AddFolder(CompanionPackageFolder(L"alice"));
    // Nobody at the console.
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_TRUE(Has(L"DetectUWPInstall::Get UserAppDataPath Fail, Error=1008\r\n"));
    // The logon screen: a console session without a user has no token.
    machine.sessions.AddSession(1, L"");
    machine.sessions.SetConsoleSession(1);
    Mark();
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"DetectUWPInstall::Get UserAppDataPath Fail, Error=1008\r\n"}));
    // The folder cannot be resolved with the token: the token is closed all the same.
    machine.sessions.LogOn(L"alice", 1);
    machine.faults.Fail("SHGetFolderPathW", win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_TRUE(Has(L"DetectUWPInstall::Get UserAppDataPath Fail, Error=5\r\n"));
    EXPECT_EQ(machine.faults.Uses("CloseHandle"), 1);
    machine.faults.Clear();
    EXPECT_EQ(DetectUWPInstall(), 1);
    EXPECT_EQ(machine.faults.Uses("CloseHandle"), 2);
}

TEST_F(DetectUWPInstallTest, PackagePathNeverExceedsItsBuffer) {
    // The package path adds 59 characters to the folder; 255 of them fit the buffer.
    const std::wstring fits = L"C:\\" + std::wstring(193, L'f');
    const std::wstring tooLong = L"C:\\" + std::wstring(194, L'g');
    machine.sessions.AddUser(L"alice", fits);
    machine.sessions.LogOn(L"alice");
    std::wstring package;
    ASSERT_TRUE(CompanionPackagePath(fits, &package));
    ASSERT_EQ(package.size(), kPackagePathChars - 1);
    machine.files.AddFolder(package);
    EXPECT_EQ(DetectUWPInstall(), 1);

    machine.sessions.AddUser(L"alice", tooLong);
    machine.files.AddFolder(tooLong + L"\\Packages\\" + kCompanionPackageFamilyName);
    Mark();
    EXPECT_EQ(DetectUWPInstall(), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"DetectUWPInstall::UWP AppData doesn't Exist Error=206\r\n"}));
}

class DetectSoftwareComponentTest : public CompanionTest {};

TEST_F(DetectSoftwareComponentTest, TheMakersComponentCounts) {
    machine.devices.Add(MouseClassDevice(L"HID-compliant mouse", L"HID\\VAR_IRORI_VOV21"));  // wrong class
    machine.devices.Add(SoftwareComponent(L"SWC\\VEN_OTHR&AUDIO", L"Other Corp"));
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
    machine.devices.Add(SoftwareComponent());
    EXPECT_EQ(DetectSoftwareComponentInstall(), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"DetectSoftwareComponentInstall::Result = 0\r\n",
                                                  L"DetectSoftwareComponentInstall::Result = 1\r\n"}));
}

TEST_F(DetectSoftwareComponentTest, TheFirstMatchingHardwareIdDecidesAlone) {
    machine.devices.Add(SoftwareComponent(L"SWC\\VAR_IRORI_VOV21&OEM", L"Contoso"));
    machine.devices.Add(SoftwareComponent());
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
}

TEST_F(DetectSoftwareComponentTest, FragmentsAreCaseSensitive) {
    const win::DEVINST lower = machine.devices.Add(SoftwareComponent(L"SWC\\var_irori_vov21", L"TAVO Corporation"));
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
    machine.devices.Unplug(lower);
    machine.devices.Add(SoftwareComponent(L"SWC\\VAR_IRORI_VOV21", L"Tavo Corporation"));
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
}

TEST_F(DetectSoftwareComponentTest, DevicesThatCannotBeAskedArePassedOver) {
    // No hardware id at all, then one longer than the 520-byte property buffer.
    sim::Device bare = SoftwareComponent();
    bare.hardwareIds.clear();
    machine.devices.Add(bare);
    machine.devices.Add(SoftwareComponent(L"SWC\\VAR_IRORI_VOV21&" + std::wstring(300, L'X'), L"Contoso"));
    // Its node vanished from the configuration manager after the set was taken.
    machine.devices.Add(SoftwareComponent(L"SWC\\VAR_IRORI_VOV21&GONE", L"Contoso"));
    machine.devices.Add(SoftwareComponent());
    machine.faults.Fail("CM_Get_DevNode_Status", win::CR_NO_SUCH_DEVNODE, 1);

    EXPECT_EQ(DetectSoftwareComponentInstall(), 1);
    EXPECT_EQ(Count(L"DetectSoftwareComponentInstall::Cannot Get SWComponent Device HWID\r\n"), 2);
}

TEST_F(DetectSoftwareComponentTest, AComponentWithoutManufacturerOrAbsentIsNotInstalled) {
    const win::DEVINST noMaker = machine.devices.Add(SoftwareComponent(L"SWC\\VAR_IRORI_VOV21", L""));
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
    machine.devices.Unplug(noMaker);
    const win::DEVINST node = machine.devices.Add(SoftwareComponent());
    EXPECT_EQ(DetectSoftwareComponentInstall(), 1);
    machine.devices.Unplug(node);
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
}

TEST_F(DetectSoftwareComponentTest, NoDeviceSetMeansNotInstalled) {
    machine.devices.Add(SoftwareComponent());
    machine.faults.Fail("SetupDiGetClassDevsW", win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(DetectSoftwareComponentInstall(), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"DetectSoftwareComponentInstall::Cannot Find Any SWComponent Device\r\n",
                           L"DetectSoftwareComponentInstall::Result = 0\r\n"}));
}

}  // namespace
}  // namespace tavo::test
