// Forcepad control on simulated laptops: which feature reports reach the touchpad, byte for
// byte, and which values land in force and in the user's store, for each situation the
// service decides in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/feature_report.h"
#include "device_fixture.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo::test {
namespace {

using Report = sim::TouchpadFirmware::Report;
using Dir = sim::TouchpadFirmware::Direction;

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;
const std::wstring kAlice = kInForce + L"\\alice";

// What the device should see, built in the order of the exchange.
class Wire {
public:
    Wire& Read(win::WORD function, win::WORD answer) {
        reports_.push_back({Dir::ToDevice, {0x0D, 0x05, 0x03, Lo(function), Hi(function)}, true});
        reports_.push_back({Dir::FromDevice, {0x0D, Lo(function), Hi(function), Lo(answer), Hi(answer)}, true});
        return *this;
    }
    Wire& Write(win::WORD function, win::WORD data) {
        reports_.push_back({Dir::ToDevice, {0x0D, Lo(function), Hi(function), Lo(data), Hi(data)}, true});
        return *this;
    }
    std::vector<Report> Reports() const { return reports_; }

private:
    static win::BYTE Lo(win::WORD w) { return static_cast<win::BYTE>(w & 0xFF); }
    static win::BYTE Hi(win::WORD w) { return static_cast<win::BYTE>(w >> 8); }
    std::vector<Report> reports_;
};

class ForcepadControlTest : public DeviceTest {
protected:
    ~ForcepadControlTest() override {
        EXPECT_EQ(OpenDeviceHandles(), 0) << "every device, device list and key is closed";
        EXPECT_EQ(machine.handles.OpenCount("TOKEN"), 0);
    }

    // A laptop of the given Windows with the forcepad; the pointing stick's start-up state
    // is what the service would have found at start.
    void BuildLaptop(bool windows11, int pointingStickAtStart) {
        SimLaptop laptop = windows11 ? LoadSimLaptop("forcepad", firmware) : LoadSimLaptop("touchpad", firmware);
        Build(machine, laptop);
        ReadPSTStatusFromDM.store(pointingStickAtStart);
    }
    // alice at the console with the companion installed (both tests hold).
    void CompanionInstalled() {
        machine.sessions.LogOn(L"alice");
        InstallCompanion(machine, L"alice");
    }
    void RemoveCompanionFolder() { machine.files.Remove(CompanionPackageFolder(L"alice")); }
    void Store(const std::wstring& key, const ForcepadSettings& r) {
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            machine.registry.SetDword(key, RecordLayout<ForcepadSettings>::fields[i].valueName,
                                      static_cast<win::DWORD>(Field(r, i)));
    }
    void StorePalmLevelInForce(std::int32_t level) {
        machine.registry.SetDword(kInForce, L"PalmCheck_Level", static_cast<win::DWORD>(level));
    }
    // The nine values under a key; a missing one shows as 12345.
    ForcepadSettings Stored(const std::wstring& key) const {
        ForcepadSettings r;
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i) {
            auto v = machine.registry.Dword(key, RecordLayout<ForcepadSettings>::fields[i].valueName);
            Field(r, i) = v ? static_cast<std::int32_t>(*v) : 12345;
        }
        return r;
    }
    bool AnyForcepadValue(const std::wstring& key) const {
        for (const auto& f : RecordLayout<ForcepadSettings>::fields)
            if (machine.registry.Dword(key, f.valueName)) return true;
        return false;
    }
    std::vector<std::wstring> Since(std::size_t mark) const { return WrittenSince(mark); }
};

// A user's choice that differs from the defaults in every item.
constexpr ForcepadSettings kAliceChoice{4, 1, 75, 2, 2, 1, 0, 1, 0};

// ---- UI mode: the whole set, item by item ------------------------------------------------

