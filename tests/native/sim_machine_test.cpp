// The simulated machine must behave as Windows does where the contract tests cannot
// reach (Wine has no equivalent to compare with, or the case needs a set-up hook).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/machine.h"

namespace {

TEST(SimScm, DeletionWaitsForStopAndForTheLastHandle) {
    sim::Machine m;
    m.Install();
    win::SC_HANDLE manager{}, service{};
    ASSERT_EQ(m.scm.OpenSCManagerW(win::SC_MANAGER_ALL_ACCESS, &manager), 0u);
    ASSERT_EQ(m.scm.CreateServiceW(manager, L"Svc", L"Svc", 0xF01FF, 0x10, 3, 1, L"\"C:\\a.exe\"", &service), 0u);
    ASSERT_EQ(m.scm.StartServiceW(service), 0u);
    EXPECT_EQ(m.scm.StartServiceW(service), win::ERROR_SERVICE_ALREADY_RUNNING);
    ASSERT_EQ(m.scm.DeleteService(service), 0u);
    EXPECT_EQ(m.scm.DeleteService(service), win::ERROR_SERVICE_MARKED_FOR_DELETE);
    win::SC_HANDLE again{};
    EXPECT_EQ(m.scm.CreateServiceW(manager, L"SVC", L"x", 0, 0x10, 3, 1, L"x", &again),
              win::ERROR_SERVICE_MARKED_FOR_DELETE);
    m.scm.CloseServiceHandle(service);
    EXPECT_TRUE(m.scm.Service(L"Svc").has_value()) << "still running";
    ASSERT_EQ(m.scm.OpenServiceW(manager, L"svc", win::SERVICE_STOP, &service), 0u);
    win::SERVICE_STATUS st{};
    EXPECT_EQ(m.scm.ControlService(service, win::SERVICE_CONTROL_STOP, &st), 0u);
    EXPECT_EQ(st.dwCurrentState, win::SERVICE_STOPPED);
    EXPECT_TRUE(m.scm.Service(L"Svc").has_value()) << "a handle is still open";
    m.scm.CloseServiceHandle(service);
    EXPECT_FALSE(m.scm.Service(L"Svc").has_value());
    EXPECT_EQ(m.scm.OpenServiceW(manager, L"Svc", 0, &service), win::ERROR_SERVICE_DOES_NOT_EXIST);
    m.scm.CloseServiceHandle(manager);
    EXPECT_EQ(m.handles.OpenCount(), 0);
}

TEST(SimScm, AccessRightsAreChecked) {
    sim::Machine m;
    win::SC_HANDLE manager{}, service{};
    ASSERT_EQ(m.scm.OpenSCManagerW(win::SC_MANAGER_CONNECT, &manager), 0u);
    EXPECT_EQ(m.scm.CreateServiceW(manager, L"S", L"S", 0, 0x10, 3, 1, L"x", &service), win::ERROR_ACCESS_DENIED);
    sim::ServiceRecord r;
    r.name = L"S";
    r.status.dwCurrentState = win::SERVICE_RUNNING;
    m.scm.AddService(r);
    ASSERT_EQ(m.scm.OpenServiceW(manager, L"S", win::SERVICE_QUERY_STATUS, &service), 0u);
    win::SERVICE_STATUS st{};
    EXPECT_EQ(m.scm.ControlService(service, win::SERVICE_CONTROL_STOP, &st), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(m.scm.DeleteService(service), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(m.scm.ChangeServiceDescription(service, L"d"), win::ERROR_ACCESS_DENIED);
    m.scm.CloseServiceHandle(service);
    m.scm.CloseServiceHandle(manager);
}

TEST(SimRegistry, ImportReadsLikeADriverPackage) {
    sim::Machine m;
    m.registry.Import(LR"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP]
"DisableEventLog"=dword:00000001
"Name"="Touch \"pad\""
@="default"
"Blob"=hex:01,02,\
  03
"Q"=hex(b):01,00,00,00,00,00,00,00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Brindlex_PTP\User1]
)");
    const wchar_t* key = L"HKLM\\System\\CurrentControlSet\\Control\\Brindlex_PTP";
    EXPECT_EQ(m.registry.Dword(key, L"disableeventlog"), 1u);
    auto name = m.registry.Value(key, L"Name");
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(name->data.data())), L"Touch \"pad\"");
    EXPECT_EQ(m.registry.Value(key, L"Blob")->data, (std::vector<win::BYTE>{1, 2, 3}));
    EXPECT_EQ(m.registry.Value(key, L"Q")->type, win::REG_QWORD);
    EXPECT_TRUE(m.registry.Value(key, L"").has_value());
    EXPECT_EQ(m.registry.SubKeys(key), std::vector<std::wstring>{L"User1"});
    m.registry.Import(L"[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Brindlex_PTP\\User1]\n");
    EXPECT_TRUE(m.registry.SubKeys(key).empty());
}

