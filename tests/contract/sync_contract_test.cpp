// Events and waits, pinned down once and checked against both backends.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/threads.h"

namespace {

using namespace win;

class SyncContract : public ::testing::Test {
protected:
    SyncContract() { contract::InstallPlatform(); }
    ~SyncContract() override { contract::UninstallPlatform(); }

    UniqueEvent Event(bool manualReset, bool initial, const wchar_t* name = nullptr, bool* existed = nullptr) {
        UniqueEvent e;
        EXPECT_EQ(Sync().CreateEventW(nullptr, manualReset, initial, name, e.put(), existed), ERROR_SUCCESS);
        return e;
    }
    // A name no other run uses at the same time.
    static std::wstring Name(const wchar_t* what) {
        return L"Local\\TavoContract-" + std::to_wstring(Proc().GetCurrentProcessId()) + L"-" + what;
    }
};

// How each kind of event answers two waits in a row, after an optional SetEvent.
struct ResetCase {
    const char* name;
    bool manualReset;
    bool initial;
    bool set;
    DWORD first;
    DWORD second;
};

class EventResets : public SyncContract, public testing::WithParamInterface<ResetCase> {};

TEST_P(EventResets, ASatisfiedWaitTakesOnlyAnAutoResetEvent) {
    const ResetCase& c = GetParam();
    UniqueEvent e = Event(c.manualReset, c.initial);
    if (c.set) {
        ASSERT_EQ(Sync().SetEvent(e.get()), ERROR_SUCCESS);
    }
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForSingleObject(e.get(), 0, &error), c.first);
    EXPECT_EQ(Sync().WaitForSingleObject(e.get(), 0, &error), c.second);
    ASSERT_EQ(Sync().ResetEvent(e.get()), ERROR_SUCCESS);
    EXPECT_EQ(Sync().WaitForSingleObject(e.get(), 0, &error), WAIT_TIMEOUT) << "reset, whatever the mode";
}

INSTANTIATE_TEST_SUITE_P(
    Generic, EventResets,
    testing::Values(ResetCase{"ManualSignalledAtCreation", true, true, false, WAIT_OBJECT_0, WAIT_OBJECT_0},
                    ResetCase{"ManualSet", true, false, true, WAIT_OBJECT_0, WAIT_OBJECT_0},
                    ResetCase{"ManualNotSignalled", true, false, false, WAIT_TIMEOUT, WAIT_TIMEOUT},
                    ResetCase{"AutoSignalledAtCreation", false, true, false, WAIT_OBJECT_0, WAIT_TIMEOUT},
                    ResetCase{"AutoSet", false, false, true, WAIT_OBJECT_0, WAIT_TIMEOUT},
                    ResetCase{"AutoNotSignalled", false, false, false, WAIT_TIMEOUT, WAIT_TIMEOUT}),
    [](const testing::TestParamInfo<ResetCase>& info) { return std::string(info.param.name); });

// Which of three events a wait for any, or for all, reports.
struct MultiCase {
    const char* name;
    std::vector<int> set;  // indexes set before the wait
    bool waitAll;
    DWORD result;
};

class MultipleWaits : public SyncContract, public testing::WithParamInterface<MultiCase> {};

TEST_P(MultipleWaits, ReportTheLowestSignalledIndexOrAllOfThem) {
    const MultiCase& c = GetParam();
    UniqueEvent events[3] = {Event(true, false), Event(true, false), Event(false, false)};
    for (int i : c.set) ASSERT_EQ(Sync().SetEvent(events[i].get()), ERROR_SUCCESS);
    const HANDLE handles[3] = {events[0].get(), events[1].get(), events[2].get()};
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForMultipleObjects(3, handles, c.waitAll, 0, &error), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Generic, MultipleWaits,
    testing::Values(MultiCase{"NoneSet", {}, false, WAIT_TIMEOUT}, MultiCase{"LastSet", {2}, false, WAIT_OBJECT_0 + 2},
                    MultiCase{"TwoSetLowestWins", {2, 1}, false, WAIT_OBJECT_0 + 1},
                    MultiCase{"AllNeededButTwoSet", {0, 2}, true, WAIT_TIMEOUT},
                    MultiCase{"AllSet", {0, 1, 2}, true, WAIT_OBJECT_0}),
    [](const testing::TestParamInfo<MultiCase>& info) { return std::string(info.param.name); });

TEST_F(SyncContract, ANamedEventIsOneObjectForEveryHandleAndGoesWithTheLastOne) {
    const std::wstring name = Name(L"named");
    bool existed = true;
    UniqueEvent first = Event(true, false, name.c_str(), &existed);
    EXPECT_FALSE(existed);
    // A second creation opens the first, keeping its manual reset.
    UniqueEvent second = Event(false, false, name.c_str(), &existed);
    EXPECT_TRUE(existed);
    UniqueEvent opened;
    ASSERT_EQ(Sync().OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, name.c_str(), opened.put()), ERROR_SUCCESS);
    ASSERT_EQ(Sync().SetEvent(opened.get()), ERROR_SUCCESS);
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForSingleObject(second.get(), 0, &error), WAIT_OBJECT_0);
    EXPECT_EQ(Sync().WaitForSingleObject(first.get(), 0, &error), WAIT_OBJECT_0) << "still set: manual reset";

    first.reset();
    second.reset();
    opened.reset();
    HANDLE untouched = static_cast<HANDLE>(0x1234);
    EXPECT_EQ(Sync().OpenEventW(SYNCHRONIZE, name.c_str(), &untouched), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(untouched, static_cast<HANDLE>(0x1234));
}

