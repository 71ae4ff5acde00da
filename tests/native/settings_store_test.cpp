// The settings store against the simulated machine: where records land, what comes back,
// what is logged, and that no path leaks a key or overruns a buffer.
#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "native/sim_fixture.h"
#include "platform/handles.h"
#include "settings/settings_store.h"

namespace tavo::test {
namespace {

constexpr wchar_t kKey[] = L"HKLM\\System\\CurrentControlSet\\Control\\Brindlex_PTP";
const std::wstring kPath = L"System\\CurrentControlSet\\Control\\Brindlex_PTP";

class SettingsStoreTest : public SimTest {
protected:
    void SetUp() override { RecordTrace(); }
    void TearDown() override {
        EXPECT_EQ(machine.handles.OpenCount("HKEY"), 0) << "every path closes the keys it opened";
    }
    // Value names of a key in the order they were created.
    std::vector<std::wstring> ValueNames(const std::wstring& subKey) const {
        std::vector<std::wstring> names;
        win::UniqueHKey key;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, subKey.c_str(), 0, win::KEY_READ, key.put()) != 0)
            return names;
        for (win::DWORD i = 0;; ++i) {
            wchar_t name[128];
            win::DWORD len = 128;
            if (win::Reg().RegEnumValueW(key.get(), i, name, &len, nullptr, nullptr, nullptr) != 0) break;
            names.emplace_back(name, len);
        }
        return names;
    }
    std::int32_t Stored(const std::wstring& keyPath, const wchar_t* name) const {
        auto v = machine.registry.Dword(keyPath, name);
        return v ? static_cast<std::int32_t>(*v) : 12345;
    }

};

const std::vector<std::wstring> kPalmNames = {L"PalmCheck_Level", L"PalmCheck_Range_Up", L"PalmCheck_Range_Down",
                                              L"PalmCheck_Range_Left", L"PalmCheck_Range_Right"};
const std::vector<std::wstring> kForcepadNames = {
    L"CurrentControlItem",
    L"HapticEnabled",
    L"HapticFeedbackCheckSlider",
    L"FingerDetectionForceCheckOption",
    L"ClickForceCheckOption",
    L"UseTopZoneAsVadavAreduButtonsEnabled",
    L"VadavAreduButtonClickForceCheckOption",
    L"UseTopZoneAsVadavAreduButtonsNotGrayOut",
    L"UseTopZoneAsVadavAreduButtonsPreviousManualStatus"};

// ---- round trips ------------------------------------------------------------------------

TEST_F(SettingsStoreTest, UserRoundTripKeepsNegativeFieldsAndTouchesOnlyTheUsersSubkey) {
    machine.sessions.LogOn(L"alice");
    PalmSettings palm{4, -7, INT_MIN, 0, INT_MAX};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"GetCurrectUserName::alice Success\r\n",
                           L"SyncTouchpadSettings(SYNC_WRITE)::Registry Path : " + kPath + L"\\alice\r\n",
                           L"SyncTouchpadSettings::Save Registry\r\n",
                           L"Palm Check Option = Custom(4); Up=-7, Down=-2147483648, Left=0, Right=2147483647\r\n",
                       }));
    const std::wstring user = std::wstring(kKey) + L"\\alice";
    EXPECT_EQ(ValueNames(kPath + L"\\alice"), kPalmNames) << "written in record order";
    EXPECT_EQ(machine.registry.Value(user, L"PalmCheck_Range_Up")->type, win::REG_DWORD);
    EXPECT_TRUE(ValueNames(kPath).empty()) << "the values in force are not touched";

    PalmSettings back{99, 99, 99, 99, 99};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, back), 1);
    EXPECT_EQ(back, palm);
    EXPECT_TRUE(Has(L"SyncTouchpadSettings::Read Registry\r\n"));

    ForcepadSettings fp{-1, 1, -100, 2, INT_MIN, 0, 1, -2, INT_MAX};
    EXPECT_EQ(SyncForcepadSettings(SYNC_WRITE, fp), 1);
    EXPECT_EQ(ValueNames(kPath + L"\\alice"),
              [] {
                  auto all = kPalmNames;
                  all.insert(all.end(), kForcepadNames.begin(), kForcepadNames.end());
                  return all;
              }());
    ForcepadSettings fpBack{};
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ, fpBack), 1);
    EXPECT_EQ(fpBack, fp);
}