TEST_F(ForcepadControlTest, UiModeOnWindows10SendsItemsOneToSixWithComposedWords) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);
    firmware->Set(fn::kForcepadOptions, 0x0205);
    firmware->ClearReports();
    softwareComponentResult = 0;  // stale from an earlier run

    ForcepadSettings record{};
    EXPECT_EQ(ForcePadControl(record, 0, 0), 1);

    Wire wire;
    wire.Read(0x03A1, 0x0205).Write(0x03A1, 0x0307);                   // 1: haptic on, top zone on
    wire.Read(0x03A1, 0x0307).Write(0x03AB, 0x3030);                   // 2: 75 %
    wire.Read(0x03A1, 0x0307);                                         // 3: nothing to send
    wire.Read(0x03A1, 0x0307).Write(0x03A2, 0xC0).Write(0x03A3, 0x9A).Write(0x03A4, 0x3C);  // 4: position 2
    wire.Read(0x03A1, 0x0307).Write(0x03A1, 0x0307);                   // 5: composed as for 1
    wire.Read(0x03A1, 0x0307).Write(0x03A9, 0x50).Write(0x03AA, 0x3C);  // 6: position 0
    EXPECT_EQ(firmware->Reports(), wire.Reports());

    EXPECT_EQ(Stored(kInForce), kAliceChoice) << "the user's choice is put in force as it is";
    EXPECT_EQ(Stored(kAlice), kAliceChoice);
    EXPECT_EQ(record, kAliceChoice) << "the caller's record holds what was read";
    EXPECT_EQ(forcepadSendCommand.load(), 1);
    EXPECT_EQ(softwareComponentResult.load(), 1) << "UI mode refreshes the component result";
    EXPECT_TRUE(Logged(L"<ForcePadControl> UWPInstall = 1, SWCInstall = 1\r\n"));
    EXPECT_TRUE(Logged(L"<ForcePadControl> Set UI Mode Command\r\n"));
    EXPECT_EQ(CountLogged(L"[SetForcePadFunction] Close TAVO HID Device\r\n"), 6);
    EXPECT_TRUE(Logged(L"[SetForcePadFunction] Case USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM_Win10\r\n"));
}

TEST_F(ForcepadControlTest, UiModeOnWindows11LeavesHapticToWindowsAndTouchesOnlyTheTopZoneBit) {
    BuildLaptop(true, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);
    // Bits Windows 11 keeps in the word for itself must survive.
    firmware->Set(fn::kForcepadOptions, 0x8141);
    firmware->ClearReports();

    ForcepadSettings record{};
    ForcePadControl(record, 0, 0);

    Wire wire;
    wire.Read(0x03A1, 0x8141);                                                        // 1
    wire.Read(0x03A1, 0x8141);                                                        // 2
    wire.Read(0x03A1, 0x8141);                                                        // 3
    wire.Read(0x03A1, 0x8141).Write(0x03A2, 0xC0).Write(0x03A3, 0x9A).Write(0x03A4, 0x3C);  // 4
    wire.Read(0x03A1, 0x8141).Write(0x03A1, 0x8143).Read(0x03A1, 0x8143);             // 5: bit set, read back
    wire.Read(0x03A1, 0x8143).Write(0x03A9, 0x50).Write(0x03AA, 0x3C);                // 6
    EXPECT_EQ(firmware->Reports(), wire.Reports());

    EXPECT_TRUE(Logged(L"[SetForcePadFunction] It's Win11 OS, So No Case HAPTIC_FEEDBACK_SWITCH_ITEM\r\n"));
    EXPECT_TRUE(Logged(L"[SetForcePadFunction] It's Win11 OS, So No Case HAPTIC_FEEDBACK_SLIDER_ITEM\r\n"));
    EXPECT_TRUE(Logged(L"[SetForcePadFunction] Edit_Value = 0x00008143\r\n"));
    EXPECT_EQ(Stored(kInForce), kAliceChoice);
}

TEST_F(ForcepadControlTest, UiModeAtSessionEndSendsTheDefaultSetAndLeavesTheRegistryAlone) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);
    firmware->Set(fn::kForcepadOptions, 0x0205);
    firmware->ClearReports();

    ForcepadSettings record = kAliceChoice;
    ForcePadControl(record, 1, 0);  // as OnStop calls it

    Wire wire;
    wire.Read(0x03A1, 0x0205)
        .Write(0x03A1, 0x0307)  // haptic on; top zone from the stick found at start
        .Write(0x03AB, 0x4040)
        .Write(0x03A2, 0xA0)
        .Write(0x03A3, 0x80)
        .Write(0x03A4, 0x3C)
        .Write(0x03A9, 0x6E)  // position 1, although the default record holds 0
        .Write(0x03AA, 0x42);
    EXPECT_EQ(firmware->Reports(), wire.Reports());
    EXPECT_FALSE(AnyForcepadValue(kInForce));
    EXPECT_EQ(Stored(kAlice), kAliceChoice);
    EXPECT_EQ(record, kAliceChoice);
    EXPECT_EQ(forcepadSendCommand.load(), 1);
    EXPECT_TRUE(Logged(L"[SetForcePadFunction] Case FORCEPAD_DEFAULT_VALUE\r\n"));
}

