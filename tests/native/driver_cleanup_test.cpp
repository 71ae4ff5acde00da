// Removal of outdated copies of the component package, on the simulated INF folder.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/driver_cleanup.h"
#include "sim_fixture.h"

namespace tavo::test {
namespace {

const std::wstring kSettingsKey = L"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Brindlex_PTP";

// A component INF as a driver package ships it; catalog and version vary per case.
std::wstring ComponentInf(const std::wstring& catalog, const std::wstring& version) {
    return L"; KVR software component\r\n[Version]\r\nSignature   = \"$WINDOWS NT$\"\r\nClass = SoftwareComponent\r\n"
           L"CatalogFile = " + catalog + L"\r\nDriverVer   = 05/04/2024," + version + L"\r\n\r\n[Manufacturer]\r\n";
}

class DriverCleanupTest : public SimTest {
protected:
    DriverCleanupTest() { RecordTrace(); }
    void SetVersion(const std::wstring& v) { machine.registry.SetString(kSettingsKey, L"Version", v); }
    void AddInf(const std::wstring& name, const std::wstring& text = {}) { machine.setupInf.AddFile(name, text); }
    bool InInfFolder(const std::wstring& name) const { return machine.setupInf.Exists(name); }
    std::mutex lock;
};

// ---- the version read ----------------------------------------------------------------------

struct VersionReadCase {
    const char* name;
    int readsUntilVersion;  // 0: never appears
    bool keyExists;
    int expectedReads;
    int openFailures;  // reads that log "Read Reg Version Fail"
};

class VersionReadTest : public DriverCleanupTest, public ::testing::WithParamInterface<VersionReadCase> {};

TEST_P(VersionReadTest, ReadsOncePerSecondUntilAVersionAppears) {
    const auto& c = GetParam();
    AddInf(L"oem3.inf", ComponentInf(L"KVR_COMPONENT.CAT", L"1.0.0.1"));
    AddInf(L"oem3.pnf");
    if (c.keyExists) machine.registry.SetString(kSettingsKey, L"Other", L"x");
    if (c.readsUntilVersion > 0) SetVersion(L"1.0.0.2");
    if (c.readsUntilVersion == 3) {
        // Not there yet: the key cannot be opened at the first read, the value is missing at
        // the second.
        machine.faults.Fail("RegOpenKeyExW", win::ERROR_FILE_NOT_FOUND, 1);
        machine.faults.Fail("RegQueryValueExW", win::ERROR_FILE_NOT_FOUND, 1);
    }
    ProcessUninstallOldDriverThread(lock);

    EXPECT_EQ(Count(L"==> Enter GetDriverVersion\r\n"), c.expectedReads);
    EXPECT_EQ(machine.system.Sleeps(), std::vector<win::DWORD>(static_cast<std::size_t>(c.expectedReads), 1000));
    EXPECT_TRUE(UninstallOldDriverDone());
    EXPECT_EQ(InInfFolder(L"oem3.inf"), c.readsUntilVersion == 0) << "removed only with a version";
    EXPECT_EQ(Has(L"DeleteOldDriver:: Cannot Get KVR_Component Version =\r\n"), c.readsUntilVersion == 0);
    EXPECT_EQ(Has(L"DeleteOldDriver:: Now KVR_Component Version = 1.0.0.2\r\n"), c.readsUntilVersion > 0);
    EXPECT_EQ(Count(L"Read Reg Version Fail\r\n"), c.openFailures);
    EXPECT_EQ(machine.handles.OpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, VersionReadTest,
                         ::testing::Values(VersionReadCase{"KeyMissing", 0, false, 11, 11},
                                           VersionReadCase{"ValueMissing", 0, true, 11, 0},
                                           VersionReadCase{"AppearsOnTheThirdRead", 3, true, 3, 1},
                                           VersionReadCase{"ThereAtOnce", 1, true, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- recognising a component INF ------------------------------------------------------------

struct RecognitionCase {
    const char* name;
    std::wstring text;
    bool recognised;
    std::wstring version;
};

class RecognitionTest : public DriverCleanupTest, public ::testing::WithParamInterface<RecognitionCase> {};

TEST_P(RecognitionTest, ReadsCatalogAndVersionAsSetupApiDoes) {
    const auto& c = GetParam();
    AddInf(L"oem5.inf", c.text);
    std::wstring version = L"untouched";
    EXPECT_EQ(ReadComponentInfVersion(L"oem5.inf", &version), c.recognised);
    EXPECT_EQ(version, c.recognised ? c.version : L"untouched");
    EXPECT_EQ(Has(L"oem5.inf : InfDataString = " + c.version + L"\r\n"), c.recognised);
    EXPECT_EQ(machine.handles.OpenCount(), 0) << "the INF is closed on every path";
}

const std::wstring kSig = L"[Version]\nSignature=\"$Windows NT$\"\n";
const std::wstring kLong(5000, L'9');

INSTANTIATE_TEST_SUITE_P(
    Lines, RecognitionTest,
    ::testing::Values(
        RecognitionCase{"AsShipped", ComponentInf(L"KVR_COMPONENT.CAT", L"1.2.3.4"), true, L"1.2.3.4"},
        RecognitionCase{"LowerCaseCatalog", ComponentInf(L"kvr_component.cat", L"1.2.3.4"), true, L"1.2.3.4"},
        RecognitionCase{"VersionUpperCased", ComponentInf(L"KVR_COMPONENT.CAT", L"1.2.3.4a"), true, L"1.2.3.4A"},
        RecognitionCase{"OtherCatalog", ComponentInf(L"KVR_OTHER.CAT", L"1.2.3.4"), false, L""},
        RecognitionCase{"CatalogWithSuffix", ComponentInf(L"KVR_COMPONENT.CAT2", L"1.2.3.4"), false, L""},
        RecognitionCase{"NoCatalogLine", kSig + L"DriverVer=01/01/2024,1.0\n", false, L""},
        RecognitionCase{"NoDriverVerLine", kSig + L"CatalogFile=KVR_COMPONENT.CAT\n", false, L""},
        RecognitionCase{"DriverVerWithoutVersion", kSig + L"CatalogFile=KVR_COMPONENT.CAT\nDriverVer=01/01/2024\n",
                        false, L""},
        RecognitionCase{"LinesInAnotherSection",
                        kSig + L"[Strings]\nCatalogFile=KVR_COMPONENT.CAT\nDriverVer=01/01/2024,1.0\n", false, L""},
        RecognitionCase{"QuotedSpacedCommentedLowerCaseNames",
                        L"[version] ; header\n  signature = $Windows NT$\n  catalogfile =  \"KVR_Component.cat\" ; cat\n"
                        L"\tdriverver\t=\t01/01/2024 ,  \" 2.0.1.7\"  ; quoted keeps its blanks\n",
                        true, L" 2.0.1.7"},
        RecognitionCase{"QuotedCommaAndSemicolon",
                        kSig + L"CatalogFile=KVR_COMPONENT.CAT\nDriverVer=\"01/01/2024,x\";1.0\n", false, L""},
        RecognitionCase{"CommentedOutCatalog", kSig + L";CatalogFile=KVR_COMPONENT.CAT\nDriverVer=01/01/2024,1.0\n",
                        false, L""},
        RecognitionCase{"VersionTooLongForItsBuffer",
                        kSig + L"CatalogFile=KVR_COMPONENT.CAT\nDriverVer=01/01/2024," + kLong + L"\n", false, L""},
        RecognitionCase{"NotAWindows4Inf", L"[Version]\nCatalogFile=KVR_COMPONENT.CAT\nDriverVer=01/01/2024,1.0\n",
                        false, L""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverCleanupTest, AnInfThatCannotBeOpenedIsLoggedWithItsError) {
    std::wstring version;
    EXPECT_FALSE(ReadComponentInfVersion(L"oem9.inf", &version));
    EXPECT_TRUE(Has(L"SetupOpenInfFile : GetLastError = 2 (2)\r\n"));
}

// ---- removal -------------------------------------------------------------------------------

struct RemovalCase {
    const char* name;
    std::wstring registryVersion;
    std::vector<std::pair<std::wstring, std::wstring>> infs;  // name, text
    std::vector<std::wstring> remaining;                       // the INF folder afterwards
    const char* failingCall = nullptr;
};

class RemovalTest : public DriverCleanupTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalTest, RemovesEveryCopyOfAnotherVersionWithItsPnf) {
    const auto& c = GetParam();
    for (const auto& [name, text] : c.infs) AddInf(name, text);
    if (c.failingCall) machine.faults.Fail(c.failingCall, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteOldDriver(c.registryVersion), 1);
    EXPECT_EQ(machine.setupInf.InfFolder(), c.remaining);
    EXPECT_TRUE(Has(L"<== Exit DeleteOldDriver (1)\r\n"));
    EXPECT_EQ(machine.handles.OpenCount(), 0);
}

std::wstring Cat(const std::wstring& v) { return ComponentInf(L"KVR_COMPONENT.CAT", v); }

INSTANTIATE_TEST_SUITE_P(
    Versions, RemovalTest,
    ::testing::Values(
        RemovalCase{"OlderAndNewerGoEqualStays",
                    L"2.0.0.5",
                    {{L"oem1.inf", Cat(L"2.0.0.4")}, {L"oem1.pnf", L""}, {L"oem2.inf", Cat(L"2.0.0.5")},
                     {L"oem2.pnf", L""}, {L"oem3.inf", Cat(L"2.0.0.6")}, {L"oem3.pnf", L""}},
                    {L"oem2.inf", L"oem2.pnf"}},
        RemovalCase{"EqualButForCaseStays",
                    L"2.0.0.5b",
                    {{L"oem2.inf", Cat(L"2.0.0.5B")}, {L"oem4.inf", Cat(L"2.0.0.5b")}},
                    {L"oem2.inf", L"oem4.inf"}},
        RemovalCase{"TrailingZeroDiffers", L"2.0.0.5", {{L"oem7.inf", Cat(L"2.0.0.5.0")}}, {}},
        // Blanks around either version are no part of it; inside one they are.
        RemovalCase{"BlanksAroundEitherVersionStay",
                    L" 2.0.0.5\t ",
                    {{L"oem2.inf", Cat(L"2.0.0.5")}, {L"oem4.inf", Cat(L"\"2.0.0.5 \"")}, {L"oem5.inf", Cat(L"2.0. 0.5")}},
                    {L"oem2.inf", L"oem4.inf"}},
        RemovalCase{"OnlyOemInfsAreExamined",
                    L"2.0.0.5",
                    {{L"KVR_Component.inf", Cat(L"1.0")}, {L"oem8.inx", Cat(L"1.0")}, {L"xoem9.inf", Cat(L"1.0")},
                     {L"oem10.inf", Cat(L"1.0")}},
                    {L"KVR_Component.inf", L"oem8.inx", L"xoem9.inf"}},
        RemovalCase{"OtherPackagesStay",
                    L"2.0.0.5",
                    {{L"oem11.inf", ComponentInf(L"mouse.cat", L"1.0")}, {L"oem11.pnf", L""}},
                    {L"oem11.inf", L"oem11.pnf"}},
        RemovalCase{"PnfOfTheSameNumberOnly",
                    L"2.0.0.5",
                    {{L"oem12.inf", Cat(L"1.0")}, {L"oem12.pnf", L""}, {L"oem1.pnf", L""}, {L"oem120.pnf", L""}},
                    {L"oem1.pnf", L"oem120.pnf"}},
        RemovalCase{"InfInsideTheStemKeepsItsStem",
                    L"2.0.0.5",
                    {{L"oemINF7.inf", Cat(L"1.0")}, {L"oemINF7.pnf", L""}, {L"OEM.PNF", L""}},
                    {L"OEM.PNF"}},
        RemovalCase{"AFailedUninstallStillDeletesThePnf",
                    L"2.0.0.5",
                    {{L"oem12.inf", Cat(L"1.0")}, {L"oem12.pnf", L""}},
                    {L"oem12.inf"},
                    "SetupUninstallOEMInfW"},
        RemovalCase{"AnUnreadableInfIsSkippedTheRestGoOn",
                    L"2.0.0.5",
                    {{L"oem1.inf", L"CatalogFile=KVR_COMPONENT.CAT\n"}, {L"oem2.inf", Cat(L"1.0")}},
                    {L"oem1.inf"}},
        RemovalCase{"NoWindowsDirectoryNothingRemoved",
                    L"2.0.0.5",
                    {{L"oem2.inf", Cat(L"1.0")}},
                    {L"oem2.inf"},
                    "GetWindowsDirectoryW"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverCleanupTest, WhereWineLeavesThePnfItIsDeletedAfterTheUninstall) {
    machine.setupInf.SetUninstallLeavesPnf(true);
    AddInf(L"oem12.inf", Cat(L"1.0"));
    AddInf(L"oem12.pnf");
    DeleteOldDriver(L"2.0");
    EXPECT_TRUE(machine.setupInf.InfFolder().empty());
    EXPECT_TRUE(Has(L"Uninstall OEM Inf = C:\\Windows\\INF\\oem12.inf\r\n"));
    EXPECT_TRUE(Has(L"SetupUninstallOEMInf Result = 1\r\n"));
    EXPECT_TRUE(Has(L"DeletePNFResult = 1\r\n"));
}

TEST_F(DriverCleanupTest, AWindowsDirectoryTooLongForItsBufferIsNotListed) {
    machine.setupInf.SetWindowsDirectory(L"C:\\" + std::wstring(520, L'w'));
    AddInf(L"oem2.inf", Cat(L"1.0"));
    EXPECT_EQ(DeleteOldDriver(L"2.0"), 1);
    EXPECT_TRUE(Has(L"Cannot get inf path\r\n"));
    EXPECT_EQ(machine.setupInf.InfFolder().size(), 1u);
}

TEST_F(DriverCleanupTest, AnEmptyVersionComparesWithNothing) {
    AddInf(L"oem2.inf", Cat(L"1.0"));
    for (const wchar_t* version : {L"", L" \t "}) {
        Mark();
        EXPECT_EQ(DeleteOldDriver(version), 0);
        EXPECT_TRUE(Has(L"Cannot compare version with registry\r\n"));
        EXPECT_TRUE(Has(L"<== Exit DeleteOldDriver\r\n"));
        EXPECT_TRUE(InInfFolder(L"oem2.inf"));
    }
}

// ---- once per process ------------------------------------------------------------------------

TEST_F(DriverCleanupTest, ASecondRunOnlyLogsItsTwoLines) {
    ProcessUninstallOldDriverThread(lock);  // no version: gives up, yet counts as done
    SetVersion(L"2.0");
    AddInf(L"oem2.inf", Cat(L"1.0"));
    Mark();
    ProcessUninstallOldDriverThread(lock);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"KVRService::ProcessUninstallOldDriverThread++\r\n",
                                                  L"KVRService::ProcessUninstallOldDriverThread--\r\n"}));
    EXPECT_TRUE(InInfFolder(L"oem2.inf"));
}

TEST_F(DriverCleanupTest, TwoRunsAtOnceRemoveOnce) {
    SetVersion(L"2.0");
    AddInf(L"oem2.inf", Cat(L"1.0"));
    std::thread a([&] { ProcessUninstallOldDriverThread(lock); });
    std::thread b([&] { ProcessUninstallOldDriverThread(lock); });
    a.join();
    b.join();
    EXPECT_EQ(CountLogged(L"==> Enter DeleteOldDriver\r\n"), 1);
    EXPECT_EQ(CountLogged(L"KVRService::ProcessUninstallOldDriverThread--\r\n"), 2);
    EXPECT_FALSE(InInfFolder(L"oem2.inf"));
}

}  // namespace
}  // namespace tavo::test
