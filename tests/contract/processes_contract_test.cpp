// The process and token calls of the agent launcher, pinned down once and checked against
// both backends. The process used is the test's own: Wine has no winlogon.exe, and the
// calls are the same on any process the caller may open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/processes.h"
#include "platform/system.h"

namespace {

using namespace win;

class ProcessesContract : public ::testing::Test {
protected:
    ProcessesContract() { contract::InstallPlatform(); }
    ~ProcessesContract() override {
        primary.reset();
        token.reset();
        process.reset();
        contract::UninstallPlatform();
    }

    // The own process's token, opened as the launcher opens winlogon's, and a primary copy.
    void OpenOwnToken() {
        ASSERT_EQ(Proc().OpenProcess(MAXIMUM_ALLOWED, Proc().GetCurrentProcessId(), process.put()), ERROR_SUCCESS);
        ASSERT_EQ(Proc().OpenProcessToken(process.get(), 0x201EB, token.put()), ERROR_SUCCESS);
        ASSERT_EQ(Proc().DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, SecurityIdentification, TokenPrimary,
                                          primary.put()),
                  ERROR_SUCCESS);
    }
    static std::wstring OwnPath() {
        wchar_t path[MAX_PATH];
        DWORD length = 0;
        EXPECT_EQ(Sys().GetModuleFileNameW(path, MAX_PATH, &length), ERROR_SUCCESS);
        return std::wstring(path, length);
    }

    UniqueProcessHandle process, token, primary;
};

TEST_F(ProcessesContract, ASnapshotListsTheOwnProcessAndEndsWithNoMoreFiles) {
    UniqueProcessHandle snapshot;
    ASSERT_EQ(Proc().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0, snapshot.put()), ERROR_SUCCESS);
    PROCESSENTRY32W entry{};
    ASSERT_EQ(Proc().Process32FirstW(snapshot.get(), &entry), ERROR_SUCCESS);
    const DWORD self = Proc().GetCurrentProcessId();
    std::wstring selfName;
    int entries = 1;
    DWORD error;
    do {
        EXPECT_NE(entry.szExeFile[0], L'\0');
        if (entry.th32ProcessID == self) selfName = entry.szExeFile;
    } while ((error = Proc().Process32NextW(snapshot.get(), &entry)) == ERROR_SUCCESS && ++entries < 10000);
    EXPECT_EQ(error, ERROR_NO_MORE_FILES);
    const std::wstring path = OwnPath();
    EXPECT_EQ(selfName, path.substr(path.rfind(L'\\') + 1)) << "listed by its file name";
}