TEST(SimRegistry, AMalformedImportChangesNothing) {
    sim::Machine m;
    m.registry.SetDword(L"HKLM\\Software\\T", L"v", 1);
    const auto before = m.registry.SubKeys(L"HKLM\\Software");
    try {
        m.registry.Import(L"[-HKLM\\Software\\T]\n[HKLM\\Software\\New]\n\"a\"=dword:1\n\"b\"=dword:nope\n", "pkg.reg");
        ADD_FAILURE() << "imported";
    } catch (const tavo::RegTextError& e) {
        EXPECT_STREQ(e.what(), "pkg.reg:4: expected dword:XXXXXXXX (1 to 8 hex digits), got \"dword:nope\"");
    }
    EXPECT_EQ(m.registry.SubKeys(L"HKLM\\Software"), before) << "neither the deletion nor the new key happened";
    EXPECT_EQ(m.registry.Dword(L"HKLM\\Software\\T", L"v"), 1u);
    EXPECT_THROW(m.registry.ImportHive(L"C:\\Users\\a\\NTUSER.DAT", L"\"H\"=dword:3\n"), tavo::RegTextError);
}

TEST(SimRegistry, HandleToADeletedKeyReportsKeyDeleted) {
    sim::Machine m;
    m.registry.SetDword(L"HKLM\\Software\\T", L"v", 1);
    win::HKEY k{};
    ASSERT_EQ(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"Software\\T", 0, win::KEY_READ, &k), 0);
    m.registry.DeleteKey(L"HKLM\\Software\\T");
    win::DWORD size = 4, v = 0;
    EXPECT_EQ(m.registry.RegQueryValueExW(k, L"v", nullptr, reinterpret_cast<win::BYTE*>(&v), &size),
              win::ERROR_KEY_DELETED);
    EXPECT_EQ(m.registry.RegCloseKey(k), 0);
    EXPECT_EQ(m.registry.RegCloseKey(k), win::ERROR_INVALID_HANDLE);
}

TEST(SimFaults, NthUseFailsOnce) {
    sim::Machine m;
    m.faults.Fail("RegOpenKeyExW", 5, 2);
    win::HKEY k{};
    EXPECT_EQ(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"", 0, win::KEY_READ, &k), 0);
    m.registry.RegCloseKey(k);
    EXPECT_EQ(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"", 0, win::KEY_READ, &k), 5);
    EXPECT_EQ(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"", 0, win::KEY_READ, &k), 0);
    m.registry.RegCloseKey(k);
    EXPECT_EQ(m.faults.Uses("RegOpenKeyExW"), 3);
    EXPECT_EQ(m.handles.OpenCount("HKEY"), 0);
}