TEST_F(SettingsStoreTest, InForceRoundTripNeedsNoUserAndLogsEnterAndExit) {
    // Nobody at the console: the values in force are still reachable.
    ForcepadSettings fp{3, -1, 75, -5, 2, 1, 0, 1, -9};
    EXPECT_EQ(SyncForcepadSettings(SYNC_WRITE_LAST, fp), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"Enter ==> SyncForcepadSettings\r\n",
                           L"SyncForcepadSettings(SYNC_WRITE_LAST)::Registry Path : " + kPath + L"\r\n",
                           L"SyncForcepadSettings::Save Registry\r\n",
                           L"Exit <== SyncForcepadSettings\r\n",
                       }));
    EXPECT_EQ(ValueNames(kPath), kForcepadNames);
    EXPECT_EQ(Stored(kKey, L"UseTopZoneAsVadavAreduButtonsPreviousManualStatus"), -9);

    ForcepadSettings back{};
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ_LAST, back), 1);
    EXPECT_EQ(back, fp);
    EXPECT_TRUE(Has(L"SyncForcepadSettings::Read Registry\r\n"));

    PalmSettings palm{5, -1, -2, -3, -4};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE_LAST, palm), 1);
    PalmSettings palmBack{};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ_LAST, palmBack), 1);
    EXPECT_EQ(palmBack, palm);
    EXPECT_TRUE(Has(L"Palm Check Option = Dynamic Palm(5); Up=-1, Down=-2, Left=-3, Right=-4\r\n"));
}

TEST_F(SettingsStoreTest, LiveRecordsLoadFromTheValuesInForce) {
    machine.registry.Import(LR"(
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP]
"PalmCheck_Level"=dword:00000002
"PalmCheck_Range_Up"=dword:ffffffff
"CurrentControlItem"=dword:00000004
"HapticFeedbackCheckSlider"=dword:00000019
)");
    EXPECT_EQ(livePalmSettings.Load(), PalmSettings{}) << "live records start at zero";
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ_LAST, livePalmSettings), 1);
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ_LAST, liveForcepadSettings), 1);
    EXPECT_EQ(livePalmSettings.Load(), (PalmSettings{2, -1, -1, -1, -1}));
    EXPECT_EQ(liveForcepadSettings.Load(), (ForcepadSettings{4, -1, 25, -1, -1, -1, -1, -1, -1}));
    EXPECT_TRUE(Has(L"Palm Check Option = Medium(2); Up=-1, Down=-1, Left=-1, Right=-1\r\n"));

    // A key that cannot be opened leaves the live record as it was.
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ_LAST, livePalmSettings), 0);
    EXPECT_EQ(livePalmSettings.Load(), (PalmSettings{2, -1, -1, -1, -1}));
}

// ---- what a read finds --------------------------------------------------------------------

TEST_F(SettingsStoreTest, FreshSystemReadsAllMinusOneAndLeavesAnEmptyUserSubkey) {
    machine.sessions.LogOn(L"bob");
    PalmSettings palm{1, 2, 3, 4, 5};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 1);
    EXPECT_EQ(palm, (PalmSettings{-1, -1, -1, -1, -1}));
    EXPECT_TRUE(Has(L"Palm Check Option = Unknow Palm Level(-1); Up=-1, Down=-1, Left=-1, Right=-1\r\n"));
    ForcepadSettings fp{1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ, fp), 1);
    EXPECT_EQ(fp, (ForcepadSettings{-1, -1, -1, -1, -1, -1, -1, -1, -1}));

    EXPECT_EQ(machine.registry.SubKeys(kKey), std::vector<std::wstring>{L"bob"});
    EXPECT_TRUE(ValueNames(kPath + L"\\bob").empty()) << "a read creates the subkey but writes nothing";
}

