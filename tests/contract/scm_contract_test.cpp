// How the service control manager treats a service's record and handles, pinned down once
// and checked against both backends. The service is never started: its program does not
// exist, and the cases are about the database, not about running it.
#include <gtest/gtest.h>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/scm.h"

namespace {

using namespace win;

constexpr wchar_t kName[] = L"TavoContractTestService";
constexpr DWORD kAllAccess = 0xF01FF;  // SERVICE_ALL_ACCESS

class ScmContract : public ::testing::Test {
protected:
    void SetUp() override {
        contract::InstallPlatform();
        ASSERT_EQ(Scm().OpenSCManagerW(SC_MANAGER_ALL_ACCESS, manager.put()), 0u);
        // A leftover from an interrupted run would change every answer below.
        UniqueScHandle old;
        if (Scm().OpenServiceW(manager.get(), kName, kAllAccess, old.put()) == 0) Scm().DeleteService(old.get());
    }
    void TearDown() override {
        UniqueScHandle old;
        if (Scm().OpenServiceW(manager.get(), kName, kAllAccess, old.put()) == 0) Scm().DeleteService(old.get());
        old.reset();
        manager.reset();
        contract::UninstallPlatform();
    }
    DWORD Create(UniqueScHandle* out, DWORD access = kAllAccess) {
        return Scm().CreateServiceW(manager.get(), kName, L"Tavo contract test", access, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    L"\"C:\\Tavo Contract\\missing.exe\"", out->put());
    }
    UniqueScHandle manager;
};

TEST_F(ScmContract, ARecordIsCreatedOnceAndFoundByNameInAnyCase) {
    UniqueScHandle service, again, opened;
    ASSERT_EQ(Create(&service), 0u);
    EXPECT_EQ(Create(&again), ERROR_SERVICE_EXISTS);
    EXPECT_FALSE(again) << "a failed create hands out nothing";
    EXPECT_EQ(Scm().OpenServiceW(manager.get(), L"tavocontracttestSERVICE", SERVICE_QUERY_STATUS, opened.put()), 0u);
    SERVICE_STATUS status{};
    ASSERT_EQ(Scm().QueryServiceStatus(opened.get(), &status), 0u);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(Scm().ChangeServiceDescription(service.get(), L"Service for TAVO Pad Suite"), 0u);
}

TEST_F(ScmContract, StoppingAServiceThatDoesNotRunIsRefused) {
    UniqueScHandle service;
    ASSERT_EQ(Create(&service), 0u);
    SERVICE_STATUS status{};
    EXPECT_EQ(Scm().ControlService(service.get(), SERVICE_CONTROL_STOP, &status), ERROR_SERVICE_NOT_ACTIVE);
}

TEST_F(ScmContract, RightsNotAskedForAreRefused) {
    UniqueScHandle created;
    ASSERT_EQ(Create(&created), 0u);
    created.reset();
    UniqueScHandle queryOnly;
    ASSERT_EQ(Scm().OpenServiceW(manager.get(), kName, SERVICE_QUERY_STATUS, queryOnly.put()), 0u);
    EXPECT_EQ(Scm().DeleteService(queryOnly.get()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Scm().ChangeServiceDescription(queryOnly.get(), L"x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Scm().StartServiceW(queryOnly.get()), ERROR_ACCESS_DENIED);
    UniqueScHandle connectOnly, none;
    ASSERT_EQ(Scm().OpenSCManagerW(SC_MANAGER_CONNECT, connectOnly.put()), 0u);
    EXPECT_EQ(Scm().CreateServiceW(connectOnly.get(), L"TavoContractOther", L"x", kAllAccess, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"x.exe", none.put()),
              ERROR_ACCESS_DENIED);
}

TEST_F(ScmContract, DeletionIsMarkedOnceAndTheNameIsGoneWhenHandlesClose) {
    UniqueScHandle service;
    ASSERT_EQ(Create(&service), 0u);
    ASSERT_EQ(Scm().DeleteService(service.get()), 0u);
    EXPECT_EQ(Scm().DeleteService(service.get()), ERROR_SERVICE_MARKED_FOR_DELETE);
    service.reset();
    UniqueScHandle gone;
    EXPECT_EQ(Scm().OpenServiceW(manager.get(), kName, SERVICE_QUERY_STATUS, gone.put()), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(gone);
}

}  // namespace