// The hook sees each use as it is made, counted from the machine's start, and its error
// wins over the rules; the rules still count the uses the hook failed.
TEST(SimFaults, TheHookSeesEveryUseAndCanFailIt) {
    sim::Machine m;
    std::vector<std::pair<std::string, int>> seen;
    m.faults.SetHook([&](std::string_view call, int use) -> win::DWORD {
        seen.emplace_back(call, use);
        return use == 2 ? win::ERROR_ACCESS_DENIED : 0;
    });
    m.faults.Fail("RegOpenKeyExW", win::ERROR_FILE_NOT_FOUND, 3);
    std::vector<win::LSTATUS> results;
    for (int i = 0; i < 4; ++i) {
        win::HKEY k{};
        results.push_back(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"", 0, win::KEY_READ, &k));
        if (results.back() == 0) m.registry.RegCloseKey(k);
    }
    m.faults.SetHook(nullptr);
    EXPECT_EQ(results, (std::vector<win::LSTATUS>{0, 5, 2, 0}));
    const std::vector<std::pair<std::string, int>> opens{
        {"RegOpenKeyExW", 1}, {"RegOpenKeyExW", 2}, {"RegOpenKeyExW", 3}, {"RegOpenKeyExW", 4}};
    std::vector<std::pair<std::string, int>> seenOpens;
    for (const auto& s : seen)
        if (s.first == "RegOpenKeyExW") seenOpens.push_back(s);
    EXPECT_EQ(seenOpens, opens);
    EXPECT_EQ(seen.size(), 6u) << "and the two closes";
}

// Every value has one place, folded: under its root, or under its hive file whether the
// file is mounted or not; the write hook names the same places for stores (identical data
// included), deletions and values that go with their key.
TEST(SimRegistry, SnapshotsAndTheWriteHookNameEachValueByOnePlace) {
    sim::Machine m;
    std::vector<std::pair<std::wstring, std::optional<win::DWORD>>> writes;
    m.registry.SetWriteHook([&](const std::wstring& place, const std::optional<sim::RegValue>& v) {
        writes.emplace_back(place, v ? std::optional<win::DWORD>(v->data.at(0)) : std::nullopt);
    });
    m.registry.SetDword(L"HKLM\\Software\\T\\Sub", L"Gone", 1);
    m.registry.SetDword(L"HKLM\\Software\\T", L"Kept", 2);
    m.registry.SetDword(L"HKLM\\Software\\T", L"kept", 2);
    m.registry.ImportHive(L"C:\\Users\\a\\NTUSER.DAT", L"[HKEY_CURRENT_USER\\Software]\n\"H\"=dword:3\n");
    ASSERT_TRUE(m.registry.LoadHive(L"HKU\\S-1", L"C:\\Users\\a\\NTUSER.DAT"));
    win::HKEY t{};
    ASSERT_EQ(m.registry.RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, L"Software\\T", 0, win::KEY_ALL_ACCESS, &t), 0);
    EXPECT_EQ(m.registry.RegDeleteTreeW(t, L"Sub"), 0);
    m.registry.RegCloseKey(t);
    const std::wstring hive = L"HIVE:C:\\USERS\\A\\NTUSER.DAT\\SOFTWARE:H";
    const auto mounted = m.registry.Snapshot();
    ASSERT_TRUE(m.registry.UnloadHive(L"HKU\\S-1"));
    const auto unmounted = m.registry.Snapshot();
    m.registry.SetWriteHook(nullptr);

    const std::wstring t0 = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\T";
    using W = std::pair<std::wstring, std::optional<win::DWORD>>;
    EXPECT_EQ(writes, (std::vector<W>{{t0 + L"\\SUB:GONE", 1}, {t0 + L":KEPT", 2}, {t0 + L":KEPT", 2},
                                      {hive, 3}, {t0 + L"\\SUB:GONE", std::nullopt}}));
    for (const auto* s : {&mounted, &unmounted}) {
        std::vector<std::wstring> places;
        for (const auto& [p, v] : *s) places.push_back(p);
        EXPECT_EQ(places, (std::vector<std::wstring>{hive, t0 + L":KEPT"}));
    }
}

}  // namespace
