// The package cleanup end to end on the platform under test: under Wine with the real
// SetupAPI, natively with the simulated INF folder.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "contract/contract_platform.h"
#include "contract/inf_folder.h"
#include "device/driver_cleanup.h"
#include "platform/setup_inf.h"

namespace {

struct InstalledCopy {
    const wchar_t* name;  // its .pnf is written beside it
    const char* catalog;
    const char* version;
    bool kept;
};

constexpr std::array kCopies{
    InstalledCopy{L"oem9741", "KVR_COMPONENT.CAT", "3.1.0.7b", true},  // equal but for case
    InstalledCopy{L"oem9742", "kvr_component.cat", "3.1.0.6", false},
    InstalledCopy{L"oem9743", "KVR_COMPONENT.CAT", "3.1.0.7b.0", false},
    InstalledCopy{L"oem9744", "KVR_COMPONENT.CAT", "3.2.0.0", false},
    InstalledCopy{L"oem9745", "mouse.cat", "1.0", true},
};

bool Exists(const std::wstring& path) {
    win::UniqueFind find;
    std::wstring name;
    return win::Inf().FindFirstFileW(path.c_str(), find.put(), &name) == win::ERROR_SUCCESS;
}

TEST(DriverCleanupOnPlatform, RemovesEveryOtherVersionWithItsPnfAndKeepsTheCurrentOne) {
    contract::InstallPlatform();
    for (const auto& c : kCopies) {
        const std::string text = std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=") + c.catalog +
                                 "\r\nDriverVer=05/04/2024," + c.version + "\r\n";
        contract::WriteInfFolderFile(std::wstring(c.name) + L".inf", text);
        contract::WriteInfFolderFile(std::wstring(c.name) + L".pnf", "precompiled");
    }
    std::array<wchar_t, 520> windows{};
    win::UINT length = 0;
    ASSERT_EQ(win::Inf().GetWindowsDirectoryW(windows.data(), 520, &length), win::ERROR_SUCCESS);
    const std::wstring folder = std::wstring(windows.data(), length) + L"\\INF\\";

    EXPECT_EQ(tavo::DeleteOldDriver(L"3.1.0.7B"), 1);

    for (const auto& c : kCopies) {
        for (const wchar_t* ext : {L".inf", L".pnf"}) {
            const std::wstring path = folder + c.name + ext;
            EXPECT_EQ(Exists(path), c.kept) << std::string(path.begin(), path.end());
            win::Inf().DeleteFileW(path.c_str());
        }
    }
    contract::UninstallPlatform();
}

}  // namespace