TEST_F(SettingsStoreTest, ValuesThatAreNotFourByteDwordsReadAsMinusOne) {
    machine.registry.Import(LR"(
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP]
"PalmCheck_Level"="3"
"PalmCheck_Range_Up"=hex(b):02,00,00,00,00,00,00,00
"PalmCheck_Range_Down"=hex:07,00,00,00
"PalmCheck_Range_Left"=hex(4):07,00
"PalmCheck_Range_Right"=dword:fffffff0
"HapticEnabled"=hex(5):00,00,00,01
)");
    PalmSettings palm{};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ_LAST, palm), 1);
    // REG_SZ, REG_QWORD, REG_BINARY of DWORD size, a 2-byte REG_DWORD; only the last is a number.
    EXPECT_EQ(palm, (PalmSettings{-1, -1, -1, -1, -16}));

    win::UniqueHKey key;
    ASSERT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kPath.c_str(), 0, win::KEY_READ, key.put()), 0);
    EXPECT_EQ(ReadRegistryDword(key.get(), L"HapticEnabled"), -1) << "big-endian DWORD is another type";
    EXPECT_EQ(ReadRegistryDword(key.get(), L"Missing"), -1);
    EXPECT_EQ(ReadRegistryDword(key.get(), L"PalmCheck_Range_Right"), -16);
    machine.faults.Fail("RegQueryValueExW", win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadRegistryDword(key.get(), L"PalmCheck_Range_Right"), -1);
}

TEST_F(SettingsStoreTest, UnknownModeOpensTheSettingsKeyButNeitherReadsNorWrites) {
    machine.sessions.LogOn(L"carol");
    PalmSettings palm{3, 1, 2, 3, 4};
    EXPECT_EQ(SyncTouchpadSettings(4, palm), 1);
    EXPECT_EQ(palm, (PalmSettings{3, 1, 2, 3, 4}));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"SyncTouchpadSettings(Unknow Sync Mode)::Registry Path : " + kPath + L"\r\n",
                           L"Palm Check Option = High(3); Up=1, Down=2, Left=3, Right=4\r\n",
                       }));
    EXPECT_TRUE(machine.registry.KeyExists(kKey)) << "opened with create semantics";
    EXPECT_TRUE(ValueNames(kPath).empty());

    ForcepadSettings fp{7, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(SyncForcepadSettings(-1, fp), 1);
    EXPECT_EQ(fp, (ForcepadSettings{7, 7, 7, 7, 7, 7, 7, 7, 7}));
    EXPECT_FALSE(Has(L"SyncForcepadSettings::Read Registry\r\n"));
    EXPECT_FALSE(Has(L"SyncForcepadSettings::Save Registry\r\n"));
    EXPECT_TRUE(Has(L"SyncForcepadSettings(Unknow Sync Mode)::Registry Path : " + kPath + L"\r\n"));
    EXPECT_TRUE(ValueNames(kPath).empty());
}

// ---- failures -----------------------------------------------------------------------------

TEST_F(SettingsStoreTest, UserModesFailWithoutAConsoleSession) {
    PalmSettings palm{1, 1, 1, 1, 1};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"GetCurrectUserName::Get Active SessionId Fail\r\n",
                                                  L"SyncTouchpadSettings::Get User Name fail\r\n"}));
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 0);
    EXPECT_EQ(palm, (PalmSettings{1, 1, 1, 1, 1}));

    Mark();
    ForcepadSettings fp{};
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ, fp), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"Enter ==> SyncForcepadSettings\r\n",
                                                  L"GetCurrectUserName::Get Active SessionId Fail\r\n",
                                                  L"SyncForcepadSettings::Get User Name fail\r\n"}))
        << "no exit line after a user-name failure";
    EXPECT_FALSE(machine.registry.KeyExists(kKey)) << "nothing was opened";

    // The console's session exists but cannot be queried.
    machine.sessions.LogOn(L"dave");
    machine.faults.Fail("WTSQuerySessionInformationW", win::ERROR_ACCESS_DENIED);
    Mark();
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"GetCurrectUserName::Fail, Cannot Get Username\r\n",
                                                  L"SyncTouchpadSettings::Get User Name fail\r\n"}));
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE_LAST, palm), 1) << "in force needs no user";
}

