// INF reading, OEM uninstall and INF-folder listing as SetupAPI and kernel32 do them: the
// simulated INF folder must agree with the real one.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "contract/inf_folder.h"
#include "platform/setup_inf.h"

namespace {

const char kComponentInf[] =
    "; a component package as shipped\r\n"
    "[version]   ; section names are read without regard to case\r\n"
    "signature = \"$Windows NT$\"\r\n"
    "Class=SoftwareComponent\r\n"
    "  catalogfile   =   kvr_component.cat   ; trailing comment\r\n"
    "DriverVer = 05/04/2024 , \"10.2.0.7, quoted\"\r\n"
    "\r\n"
    "[Strings]\r\n"
    "DriverVer = 01/01/2000,0.0\r\n";

class SetupInfContract : public ::testing::Test {
protected:
    SetupInfContract() { contract::InstallPlatform(); }
    ~SetupInfContract() override {
        for (const auto& name : written_) win::Inf().DeleteFileW((InfFolder() + L"\\" + name).c_str());
        contract::UninstallPlatform();
    }
    void Write(const std::wstring& name, const std::string& text) {
        contract::WriteInfFolderFile(name, text);
        written_.push_back(name);
    }
    static std::wstring InfFolder() {
        std::array<wchar_t, 520> buffer{};
        win::UINT length = 0;
        EXPECT_EQ(win::Inf().GetWindowsDirectoryW(buffer.data(), 520, &length), win::ERROR_SUCCESS);
        return std::wstring(buffer.data(), length) + L"\\INF";
    }
    // The names a search finds, sorted (listing order is the file system's).
    static std::vector<std::wstring> List(const std::wstring& pattern, win::DWORD* firstError = nullptr) {
        std::vector<std::wstring> names;
        win::UniqueFind find;
        std::wstring name;
        win::DWORD e = win::Inf().FindFirstFileW(pattern.c_str(), find.put(), &name);
        if (firstError) *firstError = e;
        if (e != win::ERROR_SUCCESS) return names;
        do {
            std::transform(name.begin(), name.end(), name.begin(), ::towupper);
            names.push_back(name);
        } while ((e = win::Inf().FindNextFileW(find.get(), &name)) == win::ERROR_SUCCESS);
        EXPECT_EQ(e, win::ERROR_NO_MORE_FILES);
        std::sort(names.begin(), names.end());
        return names;
    }
    // Field `field` of the first `key` line in `section`, or the error of whichever call failed.
    static win::DWORD Field(win::HINF inf, const wchar_t* section, const wchar_t* key, win::DWORD field,
                            std::wstring* value, win::DWORD size = 4096) {
        win::INFCONTEXT context;
        if (auto e = win::Inf().SetupFindFirstLineW(inf, section, key, &context)) return e;
        std::vector<wchar_t> buffer(size + 1, L'#');  // one canary past the end
        win::DWORD required = 0;
        win::DWORD e = win::Inf().SetupGetStringFieldW(context, field, buffer.data(), size, &required);
        EXPECT_EQ(buffer[size], L'#') << "nothing written past the buffer";
        if (e == win::ERROR_SUCCESS) *value = buffer.data();
        if (e == win::ERROR_INSUFFICIENT_BUFFER) *value = std::to_wstring(required);
        return e;
    }

private:
    std::vector<std::wstring> written_;
};

struct FieldCase {
    const char* name;
    const wchar_t* section;
    const wchar_t* key;
    win::DWORD field;
    win::DWORD size;
    win::DWORD error;
    std::wstring value;  // for ERROR_INSUFFICIENT_BUFFER: the size needed
};

class SetupInfFieldContract : public SetupInfContract, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(SetupInfFieldContract, ReadsTheLineAndFieldAsWritten) {
    const auto& c = GetParam();
    Write(L"oem9701.inf", kComponentInf);
    win::UniqueInf inf;
    ASSERT_EQ(win::Inf().SetupOpenInfFileW(L"oem9701.inf", win::INF_STYLE_WIN4, inf.put()), win::ERROR_SUCCESS);
    std::wstring value = L"untouched";
    EXPECT_EQ(Field(inf.get(), c.section, c.key, c.field, &value, c.size), c.error);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SetupInfFieldContract,
    ::testing::Values(
        FieldCase{"CatalogTrimmed", L"Version", L"CatalogFile", 1, 4096, win::ERROR_SUCCESS, L"kvr_component.cat"},
        FieldCase{"KeyAsWritten", L"VERSION", L"CATALOGFILE", 0, 4096, win::ERROR_SUCCESS, L"catalogfile"},
        FieldCase{"DateField", L"Version", L"DriverVer", 1, 4096, win::ERROR_SUCCESS, L"05/04/2024"},
        FieldCase{"QuotedFieldKeepsItsComma", L"Version", L"DriverVer", 2, 4096, win::ERROR_SUCCESS,
                  L"10.2.0.7, quoted"},
        FieldCase{"FieldTooLongForTheBuffer", L"Version", L"DriverVer", 2, 5, win::ERROR_INSUFFICIENT_BUFFER, L"17"},
        FieldCase{"FieldExactlyFits", L"Version", L"DriverVer", 1, 11, win::ERROR_SUCCESS, L"05/04/2024"},
        FieldCase{"NoSuchLine", L"Version", L"Provider", 1, 4096, win::ERROR_LINE_NOT_FOUND, L"untouched"},
        FieldCase{"NoSuchSection", L"Manufacturer", L"DriverVer", 1, 4096, win::ERROR_LINE_NOT_FOUND, L"untouched"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SetupInfContract, OpenFailures) {
    Write(L"oem9702.inf", "[Version]\r\nCatalogFile=kvr_component.cat\r\n");
    win::HINF inf = win::INVALID_HINF;
    EXPECT_EQ(win::Inf().SetupOpenInfFileW(L"oem9799.inf", win::INF_STYLE_WIN4, &inf), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::Inf().SetupOpenInfFileW(L"oem9702.inf", win::INF_STYLE_WIN4, &inf), win::ERROR_WRONG_INF_STYLE)
        << "a Windows 4 INF names its signature";
    EXPECT_EQ(inf, win::INVALID_HINF);
}

TEST_F(SetupInfContract, ListsOnlyWhatThePatternMatches) {
    for (const auto* name : {L"oem9711.inf", L"OEM9712.INF", L"oem9711.pnf", L"xoem9713.inf"}) Write(name, "x");
    const std::wstring folder = InfFolder();
    EXPECT_EQ(List(folder + L"\\OEM971*.INF"), (std::vector<std::wstring>{L"OEM9711.INF", L"OEM9712.INF"}));
    win::DWORD e = 0;
    EXPECT_TRUE(List(folder + L"\\OEM9798*.INF", &e).empty());
    EXPECT_EQ(e, win::ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(List(folder + L"\\tavo-no-such-folder\\OEM*.INF", &e).empty());
    EXPECT_EQ(e, win::ERROR_PATH_NOT_FOUND);
}

TEST_F(SetupInfContract, UninstallRemovesTheInfAndDeleteRemovesThePnf) {
    Write(L"oem9721.inf", kComponentInf);
    Write(L"oem9721.pnf", "precompiled");
    const std::wstring folder = InfFolder();
    EXPECT_EQ(win::Inf().SetupUninstallOEMInfW(L"oem9721.inf", win::SUOI_FORCEDELETE), win::ERROR_SUCCESS);
    EXPECT_TRUE(List(folder + L"\\OEM9721.INF").empty());
    const bool pnfLeft = !List(folder + L"\\OEM9721.PNF").empty();
    RecordProperty("uninstall_leaves_pnf", pnfLeft ? 1 : 0);
    std::printf("SetupUninstallOEMInfW left the .pnf: %d\n", pnfLeft ? 1 : 0);
    EXPECT_EQ(win::Inf().DeleteFileW((folder + L"\\OEM9721.PNF").c_str()),
              pnfLeft ? win::ERROR_SUCCESS : win::ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(List(folder + L"\\OEM9721.*").empty());
    EXPECT_EQ(win::Inf().DeleteFileW((folder + L"\\OEM9721.PNF").c_str()), win::ERROR_FILE_NOT_FOUND);
}

TEST_F(SetupInfContract, AWindowsFolderThatDoesNotFitIsNotWritten) {
    std::array<wchar_t, 4> small{L'#', L'#', L'#', L'#'};
    win::UINT length = 0;
    EXPECT_EQ(win::Inf().GetWindowsDirectoryW(small.data(), 3, &length), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, InfFolder().size() - 4 + 1) << "the size needed, terminator included";
    EXPECT_EQ(small[3], L'#');
}

}  // namespace