TEST_F(ForcepadControlTest, DefaultSetOnWindows11ClearsTheTopZoneBitWithoutAPointingStick) {
    BuildLaptop(true, 0);
    firmware->Set(fn::kForcepadOptions, 0x8143);
    firmware->ClearReports();

    EXPECT_TRUE(SetForcePadFunction(kForcepadDefaults));

    Wire wire;
    wire.Read(0x03A1, 0x8143)
        .Write(0x03A1, 0x8141)  // no haptic strength on Windows 11
        .Write(0x03A2, 0xA0)
        .Write(0x03A3, 0x80)
        .Write(0x03A4, 0x3C)
        .Write(0x03A9, 0x6E)
        .Write(0x03AA, 0x42);
    EXPECT_EQ(firmware->Reports(), wire.Reports());
}

// ---- the top zone follows the pointing stick found at start ------------------------------

// The option word item 5 sends, for a record's top-zone choice and the start-up stick state.
win::WORD TopZoneWord(sim::TouchpadFirmware& firmware, std::int32_t topZone, std::int32_t hapticEnabled, int stick) {
    ReadPSTStatusFromDM.store(stick);
    ForcepadSettings r = kForcepadDefaults;
    r.CurrentControlItem = USE_TOP_ZONE_AS_VADAVAREDU_BUTTONS_SWITCH_ITEM;
    r.UseTopZoneAsVadavAreduButtonsEnabled = topZone;
    r.HapticEnabled = hapticEnabled;
    firmware.ClearReports();
    SetForcePadFunction(r);
    auto reports = firmware.Reports();
    for (const auto& rep : reports)
        if (rep.direction == Dir::ToDevice && rep.bytes[1] == 0xA1 && rep.bytes[2] == 0x03)
            return static_cast<win::WORD>(rep.bytes[3] | (rep.bytes[4] << 8));
    return 0xDEAD;
}

TEST_F(ForcepadControlTest, OnWindows10TheComposedWordCarriesTheTopZoneOnlyWithAStickAtStart) {
    BuildLaptop(false, 0);
    EXPECT_EQ(TopZoneWord(*firmware, 1, 1, 0), 0x0305) << "no stick at start: the user's choice is ignored";
    EXPECT_EQ(TopZoneWord(*firmware, 1, 0, 0), 0x0205);
    EXPECT_EQ(TopZoneWord(*firmware, 1, 1, 1), 0x0307);
    EXPECT_EQ(TopZoneWord(*firmware, 0, 1, 1), 0x0305);
    EXPECT_EQ(TopZoneWord(*firmware, 1, 0, 1), 0x0207);
    EXPECT_EQ(TopZoneWord(*firmware, 2, 2, 1), 0x0205) << "only 1 switches a bit on";
}

TEST_F(ForcepadControlTest, OnWindows11OnlyBitOneFollowsTheTopZoneAndTheStick) {
    BuildLaptop(true, 0);
    firmware->Set(fn::kForcepadOptions, 0x7FFF);
    EXPECT_EQ(TopZoneWord(*firmware, 1, 1, 0), 0x7FFD);
    firmware->Set(fn::kForcepadOptions, 0x0100);
    EXPECT_EQ(TopZoneWord(*firmware, 1, 0, 1), 0x0102);
    EXPECT_EQ(TopZoneWord(*firmware, 0, 1, 1), 0x0100);

    // The default set asks for the stick being exactly 1.
    firmware->Set(fn::kForcepadOptions, 0x0100);
    ReadPSTStatusFromDM.store(1);
    firmware->ClearReports();
    SetForcePadFunction(kForcepadDefaults);
    ASSERT_GE(firmware->Reports().size(), 3u);
    EXPECT_EQ(firmware->Reports()[2].bytes, (std::vector<win::BYTE>{0x0D, 0xA1, 0x03, 0x02, 0x01}));
}

// ---- the device push on its own ----------------------------------------------------------