TEST_F(SyncContract, AHandleOpenedOnlyToWaitCannotSetTheEvent) {
    const std::wstring name = Name(L"access");
    UniqueEvent event = Event(true, false, name.c_str());
    UniqueEvent waitOnly;
    ASSERT_EQ(Sync().OpenEventW(SYNCHRONIZE, name.c_str(), waitOnly.put()), ERROR_SUCCESS);
    EXPECT_EQ(Sync().SetEvent(waitOnly.get()), ERROR_ACCESS_DENIED);
    ASSERT_EQ(Sync().SetEvent(event.get()), ERROR_SUCCESS);
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForSingleObject(waitOnly.get(), 0, &error), WAIT_OBJECT_0);
}

// Waits that cannot be made fail at once with the reason.
TEST_F(SyncContract, WaitsOnClosedHandlesOrBadCountsFailAtOnce) {
    UniqueEvent open = Event(true, true);
    HANDLE closed;
    {
        UniqueEvent gone = Event(true, true);
        closed = gone.get();
    }
    struct Case {
        const char* name;
        DWORD count;
        HANDLE first;
        DWORD error;
    } cases[] = {{"ClosedHandle", 1, closed, ERROR_INVALID_HANDLE},
                 {"NoHandles", 0, open.get(), ERROR_INVALID_PARAMETER},
                 {"MoreThan64", 65, open.get(), ERROR_INVALID_PARAMETER}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<HANDLE> handles(65, open.get());
        handles[0] = c.first;
        DWORD error = 0;
        EXPECT_EQ(Sync().WaitForMultipleObjects(c.count, handles.data(), false, 0, &error), WAIT_FAILED);
        EXPECT_EQ(error, c.error);
    }
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForSingleObject(closed, 0, &error), WAIT_FAILED);
    EXPECT_EQ(error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(Sync().SetEvent(closed), ERROR_INVALID_HANDLE);
}

}  // namespace

// ---- dedicated threads and the security of named events ----------------------------------

namespace {

struct ThreadRun {
    HANDLE go{};
    std::atomic<bool> done{false};
};

void WaitForGoThenEnd(void* context) {
    auto* run = static_cast<ThreadRun*>(context);
    DWORD error = 0;
    Sync().WaitForSingleObject(run->go, INFINITE, &error);
    run->done = true;
}


TEST_F(SyncContract, AThreadHandleIsSignalledOnlyOnceTheFunctionHasReturned) {
    UniqueEvent go = Event(false, false);
    ThreadRun run;
    run.go = go.get();
    UniqueThread thread;
    ASSERT_EQ(Thr().CreateThread(&WaitForGoThenEnd, &run, thread.put()), ERROR_SUCCESS);
    DWORD error = 0;
    EXPECT_EQ(Sync().WaitForSingleObject(thread.get(), 0, &error), WAIT_TIMEOUT) << "still waiting for go";
    ASSERT_EQ(Sync().SetEvent(go.get()), ERROR_SUCCESS);
    EXPECT_EQ(Sync().WaitForSingleObject(thread.get(), 5000, &error), WAIT_OBJECT_0);
    EXPECT_TRUE(run.done.load());
    EXPECT_EQ(Sync().WaitForSingleObject(thread.get(), 0, &error), WAIT_OBJECT_0) << "and stays signalled";
}

// The DACL of a named event, written by name: null (anyone) or two groups; a name that no
// event has is not found.
struct NamedDaclCase {
    const char* name;
    bool makeEvent;
    bool nullDacl;
    DWORD result;
};

class NamedEventDacl : public SyncContract, public testing::WithParamInterface<NamedDaclCase> {};

TEST_P(NamedEventDacl, IsWrittenThroughTheName) {
    const NamedDaclCase& c = GetParam();
    const std::wstring name = Name(L"dacl");
    UniqueEvent e;
    if (c.makeEvent) e = Event(false, false, name.c_str());
    UniqueSid everyone;
    UniqueSid users;
    const DWORD world = SECURITY_WORLD_RID;
    const DWORD usersRids[2] = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS};
    ASSERT_EQ(Sec().AllocateAndInitializeSid(SECURITY_WORLD_SID_AUTHORITY, 1, &world, everyone.put()), ERROR_SUCCESS);
    ASSERT_EQ(Sec().AllocateAndInitializeSid(SECURITY_NT_AUTHORITY, 2, usersRids, users.put()), ERROR_SUCCESS);
    const EXPLICIT_ACCESS_W entries[2] = {
        {GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_SID, TRUSTEE_IS_WELL_KNOWN_GROUP, everyone.get()},
        {GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_SID, TRUSTEE_IS_GROUP, users.get()}};
    UniqueAcl acl;
    ASSERT_EQ(Sec().SetEntriesInAclW(2, entries, acl.put()), ERROR_SUCCESS);
    EXPECT_EQ(Sync().SetNamedSecurityInfoW(name.c_str(), DACL_SECURITY_INFORMATION, PSID{}, c.nullDacl ? PACL{} : acl.get()),
              c.result);
    if (c.makeEvent) {
        HANDLE other{};
        ASSERT_EQ(Sync().OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, name.c_str(), &other), ERROR_SUCCESS)
            << "open to everyone after the write";
        Sync().CloseHandle(other);
    }
}

INSTANTIATE_TEST_SUITE_P(Generic, NamedEventDacl,
                         testing::Values(NamedDaclCase{"EveryoneAndUsers", true, false, ERROR_SUCCESS},
                                         NamedDaclCase{"Null", true, true, ERROR_SUCCESS},
                                         NamedDaclCase{"NoSuchEvent", false, false, ERROR_FILE_NOT_FOUND}),
                         [](const testing::TestParamInfo<NamedDaclCase>& info) { return std::string(info.param.name); });

}  // namespace
