// The simulated machine must behave as Windows does where the contract tests cannot
// reach (Wine has no equivalent to compare with, or the case needs a set-up hook).
#include <gtest/gtest.h>

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

}  // namespace