TEST_F(ForcepadControlTest, SliderAndPositionsOutsideTheTablesSendNothing) {
    BuildLaptop(false, 1);
    ForcepadSettings r = kAliceChoice;
    const std::pair<std::int32_t, std::int32_t ForcepadSettings::*> cases[] = {
        {HAPTIC_FEEDBACK_SLIDER_ITEM, &ForcepadSettings::HapticFeedbackCheckSlider},
        {CLICK_FORCE_COMBO_ITEM, &ForcepadSettings::ClickForceCheckOption},
        {VADAVAREDU_BUTTON_CLICK_FORCE_COMBO_ITEM, &ForcepadSettings::VadavAreduButtonClickForceCheckOption},
    };
    for (auto [item, member] : cases) {
        for (std::int32_t bad : {30, 3, -1}) {
            r = kAliceChoice;
            r.CurrentControlItem = item;
            r.*member = bad;
            firmware->ClearReports();
            EXPECT_TRUE(SetForcePadFunction(r));
            EXPECT_EQ(firmware->Reports(), Wire().Read(0x03A1, 0x0307).Reports()) << "item " << item << " value " << bad;
        }
    }
    for (std::int32_t item : {0, 3, 8, -1}) {
        r.CurrentControlItem = item;
        firmware->ClearReports();
        EXPECT_TRUE(SetForcePadFunction(r));
        EXPECT_EQ(firmware->Reports().size(), 2u) << "item " << item;
    }
}

TEST_F(ForcepadControlTest, AnUnreadableOptionWordStopsThePushAndClosesTheDevice) {
    BuildLaptop(false, 1);
    firmware->Set(fn::kForcepadOptions, 0xFFFF);  // indistinguishable from a failed read
    const std::size_t mark = Written().size();
    ForcepadSettings r = kForcepadDefaults;
    EXPECT_FALSE(SetForcePadFunction(r));
    EXPECT_EQ(firmware->Reports(), Wire().Read(0x03A1, 0xFFFF).Reports()) << "no item is sent";
    auto lines = Since(mark);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"[SetForcePadFunction] Original_Value = 0x0000FFFF\r\n");
    EXPECT_EQ(lines.back(), L"[SetForcePadFunction] Get Original_Value Fail\r\n");
    EXPECT_EQ(machine.devices.OpenDeviceFiles(), 0);

    firmware->Refuse(fn::kForcepadOptions);
    EXPECT_FALSE(SetForcePadFunction(r));
    EXPECT_EQ(machine.devices.OpenDeviceFiles(), 0);
}

TEST_F(ForcepadControlTest, WithoutTheTouchpadNothingIsSentButTheSettingsStillGoInForce) {
    SimLaptop laptop = LoadSimLaptop("touchpad", firmware);
    laptop.hid.pop_back();  // the configuration collection is missing
    Build(machine, laptop);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);

    ForcepadSettings record{};
    EXPECT_EQ(ForcePadControl(record, 0, 0), 1);
    EXPECT_EQ(CountLogged(L"[SetForcePadFunction] Cannot Find TAVO HID Device\r\n"), 6);
    EXPECT_EQ(CountLogged(L"[SetForcePadFunction] Exit <== SetForcePadFunction\r\n"), 6);
    EXPECT_EQ(Stored(kInForce), kAliceChoice);
}

// ---- UI mode: a user's store that cannot be used -----------------------------------------

TEST_F(ForcepadControlTest, AnyInvalidStoredFieldPutsTheDefaultsInForceAndStoresThemForTheUser) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    struct Case {
        const char* what;
        std::int32_t ForcepadSettings::*member;
        std::int32_t value;
    };
    const Case cases[] = {
        {"haptic 2", &ForcepadSettings::HapticEnabled, 2},
        {"nothing stored", &ForcepadSettings::HapticFeedbackCheckSlider, -1},
        {"slider 101", &ForcepadSettings::HapticFeedbackCheckSlider, 101},
        {"finger 3", &ForcepadSettings::FingerDetectionForceCheckOption, 3},
        {"click 3", &ForcepadSettings::ClickForceCheckOption, 3},
        {"top zone 2", &ForcepadSettings::UseTopZoneAsVadavAreduButtonsEnabled, 2},
        {"button click -2", &ForcepadSettings::VadavAreduButtonClickForceCheckOption, -2},
        {"button click 3", &ForcepadSettings::VadavAreduButtonClickForceCheckOption, 3},
        {"not gray out 2", &ForcepadSettings::UseTopZoneAsVadavAreduButtonsNotGrayOut, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ForcepadSettings stored = kAliceChoice;
        stored.*c.member = c.value;
        Store(kAlice, stored);
        firmware->Set(fn::kForcepadOptions, 0x0205);
        firmware->ClearReports();

        ForcepadSettings record{};
        ForcePadControl(record, 0, 0);
        EXPECT_EQ(Stored(kAlice), kForcepadDefaults);
        EXPECT_EQ(Stored(kInForce), kForcepadDefaults);
        EXPECT_EQ(record, stored) << "the caller's record keeps what was read";

        // The defaults go out item by item, not as the default set.
        Wire wire;
        wire.Read(0x03A1, 0x0205).Write(0x03A1, 0x0307);
        wire.Read(0x03A1, 0x0307).Write(0x03AB, 0x4040);
        wire.Read(0x03A1, 0x0307);
        wire.Read(0x03A1, 0x0307).Write(0x03A2, 0xA0).Write(0x03A3, 0x80).Write(0x03A4, 0x3C);
        wire.Read(0x03A1, 0x0307).Write(0x03A1, 0x0307);
        wire.Read(0x03A1, 0x0307).Write(0x03A9, 0x50).Write(0x03AA, 0x3C);
        EXPECT_EQ(firmware->Reports(), wire.Reports());
    }
}