TEST_F(SettingsStoreTest, KeyThatCannotBeOpenedReturnsByModeAndLeavesTheRecord) {
    machine.sessions.LogOn(L"erin");
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED);
    PalmSettings palm{2, 2, 2, 2, 2};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 1);
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 1);
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ_LAST, palm), 0);
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE_LAST, palm), 0);
    EXPECT_EQ(palm, (PalmSettings{2, 2, 2, 2, 2}));
    for (const auto& line : Lines()) EXPECT_EQ(line.find(L"Palm Check Option"), std::wstring::npos) << "no summary";

    Mark();
    ForcepadSettings fp{};
    EXPECT_EQ(SyncForcepadSettings(SYNC_READ_LAST, fp), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"Enter ==> SyncForcepadSettings\r\n",
                           L"SyncForcepadSettings(SYNC_READ_LAST)::Registry Path : " + kPath + L"\r\n",
                           L"Exit <== SyncForcepadSettings\r\n",
                       }));
    EXPECT_EQ(SyncForcepadSettings(SYNC_WRITE, fp), 1);
    EXPECT_EQ(fp, ForcepadSettings{});
}

TEST_F(SettingsStoreTest, AFailedValueWriteIsSkippedAndTheRestAreWritten) {
    machine.faults.Fail("RegSetValueExW", win::ERROR_ACCESS_DENIED, 2);
    PalmSettings palm{1, 10, 20, 30, 40};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE_LAST, palm), 1);
    EXPECT_TRUE(Has(L"SyncTouchpadSettings::Save Registry\r\n"));
    EXPECT_EQ(ValueNames(kPath), (std::vector<std::wstring>{L"PalmCheck_Level", L"PalmCheck_Range_Down",
                                                            L"PalmCheck_Range_Left", L"PalmCheck_Range_Right"}));
    EXPECT_EQ(Stored(kKey, L"PalmCheck_Range_Right"), 40);
}

// ---- user names that do not make a usable path ---------------------------------------------

TEST_F(SettingsStoreTest, EmptyUserNameIsRefusedSoTheValuesInForceAreNotTouched) {
    // The logon screen: a console session without a user.
    machine.sessions.AddSession(1, L"", win::WTSConnected);
    machine.sessions.SetConsoleSession(1);
    machine.registry.SetDword(kKey, L"PalmCheck_Level", 3);

    std::array<wchar_t, kUserNameChars> name;
    name.fill(L'#');
    EXPECT_EQ(GetCurrectUserName(name), 1) << "no user is not a failure of the name query";
    EXPECT_EQ(name[0], L'\0');
    EXPECT_TRUE(Has(L"GetCurrectUserName:: Success\r\n"));

    PalmSettings palm{0, 0, 0, 0, 0};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 0);
    EXPECT_EQ(Stored(kKey, L"PalmCheck_Level"), 3) << "a user write must not land on the values in force";
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 0);
    EXPECT_EQ(palm, PalmSettings{}) << "nor may a user read come from them";
    EXPECT_TRUE(Has(L"SyncTouchpadSettings::Get User Name fail\r\n"));
    ForcepadSettings fp{};
    EXPECT_EQ(SyncForcepadSettings(SYNC_WRITE, fp), 0);
    EXPECT_TRUE(Has(L"SyncForcepadSettings::Get User Name fail\r\n"));
    EXPECT_EQ(ValueNames(kPath), std::vector<std::wstring>{L"PalmCheck_Level"});
}

TEST_F(SettingsStoreTest, UserNameCopyNeverOverrunsItsBuffer) {
    // A canary region behind the buffer the function is given.
    std::array<wchar_t, kUserNameChars + 8> storage;
    storage.fill(L'#');
    std::span<wchar_t> buffer(storage.data(), kUserNameChars);
    auto canaryIntact = [&] {
        return std::all_of(storage.begin() + kUserNameChars, storage.end(), [](wchar_t c) { return c == L'#'; });
    };

    machine.sessions.LogOn(std::wstring(kUserNameChars - 1, L'u'));
    EXPECT_EQ(GetCurrectUserName(buffer), 1) << "511 characters and the terminator fit";
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(kUserNameChars - 1, L'u'));
    EXPECT_TRUE(canaryIntact());

    machine.sessions.LogOn(std::wstring(kUserNameChars, L'v'));
    EXPECT_EQ(GetCurrectUserName(buffer), 0) << "a name that does not fit is refused, not cut";
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_TRUE(canaryIntact());
    EXPECT_TRUE(Has(L"GetCurrectUserName::Fail, Cannot Get Username\r\n"));

    // A smaller caller buffer is honoured too.
    machine.sessions.LogOn(L"frank");
    std::array<wchar_t, 6> exact;
    EXPECT_EQ(GetCurrectUserName(exact), 1);
    EXPECT_EQ(std::wstring(exact.data()), L"frank");
    std::array<wchar_t, 5> tooSmall;
    EXPECT_EQ(GetCurrectUserName(tooSmall), 0);
}

