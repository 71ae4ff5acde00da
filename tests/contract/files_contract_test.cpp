// Shell-folder and path-existence behaviour that the simulated machine must share with
// Windows, for cases that need nothing set up beyond a system drive.
#include <gtest/gtest.h>

#include <string>

#include "contract/contract_platform.h"
#include "platform/files.h"

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