// A user's key that could not be read is never rewritten: the record the read left as it
// was holds the live values (here the values in force, loaded while nobody was logged on),
// not the user's. Nor is it when a companion check could not tell (the companion may be
// there after all); what goes in force is decided as without the companion.
TEST_F(ForcepadControlTest, AUsersKeyThatCouldNotBeReadKeepsTheUsersChoice) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    struct Case {
        const char* what;
        bool companion;
        const char* failing;
        int nth;  // the use that fails
        win::DWORD error;
        ForcepadSettings inForce;
        // Without the dynamic mode, non-UI mode stores the defaults for the user whatever was read.
        std::int32_t dynamicMode = 1;
    } cases[] = {
        {"UI mode, no user name", true, "WTSQuerySessionInformationW", 1, win::ERROR_FILE_NOT_FOUND,
         kForcepadDefaults},
        // The first create opens the values in force for the palm level.
        {"UI mode, key refused", true, "RegCreateKeyExW", 2, win::ERROR_ACCESS_DENIED, kForcepadDefaults},
        {"non-UI mode, no user name", false, "WTSQuerySessionInformationW", 1, win::ERROR_FILE_NOT_FOUND,
         kForcepadDynamicModeDefaults},
        {"non-UI mode, key refused", false, "RegCreateKeyExW", 2, win::ERROR_ACCESS_DENIED,
         kForcepadDynamicModeDefaults},
        {"package folder not testable", true, "PathFileExistsW", 1, win::ERROR_ACCESS_DENIED, kForcepadDefaults, 0},
        {"no component list", true, "SetupDiGetClassDevsW", 1, win::ERROR_NOT_ENOUGH_MEMORY, kForcepadDefaults, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.companion) {
            InstallCompanion(machine, L"alice");
        } else {
            RemoveCompanionFolder();
        }
        Store(kAlice, kAliceChoice);
        SupportDynamicModeCommand.store(c.dynamicMode);
        machine.faults.Fail(c.failing, c.error, c.nth);
        // Invalid for a user (click force 3), and nothing stored for the slider.
        ForcepadSettings record{7, 0, -1, 1, 3, 0, 1, 0, 1};

        ForcePadControl(record, 0, 0);
        EXPECT_EQ(Stored(kAlice), kAliceChoice);
        EXPECT_EQ(Stored(kInForce), c.inForce);
        machine.faults.Clear();
        SupportDynamicModeCommand.store(1);
    }
}

TEST_F(ForcepadControlTest, ValuesWithinTheLimitsAreKeptEvenWhenTheDeviceKnowsNoSuchLevel) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    ForcepadSettings stored = kAliceChoice;
    stored.HapticFeedbackCheckSlider = 30;  // within 100, but not a level of the table
    stored.CurrentControlItem = -1;         // neither of these two is checked
    stored.UseTopZoneAsVadavAreduButtonsPreviousManualStatus = -1;
    Store(kAlice, stored);
    ForcepadSettings record{};
    ForcePadControl(record, 0, 0);
    EXPECT_EQ(Stored(kInForce), stored);
    EXPECT_TRUE(Logged(L"[SetForcePadFunction] Case HAPTIC_FEEDBACK_SLIDER_ITEM\r\n"));
    for (const auto& rep : firmware->Reports())
        EXPECT_FALSE(rep.bytes[1] == 0xAB && rep.bytes[2] == 0x03) << "slider 30 writes no strength";

    // Every checked field at the highest value it may hold (the others already are).
    ForcepadSettings highest = kAliceChoice;
    highest.HapticFeedbackCheckSlider = 100;
    highest.VadavAreduButtonClickForceCheckOption = 2;
    Store(kAlice, highest);
    ForcePadControl(record, 0, 0);
    EXPECT_EQ(Stored(kInForce), highest);
    EXPECT_EQ(Stored(kAlice), highest);
}

