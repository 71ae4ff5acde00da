// The palm-check decision on simulated laptops: what reaches the values in force and the
// user's store in UI mode and in non-UI mode, for each flag pair its callers pass.
#include <string>
#include <vector>

#include "native/companion_fixture.h"

namespace tavo::test {
namespace {

const std::wstring kAlice = kSettingsKey + L"\\alice";

class PalmControlTest : public CompanionTest {
protected:
    // A laptop whose driver has default level 2, alice at the console with the companion.
    void CompanionLaptop(std::int32_t dynamic = 1) {
        StartWithDriverDefaults(2, dynamic);
        machine.sessions.LogOn(L"alice");
        InstallCompanion(machine, L"alice");
    }
    void AllowCustomLevel() { machine.registry.SetDword(kSettingsKey, kValueFunctionCustomPalmRejection, 1); }
};

// ---- UI mode: the user's valid choice is put in force, anything else the palm defaults ----

TEST_F(PalmControlTest, UIModeChecksTheStoredLevel) {
    struct Case {
        std::int32_t stored;
        bool custom;
        bool accepted;
    } cases[] = {{0, false, true}, {3, false, true},  {4, true, true},   {4, false, false},
                 {5, true, false}, {-1, true, false}, {-7, true, false}, {6, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored << " custom " << c.custom);
        CompanionLaptop();
        machine.registry.DeleteKey(kSettingsKey);
        if (c.custom) AllowCustomLevel();
        const PalmSettings mine{c.stored, 11, 22, 33, 44};
        Store(kAlice, mine);
        PalmSettings record{9, 9, 9, 9, 9};
        softwareComponentResult = 0;  // stale from an earlier run: UI mode must refresh it

        EXPECT_EQ(PalmControl(record, 0, 0), 1);
        EXPECT_EQ(record, mine) << "the caller's record keeps what was read";
        const PalmSettings defaults{2, 0, 0, 0, 0};
        EXPECT_EQ(InForce(), c.accepted ? mine : defaults);
        EXPECT_EQ(UserStore(L"alice"), c.accepted ? mine : defaults);
        EXPECT_EQ(palmSendCommand.load(), 1);
        EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 1, SWCInstall = 1\r\n"));
        EXPECT_TRUE(Has(L"<Palm> Set UI Mode Command\r\n"));
        EXPECT_EQ(softwareComponentResult.load(), 1);
        machine.faults.Clear();
        ResetProcessState();
        RecordTrace();
    }
}

TEST_F(PalmControlTest, UIModeWithNothingStoredStoresThePalmDefaultsForTheUser) {
    CompanionLaptop();
    PalmSettings record{};
    PalmControl(record, 0, 0);
    EXPECT_EQ(record, (PalmSettings{-1, -1, -1, -1, -1}));
    EXPECT_EQ(UserStore(L"alice"), (PalmSettings{2, 0, 0, 0, 0}));
    EXPECT_EQ(InForce(), (PalmSettings{2, 0, 0, 0, 0}));
    EXPECT_TRUE(Has(L"SyncTouchpadSettings(SYNC_WRITE_LAST)::Registry Path : " + std::wstring(kSettingsKeyPath) +
                    L"\r\n"));
}

TEST_F(PalmControlTest, EndingSessionInUIModeChangesNothing) {
    CompanionLaptop();
    Store(kAlice, {5, 1, 2, 3, 4});
    Store(kSettingsKey, {1, 0, 0, 0, 0});
    PalmSettings record{3, 3, 3, 3, 3};
    EXPECT_EQ(PalmControl(record, 1, 0), 1);
    EXPECT_EQ(record, (PalmSettings{3, 3, 3, 3, 3}));
    EXPECT_EQ(UserStore(L"alice"), (PalmSettings{5, 1, 2, 3, 4}));
    EXPECT_EQ(InForce(), (PalmSettings{1, 0, 0, 0, 0}));
    EXPECT_EQ(palmSendCommand.load(), 1);
    EXPECT_EQ(Lines().back(), L"<Palm> Set UI Mode Command\r\n");
}

// ---- non-UI mode: the driver decides ---------------------------------------------------

TEST_F(PalmControlTest, DynamicDriverPutsTheDynamicLevelInForceForEveryOtherLevel) {
    StartWithDriverDefaults(2, 1);
    machine.sessions.LogOn(L"alice");  // no companion
    Store(kAlice, {1, 5, 6, 7, 8});
    PalmSettings record{};
    PalmControl(record, 0, 0);
    EXPECT_EQ(record, kDynamicPalmSettings);
    EXPECT_EQ(UserStore(L"alice"), kDynamicPalmSettings);
    EXPECT_EQ(InForce(), kDynamicPalmSettings);
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 0, SWCInstall = 0\r\n"));
    EXPECT_TRUE(Has(L"<Palm> Read PalmCheckOption = 1\r\n"));
}

TEST_F(PalmControlTest, DynamicLevelAlreadyStoredIsKeptWithItsRangesAndWrittenTwice) {
    StartWithDriverDefaults(2, 1);
    machine.sessions.LogOn(L"alice");
    Store(kAlice, {5, 10, 20, 30, 40});
    PalmSettings record{};
    PalmControl(record, 0, 0);
    EXPECT_EQ(record, (PalmSettings{5, 10, 20, 30, 40}));
    EXPECT_EQ(InForce(), (PalmSettings{5, 10, 20, 30, 40}));
    EXPECT_EQ(Count(L"SyncTouchpadSettings(SYNC_WRITE)::Registry Path : " + std::wstring(kSettingsKeyPath) +
                    L"\\alice\r\n"),
              0);
    EXPECT_EQ(Count(L"SyncTouchpadSettings(SYNC_WRITE_LAST)::Registry Path : " + std::wstring(kSettingsKeyPath) +
                    L"\r\n"),
              2);
    EXPECT_EQ(Count(L"SyncTouchpadSettings::Save Registry\r\n"), 2);
}

TEST_F(PalmControlTest, SendCommandIsReportedOnceAfterUIModeOrTheDefaults) {
    StartWithDriverDefaults(2, 1);
    machine.sessions.LogOn(L"alice");
    PalmSettings record{};
    PalmControl(record, 0, 0);
    EXPECT_TRUE(Has(L"<Palm> Set Dynamic Mode Command (SendCommand=0)\r\n")) << "a new process starts at 0";

    InstallCompanion(machine, L"alice");
    PalmControl(record, 0, 0);  // UI mode
    machine.files.Remove(CompanionPackageFolder(L"alice"));
    Mark();
    PalmControl(record, 0, 0);
    EXPECT_TRUE(Has(L"<Palm> Set Dynamic Mode Command (SendCommand=1)\r\n"));
    Mark();
    PalmControl(record, 0, 0);
    EXPECT_TRUE(Has(L"<Palm> Set Dynamic Mode Command (SendCommand=0)\r\n"));
    EXPECT_EQ(palmSendCommand.load(), 0);

    // The non-dynamic branch sets it too.
    SupportDynamicModeCommand = 0;
    PalmControl(record, 0, 0);
    EXPECT_EQ(palmSendCommand.load(), 1);
    SupportDynamicModeCommand = 1;
    Mark();
    PalmControl(record, 0, 0);
    EXPECT_TRUE(Has(L"<Palm> Set Dynamic Mode Command (SendCommand=1)\r\n"));
}

TEST_F(PalmControlTest, WithoutDynamicSupportThePalmDefaultsAreStoredAndPutInForce) {
    machine.sessions.LogOn(L"alice");
    // SupportDynamicModeCommand missing, or any value but 1.
    for (std::int32_t support : {-1, 2}) {
        SCOPED_TRACE(testing::Message() << "SupportDynamicModeCommand " << support);
        ResetProcessState();
        RecordTrace();
        StartWithDriverDefaults(3, support);
        Store(kAlice, {5, 10, 20, 30, 40});
        PalmSettings record{};
        PalmControl(record, 0, 0);
        EXPECT_EQ(record, (PalmSettings{3, 0, 0, 0, 0}));
        EXPECT_EQ(UserStore(L"alice"), (PalmSettings{3, 0, 0, 0, 0}));
        EXPECT_EQ(InForce(), (PalmSettings{3, 0, 0, 0, 0}));
        EXPECT_EQ(palmSendCommand.load(), 1);
        for (const auto& line : Lines()) EXPECT_EQ(line.find(L"Set Dynamic Mode Command"), std::wstring::npos);
        EXPECT_EQ(Count(L"SyncTouchpadSettings::Save Registry\r\n"), 3);  // user, then in force twice
    }
}

TEST_F(PalmControlTest, PalmDefaultsWithoutALevelPutMinusOneInForce) {
    StartWithDriverDefaults(-1, 0);
    machine.sessions.LogOn(L"alice");
    PalmSettings record{};
    PalmControl(record, 0, 0);
    EXPECT_EQ(InForce(), (PalmSettings{-1, 0, 0, 0, 0}));
    EXPECT_TRUE(Has(L"Palm Check Option = Unknow Palm Level(-1); Up=0, Down=0, Left=0, Right=0\r\n"));

    // UI mode falls back to the same defaults for an invalid choice.
    InstallCompanion(machine, L"alice");
    Store(kAlice, {5, 1, 1, 1, 1});
    Store(kSettingsKey, {0, 0, 0, 0, 0});
    PalmControl(record, 0, 0);
    EXPECT_EQ(InForce(), (PalmSettings{-1, 0, 0, 0, 0}));
}

TEST_F(PalmControlTest, NobodyAtTheConsoleStillPutsTheDecisionInForce) {
    StartWithDriverDefaults(2, 1);
    InstallCompanion(machine, L"alice");  // installed, but nobody is logged on
    Store(kSettingsKey, {1, 4, 4, 4, 4});
    // The live record as the service loads it from the values in force.
    PalmSettings record{};
    SyncTouchpadSettings(SYNC_READ_LAST, record);
    Mark();
    PalmControl(record, 0, 0);
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 0, SWCInstall = 1\r\n"));
    EXPECT_TRUE(Has(L"SyncTouchpadSettings::Get User Name fail\r\n"));
    // Nothing was read for a user, so the record's own level is the one reported.
    EXPECT_TRUE(Has(L"<Palm> Read PalmCheckOption = 1\r\n"));
    EXPECT_EQ(InForce(), kDynamicPalmSettings);
    EXPECT_EQ(machine.registry.SubKeys(kSettingsKey), std::vector<std::wstring>{}) << "no user subkey";
}

// ---- judged by the values in force (logoff, resume) -------------------------------------

TEST_F(PalmControlTest, FromInForceTheLevelInForceStandsForTheCompanion) {
    CompanionLaptop();
    Store(kAlice, {1, 2, 3, 4, 5});
    Store(kSettingsKey, {5, 0, 0, 0, 0});
    PalmSettings record{};
    PalmControl(record, 0, 1);  // resume
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 0, SWCInstall = 1\r\n")) << "installed on disk, yet not counted";
    EXPECT_EQ(InForce(), kDynamicPalmSettings);
    EXPECT_EQ(UserStore(L"alice"), kDynamicPalmSettings);

    // A level the companion could have set counts as installed even when its folder is gone.
    machine.files.Remove(CompanionPackageFolder(L"alice"));
    Store(kAlice, {1, 2, 3, 4, 5});
    Store(kSettingsKey, {4, 0, 0, 0, 0});
    Mark();
    PalmControl(record, 0, 1);
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 1, SWCInstall = 1\r\n"));
    EXPECT_EQ(InForce(), (PalmSettings{1, 2, 3, 4, 5}));
    EXPECT_EQ(machine.faults.Uses("SHGetFolderPathW"), 0) << "the folder is not looked at";

    // Nothing in force: not installed.
    machine.registry.DeleteKey(kSettingsKey);
    Mark();
    PalmControl(record, 1, 1);  // logoff
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 0, SWCInstall = 1\r\n"));
}

TEST_F(PalmControlTest, FromInForceWithTheKeyUnreadableTheLastLevelPutInForceDecides) {
    CompanionLaptop();
    Store(kAlice, {2, 0, 0, 0, 0});
    Store(kSettingsKey, {5, 0, 0, 0, 0});
    PalmSettings record{3, 1, 1, 1, 1};  // what this process last put in force
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED, 1);
    PalmControl(record, 1, 1);
    EXPECT_TRUE(Has(L"<PalmControl> UWPInstall = 1, SWCInstall = 1\r\n"));
    EXPECT_FALSE(Has(L"SyncTouchpadSettings::Read Registry\r\n"));
}

// A user's key that could not be read is never rewritten: the record the read left as it
// was holds the live values, not the user's, so nothing about the user's choice is known.
// Nor is it when a companion check could not tell: the companion may be there after all,
// and its next run would find the fallback record instead of the user's choice.
TEST_F(PalmControlTest, AUsersKeyThatCouldNotBeReadKeepsTheUsersChoice) {
    struct Case {
        const char* what;
        bool companion;
        const char* failing;  // fails at its first use: the read of alice's key
        win::DWORD error;
        PalmSettings inForce;  // what the decision puts there instead
    } cases[] = {
        {"UI mode, no user name", true, "WTSQuerySessionInformationW", win::ERROR_FILE_NOT_FOUND, {2, 0, 0, 0, 0}},
        {"UI mode, key refused", true, "RegCreateKeyExW", win::ERROR_ACCESS_DENIED, {2, 0, 0, 0, 0}},
        {"non-UI mode, no user name", false, "WTSQuerySessionInformationW", win::ERROR_FILE_NOT_FOUND,
         kDynamicPalmSettings},
        {"non-UI mode, key refused", false, "RegCreateKeyExW", win::ERROR_ACCESS_DENIED, kDynamicPalmSettings},
        {"package folder not testable", true, "PathFileExistsW", win::ERROR_ACCESS_DENIED, kDynamicPalmSettings},
        {"no user folder", true, "SHGetFolderPathW", win::ERROR_FILE_NOT_FOUND, kDynamicPalmSettings},
        {"no component list", true, "SetupDiGetClassDevsW", win::ERROR_NOT_ENOUGH_MEMORY, kDynamicPalmSettings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CompanionLaptop();
        if (!c.companion) machine.files.Remove(CompanionPackageFolder(L"alice"));
        const PalmSettings mine{3, 11, 22, 33, 44};
        Store(kAlice, mine);
        machine.faults.Fail(c.failing, c.error, 1);
        PalmSettings record{7, 1, 1, 1, 1};  // the live record: no level alice could choose

        PalmControl(record, 0, 0);
        EXPECT_EQ(UserStore(L"alice"), mine);
        EXPECT_EQ(InForce(), c.inForce);
        machine.faults.Clear();
        ResetProcessState();
        RecordTrace();
    }
}

// ---- the custom-level switch and the component result -----------------------------------

TEST_F(PalmControlTest, CustomSwitchIsExactlyADwordOfOne) {
    int flag = 7;
    EXPECT_EQ(ReadCustomPalmRejection(&flag), 0) << "no component";
    EXPECT_EQ(flag, 0) << "no settings key";
    EXPECT_EQ(softwareComponentResult.load(), 0);

    machine.registry.SetString(kSettingsKey, kValueFunctionCustomPalmRejection, L"1");
    ReadCustomPalmRejection(&flag);
    EXPECT_EQ(flag, 0);
    machine.registry.SetDword(kSettingsKey, kValueFunctionCustomPalmRejection, 2);
    ReadCustomPalmRejection(&flag);
    EXPECT_EQ(flag, 0);
    machine.registry.SetDword(kSettingsKey, kValueFunctionCustomPalmRejection, 1);
    machine.devices.Add(SoftwareComponent());
    EXPECT_EQ(ReadCustomPalmRejection(&flag), 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(softwareComponentResult.load(), 1);
}

}  // namespace
}  // namespace tavo::test