TEST_F(SettingsStoreTest, LongUserNamesNeverReachBeyondThePathBuffer) {
    // 45 + 1 + 470 characters do not fit the 512-character path: refused before any open.
    machine.sessions.LogOn(std::wstring(470, L'w'));
    PalmSettings palm{1, 2, 3, 4, 5};
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 0);
    EXPECT_TRUE(Has(L"SyncTouchpadSettings::Get User Name fail\r\n"));
    EXPECT_EQ(machine.faults.Uses("RegCreateKeyExW"), 0);

    // 300 characters fit the path, but no key name may exceed 255: the open fails as on
    // Windows and the record stays as it was.
    machine.sessions.LogOn(std::wstring(300, L'x'));
    Mark();
    EXPECT_EQ(SyncTouchpadSettings(SYNC_READ, palm), 1);
    EXPECT_EQ(palm, (PalmSettings{1, 2, 3, 4, 5}));
    EXPECT_FALSE(Has(L"SyncTouchpadSettings::Read Registry\r\n"));
    EXPECT_TRUE(machine.registry.SubKeys(kKey).empty());

    // The longest valid key name works.
    machine.sessions.LogOn(std::wstring(255, L'y'));
    EXPECT_EQ(SyncTouchpadSettings(SYNC_WRITE, palm), 1);
    EXPECT_EQ(Stored(std::wstring(kKey) + L"\\" + std::wstring(255, L'y'), L"PalmCheck_Range_Right"), 5);
}

// ---- sharing -------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, ConcurrentSyncsInterleaveValueByValue) {
    machine.sessions.LogOn(L"grace");
    const PalmSettings a{1, 11, 21, 31, 41};
    const PalmSettings b{2, 12, 22, 32, 42};
    auto worker = [&](PalmSettings mine) {
        for (int i = 0; i < 50; ++i) {
            SyncTouchpadSettings(SYNC_WRITE_LAST, mine);
            SyncTouchpadSettings(SYNC_READ_LAST, livePalmSettings);
            PalmSettings user = mine;
            SyncTouchpadSettings(SYNC_WRITE, user);
        }
    };
    std::thread t1(worker, a), t2(worker, b);
    t1.join();
    t2.join();
    // Each value is one writer's; never a torn or foreign number.
    PalmSettings live = livePalmSettings.Load();
    for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i)
        EXPECT_TRUE(Field(live, i) == Field(a, i) || Field(live, i) == Field(b, i)) << "field " << i;
}

// ---- registry helpers ------------------------------------------------------------------------