// ---- non-UI mode -------------------------------------------------------------------------

TEST_F(ForcepadControlTest, DynamicModePushesTheStoredItemOnceAfterAUiRunThenStaysSilent) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);  // last acted on item 4, click force position 2
    ForcepadSettings record{};
    ForcePadControl(record, 0, 0);  // UI mode arms the one push
    ASSERT_EQ(forcepadSendCommand.load(), 1);

    RemoveCompanionFolder();
    firmware->Set(fn::kForcepadOptions, 0x0205);
    firmware->ClearReports();
    ForcePadControl(record, 0, 0);
    EXPECT_TRUE(Logged(L"<ForcePadControl> UWPInstall = 0, SWCInstall = 1\r\n"));
    EXPECT_TRUE(Logged(L"<ForcePadControl> Read HapticFeedbackCheckSlider = 75\r\n"));
    EXPECT_TRUE(Logged(L"<Palm> Set Dynamic Mode Command (SendCommand=1)\r\n"));
    Wire once;
    once.Read(0x03A1, 0x0205).Write(0x03A2, 0xC0).Write(0x03A3, 0x9A).Write(0x03A4, 0x3C);
    EXPECT_EQ(firmware->Reports(), once.Reports());
    EXPECT_EQ(forcepadSendCommand.load(), 0);
    EXPECT_EQ(Stored(kInForce), kAliceChoice);
    EXPECT_EQ(Stored(kAlice), kAliceChoice) << "a stored choice is kept for the user";
    EXPECT_EQ(record, kAliceChoice);

    firmware->ClearReports();
    const int writes = machine.faults.Uses("RegSetValueExW");
    ForcePadControl(record, 0, 0);
    ForcePadControl(record, 0, 0);
    EXPECT_TRUE(firmware->Reports().empty()) << "later runs push nothing";
    EXPECT_EQ(machine.faults.Uses("RegSetValueExW") - writes, 2 * 2 * static_cast<int>(kFieldCount<ForcepadSettings>))
        << "each run writes the record in force twice, and nothing else";
    EXPECT_EQ(CountLogged(L"<Palm> Set Dynamic Mode Command (SendCommand=0)\r\n"), 2);
    EXPECT_EQ(Stored(kInForce), kAliceChoice);
}

TEST_F(ForcepadControlTest, DynamicModeWithNothingStoredStoresTheDynamicDefaultsWithoutAPush) {
    BuildLaptop(false, 1);
    machine.sessions.LogOn(L"alice");  // no companion
    ForcepadSettings record = kAliceChoice;
    ForcePadControl(record, 0, 0);
    EXPECT_TRUE(Logged(L"<ForcePadControl> Read HapticFeedbackCheckSlider = -1\r\n"));
    EXPECT_EQ(record, kForcepadDynamicModeDefaults);
    EXPECT_EQ(Stored(kAlice), kForcepadDynamicModeDefaults);
    EXPECT_EQ(Stored(kInForce), kForcepadDynamicModeDefaults);
    EXPECT_TRUE(firmware->Reports().empty()) << "a new process has no push armed";
    EXPECT_TRUE(Logged(L"<Palm> Set Dynamic Mode Command (SendCommand=0)\r\n"));
}

