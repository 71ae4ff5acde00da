// Registry change notification, as the toggle-flag monitor uses it: which writes set the
// registered event, and that each registration is used up by one. Wine signals within a
// few milliseconds; a wait of two seconds says "it fired", one of a fifth says "it did not".
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace {

using namespace win;

constexpr wchar_t kRoot[] = L"Software\\TavoContractNotify";
constexpr DWORD kFired = 2000;
constexpr DWORD kQuiet = 200;

class RegistryNotify : public ::testing::Test {
public:
    void SetUp() override {
        contract::InstallPlatform();
        Reg().RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_ALL_ACCESS, writer.put(), nullptr), 0);
        ASSERT_EQ(Reg().RegCreateKeyExW(writer.get(), L"alice", 0, KEY_ALL_ACCESS, sub.put(), nullptr), 0);
        SetDword(writer.get(), L"AABB", 0);
        ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_NOTIFY, watched.put()), 0);
        ASSERT_EQ(Sync().CreateEventW(nullptr, true, false, nullptr, event.put(), nullptr), ERROR_SUCCESS);
    }
    void TearDown() override {
        watched.reset();
        sub.reset();
        writer.reset();
        event.reset();
        Reg().RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        contract::UninstallPlatform();
    }
    static void SetDword(HKEY key, const wchar_t* name, DWORD v) {
        ASSERT_EQ(Reg().RegSetValueExW(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), 0);
    }
    LSTATUS Register(bool subtree, DWORD filter = REG_NOTIFY_CHANGE_LAST_SET) {
        return Reg().RegNotifyChangeKeyValue(watched.get(), subtree, filter, event.get(), true);
    }
    bool Fired(DWORD ms) {
        DWORD error = 0;
        return Sync().WaitForSingleObject(event.get(), ms, &error) == WAIT_OBJECT_0;
    }

    UniqueHKey writer, sub, watched;
    UniqueEvent event;
};

struct NotifyCase {
    const char* name;
    bool subtree;
    DWORD filter;
    std::function<void(RegistryNotify&)> change;
    bool fires;
};

class RegistryNotifyCases : public RegistryNotify, public testing::WithParamInterface<NotifyCase> {};

TEST_P(RegistryNotifyCases, TheRegisteredEventIsSetOnlyByAChangeTheFilterNames) {
    const NotifyCase& c = GetParam();
    ASSERT_EQ(Register(c.subtree, c.filter), 0);
    EXPECT_FALSE(Fired(0)) << "nothing changed yet";
    c.change(*this);
    EXPECT_EQ(Fired(c.fires ? kFired : kQuiet), c.fires);
}

INSTANTIATE_TEST_SUITE_P(
    Generic, RegistryNotifyCases,
    testing::Values(
        NotifyCase{"AValueChanged", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.SetDword(t.writer.get(), L"AABB", 1); }, true},
        NotifyCase{"AnotherValueAdded", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.SetDword(t.writer.get(), L"PalmCheckLevel", 3); }, true},
        NotifyCase{"TheSameDataAgain", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.SetDword(t.writer.get(), L"AABB", 0); }, false},
        NotifyCase{"AValueDeleted", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { ASSERT_EQ(Reg().RegDeleteValueW(t.writer.get(), L"AABB"), 0); }, true},
        NotifyCase{"ASubkeysValueWithoutSubtree", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.SetDword(t.sub.get(), L"PalmCheckLevel", 3); }, false},
        NotifyCase{"ASubkeysValueWithSubtree", true, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.SetDword(t.sub.get(), L"PalmCheckLevel", 3); }, true},
        NotifyCase{"ASubkeyCreatedUnderValuesOnly", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) {
                       UniqueHKey k;
                       ASSERT_EQ(Reg().RegCreateKeyExW(t.writer.get(), L"bob", 0, KEY_ALL_ACCESS, k.put(), nullptr), 0);
                   },
                   false},
        NotifyCase{"ASubkeyCreatedUnderNames", false, REG_NOTIFY_CHANGE_NAME,
                   [](RegistryNotify& t) {
                       UniqueHKey k;
                       ASSERT_EQ(Reg().RegCreateKeyExW(t.writer.get(), L"bob", 0, KEY_ALL_ACCESS, k.put(), nullptr), 0);
                   },
                   true},
        NotifyCase{"TheWatchedHandleClosed", false, REG_NOTIFY_CHANGE_LAST_SET,
                   [](RegistryNotify& t) { t.watched.reset(); }, true}),
    [](const testing::TestParamInfo<NotifyCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryNotify, ARegistrationFiresOnceAndANewOneIsNeededForTheNextChange) {
    ASSERT_EQ(Register(false), 0);
    SetDword(writer.get(), L"AABB", 1);
    ASSERT_TRUE(Fired(kFired));
    ASSERT_EQ(Sync().ResetEvent(event.get()), ERROR_SUCCESS);
    SetDword(writer.get(), L"AABB", 0);
    EXPECT_FALSE(Fired(kQuiet)) << "the registration was used up";
    ASSERT_EQ(Register(false), 0);
    SetDword(writer.get(), L"AABB", 1);
    EXPECT_TRUE(Fired(kFired));
}

TEST_F(RegistryNotify, RegistrationNeedsNotifyAccessAndAnEvent) {
    UniqueHKey readOnly;
    ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_QUERY_VALUE, readOnly.put()), 0);
    EXPECT_EQ(Reg().RegNotifyChangeKeyValue(readOnly.get(), false, REG_NOTIFY_CHANGE_LAST_SET, event.get(), true),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    HANDLE closed;
    {
        UniqueEvent gone;
        ASSERT_EQ(Sync().CreateEventW(nullptr, true, false, nullptr, gone.put(), nullptr), ERROR_SUCCESS);
        closed = gone.get();
    }
    EXPECT_EQ(Reg().RegNotifyChangeKeyValue(watched.get(), false, REG_NOTIFY_CHANGE_LAST_SET, closed, true),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
}

}  // namespace
