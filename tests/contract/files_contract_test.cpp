// Shell-folder and path-existence behaviour that the simulated machine must share with
// Windows, for cases that need nothing set up beyond a system drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/sync.h"

namespace {

class FilesContract : public ::testing::Test {
protected:
    FilesContract() { contract::InstallPlatform(); }
    ~FilesContract() override { contract::UninstallPlatform(); }
};

TEST_F(FilesContract, ExistenceErrorsTellAMissingNameFromAMissingFolder) {
    EXPECT_EQ(win::Fs().PathFileExistsW(L"C:\\"), win::ERROR_SUCCESS);
    EXPECT_EQ(win::Fs().PathFileExistsW(L"C:\\tavo-no-such-name-7f3a"), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::Fs().PathFileExistsW(L"C:\\tavo-no-such-folder-7f3a\\Packages\\x"), win::ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesContract, TheCallingAccountsLocalAppDataFolderResolvesAndExists) {
    std::wstring path = L"untouched";
    ASSERT_EQ(win::Fs().SHGetFolderPathW(win::CSIDL_LOCAL_APPDATA | win::CSIDL_FLAG_CREATE, win::HANDLE{},
                                         win::SHGFP_TYPE_CURRENT, &path),
              win::S_OK);
    EXPECT_GT(path.size(), 3u);
    EXPECT_LT(path.size(), static_cast<std::size_t>(win::MAX_PATH));
    EXPECT_NE(path.back(), L'\\');
    EXPECT_EQ(win::Fs().PathFileExistsW(path.c_str()), win::ERROR_SUCCESS);
}

}  // namespace

// Folder change notification, as the companion folder watcher uses it, on a folder of its
// own under the calling account's local application data.
namespace {

using namespace win;

constexpr DWORD kFired = 2000;  // a change shows within this, under Wine
constexpr DWORD kQuiet = 300;   // nothing showing within this means nothing came

class FolderNotify : public ::testing::Test {
protected:
    void SetUp() override {
        contract::InstallPlatform();
        std::wstring local;
        ASSERT_EQ(Fs().SHGetFolderPathW(CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, HANDLE{}, SHGFP_TYPE_CURRENT, &local),
                  S_OK);
        root = local + L"\\TavoContractWatch";
        Clean();
        contract::MakeFolder(root);
        Make(L"existing", true);
    }
    void TearDown() override {
        change.reset();
        Clean();
        contract::UninstallPlatform();
    }
    void Make(const std::wstring& relative, bool folder) {
        const std::wstring path = root + L"\\" + relative;
        folder ? contract::MakeFolder(path) : contract::MakeFile(path);
        made.push_back(path);
    }
    void Clean() {
        for (auto it = made.rbegin(); it != made.rend(); ++it) contract::RemovePath(*it);
        made.clear();
        for (const wchar_t* leftover : {L"\\existing\\inner", L"\\existing", L"\\new", L"\\second", L"\\file.txt"})
            contract::RemovePath(root + leftover);
        contract::RemovePath(root);
    }
    bool Fired(DWORD ms) {
        DWORD error = 0;
        return Sync().WaitForSingleObject(change.get(), ms, &error) == WAIT_OBJECT_0;
    }

    std::wstring root;
    std::vector<std::wstring> made;
    UniqueChangeNotification change;
};

struct FolderCase {
    const char* name;
    bool subtree;
    DWORD filter;
    const wchar_t* made;  // relative to the watched folder
    bool folder;
    bool fires;
    bool firesUnderWine;
};

class FolderNotifyCases : public FolderNotify, public testing::WithParamInterface<FolderCase> {};

TEST_P(FolderNotifyCases, OnlyANameOfTheFilteredKindBelowTheFolderSignals) {
    const FolderCase& c = GetParam();
    ASSERT_EQ(Fs().FindFirstChangeNotificationW(root.c_str(), c.subtree, c.filter, change.put()), ERROR_SUCCESS);
    EXPECT_FALSE(Fired(0));
    Make(c.made, c.folder);
    const bool fires = contract::UnderWine() ? c.firesUnderWine : c.fires;
    EXPECT_EQ(Fired(fires ? kFired : kQuiet), fires);
}

INSTANTIATE_TEST_SUITE_P(
    Generic, FolderNotifyCases,
    testing::Values(FolderCase{"NewFolder", true, FILE_NOTIFY_CHANGE_DIR_NAME, L"new", true, true, true},
                    FolderCase{"NewFileUnderFolderNames", true, FILE_NOTIFY_CHANGE_DIR_NAME, L"file.txt", false, false,
                               false},
                    FolderCase{"NewFileUnderFileNames", true, FILE_NOTIFY_CHANGE_FILE_NAME, L"file.txt", false, true,
                               true},
                    // Wine 8 watches only the folder itself: a deeper change is not seen.
                    FolderCase{"NestedFolderWithSubtree", true, FILE_NOTIFY_CHANGE_DIR_NAME, L"existing\\inner", true,
                               true, false},
                    FolderCase{"NestedFolderWithoutSubtree", false, FILE_NOTIFY_CHANGE_DIR_NAME, L"existing\\inner",
                               true, false, false}),
    [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST_F(FolderNotify, ASignalledNotificationStaysSoUntilReArmed) {
    ASSERT_EQ(Fs().FindFirstChangeNotificationW(root.c_str(), true, FILE_NOTIFY_CHANGE_DIR_NAME, change.put()),
              ERROR_SUCCESS);
    Make(L"new", true);
    ASSERT_TRUE(Fired(kFired));
    EXPECT_TRUE(Fired(0)) << "a wait does not take it";
    ASSERT_EQ(Fs().FindNextChangeNotification(change.get()), ERROR_SUCCESS);
    EXPECT_FALSE(Fired(kQuiet));
    Make(L"second", true);
    EXPECT_TRUE(Fired(kFired));
}

// Windows keeps the changes that come while the notification is signalled, and the re-armed
// one is signalled at once; Wine 8 drops them.
TEST_F(FolderNotify, AChangeBeforeTheReArmShowsAfterItExceptUnderWine) {
    ASSERT_EQ(Fs().FindFirstChangeNotificationW(root.c_str(), true, FILE_NOTIFY_CHANGE_DIR_NAME, change.put()),
              ERROR_SUCCESS);
    Make(L"new", true);
    ASSERT_TRUE(Fired(kFired));
    Make(L"second", true);
    DWORD error = 0;
    (void)Sync().WaitForSingleObject(change.get(), kQuiet, &error);  // time for Wine to take the change in
    ASSERT_EQ(Fs().FindNextChangeNotification(change.get()), ERROR_SUCCESS);
    const bool kept = !contract::UnderWine();
    EXPECT_EQ(Fired(kept ? kFired : kQuiet), kept);
}

TEST_F(FolderNotify, AFolderThatDoesNotExistCannotBeWatched) {
    HANDLE untouched = static_cast<HANDLE>(0x1234);
    EXPECT_EQ(Fs().FindFirstChangeNotificationW((root + L"\\missing").c_str(), true, FILE_NOTIFY_CHANGE_DIR_NAME,
                                                &untouched),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Fs().FindFirstChangeNotificationW((root + L"\\missing\\deeper").c_str(), true,
                                                FILE_NOTIFY_CHANGE_DIR_NAME, &untouched),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(untouched, static_cast<HANDLE>(0x1234));
}

}  // namespace