TEST_F(ForcepadControlTest, WithoutDynamicSupportEveryRunStoresAndSendsTheDefaultSet) {
    BuildLaptop(false, 0);
    machine.sessions.LogOn(L"alice");
    Wire twice;
    for (int run = 0; run < 2; ++run) {
        twice.Read(0x03A1, 0x0305)
            .Write(0x03A1, 0x0305)
            .Write(0x03AB, 0x4040)
            .Write(0x03A2, 0xA0)
            .Write(0x03A3, 0x80)
            .Write(0x03A4, 0x3C)
            .Write(0x03A9, 0x6E)
            .Write(0x03AA, 0x42);
    }
    // The driver's DefaultSettings lack the value, or hold one other than 1.
    for (std::int32_t support : {-1, 2}) {
        SCOPED_TRACE(testing::Message() << "SupportDynamicModeCommand " << support);
        forcepadSendCommand = 0;
        Store(kAlice, kAliceChoice);
        machine.registry.Import(DriverPackageReg(L"0000", 2, 3, support));
        ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
        ReadHKRDefaultSettings(DriverKeyPath());
        ASSERT_EQ(SupportDynamicModeCommand.load(), support);

        firmware->Set(fn::kForcepadOptions, 0x0305);
        firmware->ClearReports();
        ForcepadSettings record{};
        ForcePadControl(record, 0, 0);
        EXPECT_EQ(Stored(kAlice), kForcepadDefaults) << "the user's choice gives way to the defaults";
        Store(kAlice, kAliceChoice);
        ForcePadControl(record, 0, 0);
        EXPECT_EQ(firmware->Reports(), twice.Reports());
        EXPECT_EQ(record, kForcepadDefaults);
        EXPECT_EQ(Stored(kAlice), kForcepadDefaults);
        EXPECT_EQ(Stored(kInForce), kForcepadDefaults);
        EXPECT_EQ(forcepadSendCommand.load(), 1);
    }
    EXPECT_EQ(CountLogged(L"<Palm> Set Dynamic Mode Command (SendCommand=1)\r\n"), 0);
}

TEST_F(ForcepadControlTest, NobodyAtTheConsoleStillWritesTheRecordInForceAndNoUserKey) {
    BuildLaptop(false, 1);
    machine.devices.Add(SoftwareComponent());
    ForcepadSettings record = kAliceChoice;  // the live record as it stands
    ForcePadControl(record, 0, 0);
    EXPECT_TRUE(Logged(L"<ForcePadControl> UWPInstall = 0, SWCInstall = 1\r\n"));
    EXPECT_TRUE(Logged(L"SyncForcepadSettings::Get User Name fail\r\n"));
    EXPECT_EQ(record, kAliceChoice);
    EXPECT_EQ(Stored(kInForce), kAliceChoice);
    EXPECT_TRUE(machine.registry.SubKeys(kInForce).empty()) << "no user key is made up";
}

// ---- judged by the values in force (logoff, resume) --------------------------------------

TEST_F(ForcepadControlTest, FromInForceTheInForcePalmLevelDecidesWhetherTheCompanionCounts) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);
    ForcepadSettings inForce = kForcepadDefaults;
    inForce.ClickForceCheckOption = 0;
    Store(kInForce, inForce);

    {
        SCOPED_TRACE("level 5 in force: not installed, whatever is on disk");
        StorePalmLevelInForce(5);
        ForcepadSettings record{};
        ForcePadControl(record, 0, 1);  // as OnResume calls it
        EXPECT_TRUE(Logged(L"<ForcePadControl> UWPInstall = 0, SWCInstall = 1\r\n"));
        EXPECT_TRUE(Logged(L"<ForcePadControl> Read HapticFeedbackCheckSlider = 75\r\n"));
    }
    {
        SCOPED_TRACE("level 4 in force with the folder gone: installed, the folder is not looked at");
        RemoveCompanionFolder();
        Store(kInForce, inForce);
        StorePalmLevelInForce(4);
        const std::size_t mark = Written().size();
        ForcepadSettings record{};
        ForcePadControl(record, 1, 1);  // as OnLogoff calls it
        auto lines = Since(mark);
        EXPECT_NE(std::find(lines.begin(), lines.end(), L"<ForcePadControl> UWPInstall = 1, SWCInstall = 1\r\n"),
                  lines.end());
        for (const auto& l : lines) EXPECT_EQ(l.find(L"DetectUWPInstall::"), std::wstring::npos) << l;
        EXPECT_EQ(record, inForce) << "the record was read from the values in force";
        EXPECT_EQ(Stored(kInForce), inForce) << "a session end writes nothing";
        EXPECT_NE(std::find(lines.begin(), lines.end(), L"[SetForcePadFunction] Case FORCEPAD_DEFAULT_VALUE\r\n"),
                  lines.end());
    }
}

