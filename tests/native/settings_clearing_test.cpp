// Resetting every user's stored settings at stop: what lands in each subkey, what is left
// alone, and the subkeys that are skipped.
#include <gtest/gtest.h>

#include <string>

#include "native/companion_fixture.h"
#include "settings/settings_clearing.h"

namespace tavo::test {
namespace {

constexpr PalmSettings kCustomPalm{3, 11, 22, 33, 44};
constexpr ForcepadSettings kCustomForcepad{4, 0, 75, 2, 2, 0, 1, 0, 0};

class ClearingTest : public CompanionTest {
protected:
    std::wstring Sub(const std::wstring& name) const { return kSettingsKey + L"\\" + name; }
    void StoreForcepad(const std::wstring& key, const ForcepadSettings& r) {
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            machine.registry.SetDword(key, RecordLayout<ForcepadSettings>::fields[i].valueName,
                                      static_cast<win::DWORD>(Field(r, i)));
    }
    ForcepadSettings ForcepadAt(const std::wstring& key) const {
        ForcepadSettings r;
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i) {
            auto v = machine.registry.Dword(key, RecordLayout<ForcepadSettings>::fields[i].valueName);
            Field(r, i) = v ? static_cast<std::int32_t>(*v) : -2;
        }
        return r;
    }
    void ClearBoth(std::int32_t palmDefault) {
        EXPECT_EQ(ClearAllPalmSettings({palmDefault, 0, 0, 0, 0}), 1);
        EXPECT_EQ(ClearAllForcepadSettings(kForcepadDefaults), 1);
    }
};

TEST_F(ClearingTest, EverySubkeyGetsTheDefaultsAndNothingElseChanges) {
    // Users, and a subkey that is nobody's: all are reset alike.
    const std::wstring names[] = {L"alice", L"bob", L"not-a-user"};
    for (const auto& n : names) {
        Store(Sub(n), kCustomPalm);
        StoreForcepad(Sub(n), kCustomForcepad);
    }
    machine.registry.SetDword(Sub(L"alice"), L"ForcepadCapability", 1);
    Store(kSettingsKey, {1, 5, 6, 7, 8});
    struct Case {
        std::int32_t palmDefault;
    } cases[] = {{2}, {-1}};  // -1: the driver's PalmDefaultOption is missing
    for (const Case& c : cases) {
        SCOPED_TRACE(c.palmDefault);
        Mark();
        ClearBoth(c.palmDefault);
        for (std::size_t i = 0; i < std::size(names); ++i) {
            EXPECT_EQ(PalmAt(Sub(names[i])), (PalmSettings{c.palmDefault, 0, 0, 0, 0}));
            EXPECT_EQ(ForcepadAt(Sub(names[i])), kForcepadDefaults);
            const int n = static_cast<int>(i + 1);
            const std::wstring path = L"System\\CurrentControlSet\\Control\\Brindlex_PTP\\" + names[i];
            EXPECT_TRUE(Has(L"(" + std::to_wstring(n) + L") Path : " + path + L" is Clear\r\n"));
            EXPECT_TRUE(Has(L"[ClearAllForcepadSettings] (" + std::to_wstring(n) + L") Path : " + path +
                            L" is Clear\r\n"));
        }
        EXPECT_EQ(InForce(), (PalmSettings{1, 5, 6, 7, 8})) << "the values in force are left to the stop's decisions";
        EXPECT_EQ(machine.registry.Dword(Sub(L"alice"), L"ForcepadCapability"), 1u);
    }
}

TEST_F(ClearingTest, SubkeysThatCannotBeClearedAreSkippedAndTheRestAreCleared) {
    // 45 characters of key path and a backslash leave 208 for a name in 255 with its end.
    const std::wstring fits(208, L'f');
    const std::wstring tooLong(209, L'l');
    const std::wstring unlisted(255, L'u');  // longer than the enumeration's name buffer
    for (const auto& n : {std::wstring(L"alice"), fits, tooLong, unlisted, std::wstring(L"zed")})
        Store(Sub(n), kCustomPalm);
    ClearBoth(2);
    const PalmSettings cleared{2, 0, 0, 0, 0};
    EXPECT_EQ(PalmAt(Sub(L"alice")), cleared);
    EXPECT_EQ(PalmAt(Sub(fits)), cleared);
    EXPECT_EQ(PalmAt(Sub(L"zed")), cleared);
    EXPECT_EQ(PalmAt(Sub(tooLong)), kCustomPalm) << "skipped, not cut into another key's path";
    EXPECT_EQ(PalmAt(Sub(unlisted)), kCustomPalm);
    // Subkeys come sorted: alice, fff..., lll..., uuu..., zed.
    EXPECT_TRUE(Has(L"(3) SubKeyName[2] is too long, skipped\r\n"));
    EXPECT_TRUE(Has(L"[ClearAllForcepadSettings] (3) SubKeyName[2] is too long, skipped\r\n"));
    EXPECT_TRUE(Has(L"(4) SubKeyName[3] is NULL\r\n"));
    EXPECT_TRUE(Has(L"[ClearAllForcepadSettings] (4) SubKeyName[3] is NULL\r\n"));
}

TEST_F(ClearingTest, NothingToClear) {
    struct Case {
        const char* name;
        bool settingsKey;
        const wchar_t* line;  // logged, or null for nothing logged at all
    } cases[] = {{"no subkeys", true, L"Number of subkeys: 0\r\n"}, {"no settings key", false, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.registry.DeleteKey(kSettingsKey);
        if (c.settingsKey) Store(kSettingsKey, {1, 5, 6, 7, 8});
        Mark();
        ClearBoth(2);
        if (c.line) {
            EXPECT_EQ(Count(c.line), 2);
        } else {
            EXPECT_TRUE(Lines().empty());
        }
        EXPECT_EQ(machine.registry.KeyExists(kSettingsKey), c.settingsKey) << "never created";
        if (c.settingsKey) {
            EXPECT_EQ(InForce(), (PalmSettings{1, 5, 6, 7, 8}));
        }
    }
}

TEST_F(ClearingTest, ASubkeyThatDoesNotOpenIsSkippedQuietly) {
    Store(Sub(L"alice"), kCustomPalm);
    Store(Sub(L"bob"), kCustomPalm);
    // The settings key opens first, then alice's subkey: that one fails.
    machine.faults.Fail("RegOpenKeyExW", win::ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(ClearAllPalmSettings({2, 0, 0, 0, 0}), 1);
    EXPECT_EQ(PalmAt(Sub(L"alice")), kCustomPalm);
    EXPECT_EQ(PalmAt(Sub(L"bob")), (PalmSettings{2, 0, 0, 0, 0}));
    EXPECT_FALSE(Has(L"(1) Path : System\\CurrentControlSet\\Control\\Brindlex_PTP\\alice is Clear\r\n"));
}

}  // namespace
}  // namespace tavo::test