TEST_F(SettingsStoreTest, StringReadsGiveTheTextOfStringTypesOnly) {
    const std::wstring k = L"HKLM\\Software\\Strings";
    machine.registry.SetString(k, L"Sz", L"1.2.3");
    machine.registry.SetString(k, L"Expand", L"%SystemRoot%\\inf", win::REG_EXPAND_SZ);
    machine.registry.SetDword(k, L"Dword", 5);
    machine.registry.SetRaw(k, L"None", win::REG_NONE, {0x41, 0, 0, 0});
    machine.registry.SetRaw(k, L"Empty", win::REG_SZ, {});
    std::wstring multi = std::wstring(L"first") + L'\0' + L"second" + L'\0' + L'\0';
    machine.registry.SetRaw(k, L"Multi", win::REG_MULTI_SZ,
                            std::vector<win::BYTE>(reinterpret_cast<const win::BYTE*>(multi.data()),
                                                   reinterpret_cast<const win::BYTE*>(multi.data() + multi.size())));
    // Stored without a terminator: only the stored bytes count.
    std::wstring raw = L"abc";
    machine.registry.SetRaw(k, L"Unterminated", win::REG_SZ,
                            std::vector<win::BYTE>(reinterpret_cast<const win::BYTE*>(raw.data()),
                                                   reinterpret_cast<const win::BYTE*>(raw.data() + raw.size())));
    // One character more than the 1024-byte buffer holds without a terminator.
    std::wstring full(kRegistryStringChars, L'f');
    machine.registry.SetRaw(k, L"Full", win::REG_SZ,
                            std::vector<win::BYTE>(reinterpret_cast<const win::BYTE*>(full.data()),
                                                   reinterpret_cast<const win::BYTE*>(full.data() + full.size())));
    machine.registry.SetString(k, L"Longest", std::wstring(kRegistryStringChars - 1, L'l'));
    machine.registry.SetString(k, L"TooLong", std::wstring(kRegistryStringChars, L't'));

    win::UniqueHKey key;
    ASSERT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"Software\\Strings", 0, win::KEY_READ, key.put()), 0);
    EXPECT_EQ(ReadRegistryString(key.get(), L"Sz"), L"1.2.3");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Expand"), L"%SystemRoot%\\inf");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Multi"), L"first");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Unterminated"), L"abc");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Full"), full) << "exactly the buffer, no terminator needed";
    EXPECT_EQ(ReadRegistryString(key.get(), L"Longest"), std::wstring(kRegistryStringChars - 1, L'l'));
    EXPECT_EQ(ReadRegistryString(key.get(), L"TooLong"), L"");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Dword"), L"");
    EXPECT_EQ(ReadRegistryString(key.get(), L"None"), L"");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Empty"), L"");
    EXPECT_EQ(ReadRegistryString(key.get(), L"Missing"), L"");
}

TEST_F(SettingsStoreTest, EnumerationListsSubkeysAndValuesAndLeavesUnreadableSlotsEmpty) {
    machine.registry.Import(LR"(
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP\zed]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP\Amy]
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP]
"AABB"=dword:00000001
)");
    const std::wstring tooLongForTheBuffer(255, L'm');  // a valid key name, one over the buffer
    machine.registry.SetDword(std::wstring(kKey) + L"\\" + tooLongForTheBuffer, L"v", 1);

    win::UniqueHKey key;
    ASSERT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kPath.c_str(), 0, win::KEY_READ, key.put()), 0);
    std::vector<std::wstring> names{L"stale"};
    EXPECT_EQ(EnumerateSubKeys(key.get(), &names), 3);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Amy", L"", L"zed"}));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"Number of subkeys: 3\r\n", L"(1) Amy\r\n", L"(3) zed\r\n",
                                                  L"Number of values: 1\r\n", L"(1) AABB\r\n"}));

    // A failure at one index leaves only that slot empty.
    machine.faults.Fail("RegEnumKeyExW", win::ERROR_ACCESS_DENIED, 3);
    EXPECT_EQ(EnumerateSubKeys(key.get(), &names), 3);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Amy", L"", L""}));

    // A key that cannot be queried lists nothing.
    machine.faults.Fail("RegQueryInfoKeyW", win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(EnumerateSubKeys(key.get(), &names), 0);
    EXPECT_TRUE(names.empty());
}

TEST_F(SettingsStoreTest, EnumerationStopsAt1024Subkeys) {
    for (int i = 0; i < 1030; ++i) machine.registry.SetDword(std::wstring(kKey) + L"\\u" + std::to_wstring(i), L"v", 1);
    win::UniqueHKey key;
    ASSERT_EQ(win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kPath.c_str(), 0, win::KEY_READ, key.put()), 0);
    std::vector<std::wstring> names;
    EXPECT_EQ(EnumerateSubKeys(key.get(), &names), 1024);
    EXPECT_EQ(names.size(), 1024u);
    EXPECT_TRUE(Has(L"Number of subkeys: 1030\r\n"));
    EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::wstring& n) { return n.empty(); }));
}

}  // namespace
}  // namespace tavo::test