TEST_F(ProcessesContract, AProcessThatDoesNotExistHasNoSessionAndCannotBeOpened) {
    constexpr DWORD kNoSuchProcess = 0x7FFFFFF0;
    DWORD session = 1234;
    EXPECT_EQ(Proc().ProcessIdToSessionId(kNoSuchProcess, &session), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(session, 1234u);
    HANDLE untouched = static_cast<HANDLE>(0x1234);
    EXPECT_EQ(Proc().OpenProcess(MAXIMUM_ALLOWED, kNoSuchProcess, &untouched), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(untouched, static_cast<HANDLE>(0x1234));
    ASSERT_EQ(Proc().ProcessIdToSessionId(Proc().GetCurrentProcessId(), &session), ERROR_SUCCESS);
}

TEST_F(ProcessesContract, PrivilegesAreLookedUpByName) {
    struct Case {
        const wchar_t* name;
        DWORD error;
        LUID luid;
    } cases[] = {{L"SeDebugPrivilege", ERROR_SUCCESS, {20, 0}},
                 {L"sedebugprivilege", ERROR_SUCCESS, {20, 0}},
                 {L"SeTcbPrivilege", ERROR_SUCCESS, {7, 0}},
                 {L"SeNoSuchPrivilege", ERROR_NO_SUCH_PRIVILEGE, {99, 99}}};
    for (const Case& c : cases) {
        LUID luid{99, 99};
        EXPECT_EQ(Proc().LookupPrivilegeValueW(c.name, &luid), c.error);
        EXPECT_EQ(luid, c.luid);
    }
}

TEST_F(ProcessesContract, ATokenCopyTakesTheSessionThePrivilegeAndAnEnvironment) {
    OpenOwnToken();
    DWORD session = 0;
    ASSERT_EQ(Proc().ProcessIdToSessionId(Proc().GetCurrentProcessId(), &session), ERROR_SUCCESS);
    EXPECT_EQ(Proc().SetTokenSessionId(primary.get(), session), ERROR_SUCCESS);
    LUID debug{};
    ASSERT_EQ(Proc().LookupPrivilegeValueW(SE_DEBUG_NAME, &debug), ERROR_SUCCESS);
    EXPECT_EQ(Proc().AdjustTokenPrivileges(primary.get(), debug, SE_PRIVILEGE_ENABLED), ERROR_SUCCESS);
    UniqueEnvironmentBlock environment;
    EXPECT_EQ(Proc().CreateEnvironmentBlock(primary.get(), true, environment.put()), ERROR_SUCCESS);
    EXPECT_TRUE(environment);
}

TEST_F(ProcessesContract, ATokenOpenedWithoutDuplicateRightCannotBeCopied) {
    ASSERT_EQ(Proc().OpenProcess(MAXIMUM_ALLOWED, Proc().GetCurrentProcessId(), process.put()), ERROR_SUCCESS);
    ASSERT_EQ(Proc().OpenProcessToken(process.get(), TOKEN_QUERY, token.put()), ERROR_SUCCESS);
    HANDLE untouched = static_cast<HANDLE>(0x1234);
    EXPECT_EQ(Proc().DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, SecurityIdentification, TokenPrimary, &untouched),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(untouched, static_cast<HANDLE>(0x1234));
}

// Starting a program under the copied token, on the interactive desktop. Without a token
// the program still starts, as the caller: a launcher must not get that far without its copy.
TEST_F(ProcessesContract, AProgramStartsOnlyWhenItsFileExistsAndWithoutATokenStillStarts) {
    OpenOwnToken();
    const std::wstring self = OwnPath();
    struct Case {
        const char* name;
        std::wstring application;
        bool copied;
        DWORD error;
    } cases[] = {{"OwnProgram", self, true, ERROR_SUCCESS},
                 {"MissingFile", self.substr(0, self.rfind(L'\\')) + L"\\TavoNoSuchProgram.exe", true, ERROR_FILE_NOT_FOUND},
                 {"NoToken", self, false, ERROR_SUCCESS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The test program lists no test and ends.
        std::wstring line = L"\"" + c.application + L"\" --gtest_list_tests --gtest_filter=NoSuch.Case";
        std::vector<wchar_t> commandLine(line.begin(), line.end());
        commandLine.push_back(L'\0');
        UniqueEnvironmentBlock environment;
        ASSERT_EQ(Proc().CreateEnvironmentBlock(primary.get(), true, environment.put()), ERROR_SUCCESS);
        PROCESS_INFORMATION info{};
        EXPECT_EQ(Proc().CreateProcessAsUserW(c.copied ? primary.get() : HANDLE{}, c.application.c_str(), commandLine.data(),
                                              CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.get(), nullptr,
                                              L"winsta0\\default", &info),
                  c.error);
        if (c.error != ERROR_SUCCESS) continue;
        UniqueProcessHandle started(info.hProcess), startedThread(info.hThread);
        EXPECT_NE(info.dwProcessId, 0u);
        DWORD exitCode = 12345;
        EXPECT_EQ(Proc().GetExitCodeProcess(started.get(), &exitCode), ERROR_SUCCESS);
        EXPECT_TRUE(exitCode == STILL_ACTIVE || exitCode == 0) << exitCode;
    }
}

}  // namespace