TEST_F(ForcepadControlTest, FromInForceAnUnreadableSettingsKeyCountsAsNoCompanion) {
    BuildLaptop(false, 1);
    CompanionInstalled();
    Store(kAlice, kAliceChoice);
    StorePalmLevelInForce(1);
    // The first key ForcePadControl opens is the settings key for the in-force palm level.
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED, 1);
    ForcepadSettings record{};
    ForcePadControl(record, 0, 1);
    EXPECT_TRUE(Logged(L"<ForcePadControl> UWPInstall = 0, SWCInstall = 1\r\n"));
    EXPECT_FALSE(Logged(L"<ForcePadControl> Set UI Mode Command\r\n"));
}

// ---- ChangeValueInRegistry ---------------------------------------------------------------

class ChangeValueTest : public ForcepadControlTest {};

TEST_F(ChangeValueTest, WritesInForceAndForTheConsoleUser) {
    machine.sessions.LogOn(L"alice");
    const std::size_t mark = Written().size();
    EXPECT_FALSE(ChangeValueInRegistry(kValueForcepadCapability, 1)) << "callers are told nothing";
    EXPECT_EQ(machine.registry.Dword(kInForce, L"ForcepadCapability"), 1u);
    EXPECT_EQ(machine.registry.Dword(kAlice, L"ForcepadCapability"), 1u);
    auto lines = Since(mark);
    const std::vector<std::wstring> expected = {
        L"[ChangeValueInRegistry] Enter ==> ChangeValueInRegistry()\r\n",
        L"[ChangeValueInRegistry] ValueName = ForcepadCapability, Value = 1\r\n",
        L"GetCurrectUserName::alice Success\r\n",
        L"[ChangeValueInRegistry] GetCurrectUserName Result = 1\r\n",
        L"[ChangeValueInRegistry] RegistryPath = System\\CurrentControlSet\\Control\\Brindlex_PTP\r\n",
        L"[ChangeValueInRegistry] RegistryPath_CurrentUser = System\\CurrentControlSet\\Control\\Brindlex_PTP\\alice\r\n",
        L"[ChangeValueInRegistry] <== Exit ChangeValueInRegistry(), Result = 0\r\n",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(ChangeValueTest, WithNobodyAtTheConsoleOnlyTheValueInForceIsWritten) {
    EXPECT_FALSE(ChangeValueInRegistry(kValueForcepadCapability, 0));
    EXPECT_EQ(machine.registry.Dword(kInForce, L"ForcepadCapability"), 0u);
    EXPECT_TRUE(machine.registry.SubKeys(kInForce).empty());
    EXPECT_TRUE(Logged(L"[ChangeValueInRegistry] GetCurrectUserName Result = 0\r\n"));
    EXPECT_TRUE(Logged(
        L"[ChangeValueInRegistry] RegistryPath_CurrentUser = System\\CurrentControlSet\\Control\\Brindlex_PTP\\\r\n"));
}

TEST_F(ChangeValueTest, AUserWriteWithoutAUserNeverLandsAmongTheValuesInForce) {
    machine.sessions.AddSession(1, L"");  // the logon screen: a console session, nobody in it
    machine.sessions.SetConsoleSession(1);
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED, 1);  // the in-force write fails
    ChangeValueInRegistry(kValueForcepadCapability, 1);
    EXPECT_TRUE(Logged(L"[ChangeValueInRegistry] GetCurrectUserName Result = 1\r\n"));
    EXPECT_TRUE(Logged(L"[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath Fail, nStatus = 5\r\n"));
    EXPECT_FALSE(machine.registry.Dword(kInForce, L"ForcepadCapability").has_value());
    EXPECT_EQ(machine.faults.Uses("RegCreateKeyExW"), 1) << "no second open of the settings key";
}

TEST_F(ChangeValueTest, AFailedUserWriteIsLoggedAndTheValueInForceStands) {
    machine.sessions.LogOn(L"alice");
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED, 2);
    ChangeValueInRegistry(kValueForcepadCapability, 1);
    EXPECT_EQ(machine.registry.Dword(kInForce, L"ForcepadCapability"), 1u);
    EXPECT_FALSE(machine.registry.Dword(kAlice, L"ForcepadCapability").has_value());
    EXPECT_TRUE(
        Logged(L"[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath_CurrentUser Fail, nStatus = 5\r\n"));
}

}  // namespace
}  // namespace tavo::test
