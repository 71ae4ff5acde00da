// The HID class on a laptop: the file's collections as a program finds and opens them, and
// the pad's vendor feature report 0x0D as the service exchanges it, checked against what the
// pad's firmware recorded. Under Wine the laptop is the virtual one (a HID minidriver whose
// firmware answers as the simulator's does), so the cases hold the simulator to the real
// hidclass and hid.dll between a program and a device.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "contract/contract_laptop.h"
#include "contract/contract_platform.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/hid.h"

namespace {

using namespace win;
using tavo::laptops::HidSheet;
using Bytes = std::vector<BYTE>;
using Lines = std::vector<std::string>;

// One present HID interface as the service's scan sees it.
struct Interface {
    std::wstring path;
    std::wstring firstHardwareId;  // element i of the interface set, as the scan reads it
    HIDD_ATTRIBUTES attributes{12, 0, 0, 0};
    HIDP_CAPS caps{};
    std::vector<HIDP_VALUE_CAPS> featureValues;
};

std::vector<Interface> Scan() {
    std::vector<Interface> found;
    UniqueDevInfo set;
    EXPECT_EQ(Devices().SetupDiGetClassDevsW(GUID_DEVINTERFACE_HID, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, set.put()), 0u);
    SP_DEVICE_INTERFACE_DATA iface{};
    for (DWORD i = 0; Hid().SetupDiEnumDeviceInterfaces(set.get(), GUID_DEVINTERFACE_HID, i, &iface) == 0; ++i) {
        Interface f;
        wchar_t path[512];
        if (Hid().SetupDiGetDeviceInterfaceDetailW(set.get(), iface, path, 512, nullptr)) continue;
        f.path = path;
        SP_DEVINFO_DATA device{};
        wchar_t ids[256] = {};
        if (Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == 0 &&
            Devices().SetupDiGetDeviceRegistryPropertyW(set.get(), device, SPDRP_HARDWAREID, nullptr,
                                                        reinterpret_cast<BYTE*>(ids), sizeof ids - sizeof(wchar_t), nullptr) == 0)
            f.firstHardwareId = ids;
        UniqueDeviceHandle h;
        if (Hid().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, h.put()) == 0) {
            UniquePreparsedData preparsed;
            Hid().HidD_GetAttributes(h.get(), &f.attributes);
            if (Hid().HidD_GetPreparsedData(h.get(), preparsed.put()) == 0 &&
                Hid().HidP_GetCaps(preparsed.get(), &f.caps) == HIDP_STATUS_SUCCESS) {
                USHORT n = f.caps.NumberFeatureValueCaps;
                f.featureValues.resize(n);
                if (n && Hid().HidP_GetValueCaps(HidP_Feature, f.featureValues.data(), &n, preparsed.get()) !=
                             HIDP_STATUS_SUCCESS)
                    n = 0;
                f.featureValues.resize(n);
            }
        }
        found.push_back(std::move(f));
    }
    return found;
}

// The interfaces that are this collection of the file.
std::vector<Interface> Matching(const std::vector<Interface>& all, const HidSheet& c) {
    std::vector<Interface> out;
    for (const auto& f : all)
        if (f.attributes.VendorID == c.vendorId && f.attributes.ProductID == c.productId &&
            f.caps.UsagePage == c.usagePage && f.caps.Usage == c.usage)
            out.push_back(f);
    return out;
}

// The device nodes of the HID class whose first hardware id is the collection's.
int HidClassNodes(const HidSheet& c) {
    int n = 0;
    UniqueDevInfo set;
    EXPECT_EQ(Devices().SetupDiGetClassDevsW(GUID_DEVCLASS_HIDCLASS, DIGCF_PRESENT | DIGCF_PROFILE, set.put()), 0u);
    SP_DEVINFO_DATA device{};
    for (DWORD i = 0; Devices().SetupDiEnumDeviceInfo(set.get(), i, &device) == 0; ++i) {
        wchar_t ids[256] = {};
        if (Devices().SetupDiGetDeviceRegistryPropertyW(set.get(), device, SPDRP_HARDWAREID, nullptr,
                                                        reinterpret_cast<BYTE*>(ids), sizeof ids - sizeof(wchar_t), nullptr) == 0 &&
            ids == c.hardwareIds.at(0))
            ++n;
    }
    return n;
}

const HidSheet& Pad() { return tavo::laptops::HidNamed(contract::Laptop(), "vendor"); }

std::wstring PadPath() {
    const auto found = Matching(Scan(), Pad());
    return found.size() == 1 ? found[0].path : std::wstring();
}

class HidContract : public ::testing::Test {
protected:
    void SetUp() override {
        contract::InstallPlatform();
        contract::InstallLaptop();
        contract::TakePadReports();
    }
    void TearDown() override { contract::UninstallPlatform(); }
    UniqueDeviceHandle OpenPad() {
        UniqueDeviceHandle h;
        const std::wstring path = PadPath();
        EXPECT_FALSE(path.empty()) << "the pad is listed once";
        EXPECT_EQ(Hid().CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, 0, h.put()),
                  0u);
        return h;
    }
};

// ---- the file's collections, as the scan finds them ------------------------------------------

class Collections : public HidContract, public testing::WithParamInterface<std::string> {};

TEST_P(Collections, EachIsOneInterfaceWithTheFilesAttributesAndFeatureValues) {
    const HidSheet& c = tavo::laptops::HidNamed(contract::Laptop(), GetParam());
    const auto found = Matching(Scan(), c);
    ASSERT_EQ(found.size(), 1u);
    const Interface& f = found[0];
    EXPECT_EQ(f.attributes.VersionNumber, c.versionNumber);
    ASSERT_EQ(f.featureValues.size(), c.featureValues.size());
    unsigned featureBits = 0;
    for (std::size_t i = 0; i < c.featureValues.size(); ++i) {
        const auto& want = c.featureValues[i];
        const auto& got = f.featureValues[i];
        EXPECT_EQ(got.ReportID, want.reportId);
        EXPECT_EQ(got.UsagePage, want.usagePage);
        EXPECT_EQ(got.Usage, want.usage);
        EXPECT_EQ(got.BitSize, want.bitSize);
        EXPECT_EQ(got.ReportCount, want.reportCount);
        EXPECT_EQ(got.LogicalMin, want.logicalMin);
        EXPECT_EQ(got.LogicalMax, want.logicalMax);
        EXPECT_EQ(got.PhysicalMin, want.physicalMin);
        EXPECT_EQ(got.PhysicalMax, want.physicalMax);
        featureBits += unsigned{want.bitSize} * want.reportCount;
    }
    // The report id byte, then the data: what every buffer of a feature report must hold.
    EXPECT_EQ(f.caps.FeatureReportByteLength, featureBits ? 1 + (featureBits + 7) / 8 : 0);

    // The scan reads the interface's hardware id from the same index of the set. Wine names
    // a minidriver's HID device after its root node (README, Under Wine), where Windows
    // gives the collection's own ids.
    if (contract::UnderWine()) {
        wchar_t prefix[32];
        std::swprintf(prefix, 32, L"HID\\VID_%04X&PID_%04X\\", c.vendorId, c.productId);
        EXPECT_EQ(f.firstHardwareId.rfind(prefix, 0), 0u) << f.firstHardwareId.c_str();
    } else {
        EXPECT_EQ(f.firstHardwareId, c.hardwareIds.at(0));
    }

    // The system opens keyboards and mice exclusively; only an open without data access
    // reaches them. Wine opens nothing exclusively (README, The virtual laptop).
    UniqueDeviceHandle h;
    const DWORD e = Hid().CreateFileW(f.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      OPEN_EXISTING, 0, h.put());
    EXPECT_EQ(e, c.systemOwned && !contract::UnderWine() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Forcepad, Collections, testing::Values("keyboard", "pointer", "vendor"),
                         [](const auto& info) { return info.param; });

// ---- the pad's feature report 0x0D -------------------------------------------------------------

// One call: a report sent (HidD_SetFeature) or a buffer fetched into (HidD_GetFeature), of
// `length` bytes (0: the report's own), and what it gives.
struct Exchange {
    bool set;
    Bytes report;
    DWORD error;
    Bytes answer;  // a fetch's buffer afterwards
    ULONG length = 0;
    std::optional<DWORD> wineError = std::nullopt;  // what Wine gives instead (README, Under Wine)
};
Exchange Send(Bytes r, DWORD e = 0, ULONG length = 0) { return {true, std::move(r), e, {}, length}; }
Exchange Fetch(Bytes answer, DWORD e = 0, ULONG length = 0) { return {false, {0x0D, 0, 0, 0, 0}, e, std::move(answer), length}; }
Exchange UnderWine(Exchange x, DWORD e) {
    x.wineError = e;
    return x;
}

struct FeatureCase {
    const char* name;
    std::vector<Exchange> calls;
    Lines record;  // what the pad's firmware saw
};

class FeatureReports : public HidContract, public testing::WithParamInterface<FeatureCase> {};

TEST_P(FeatureReports, ReachThePadAsTheFirmwareRecordsThem) {
    UniqueDeviceHandle pad = OpenPad();
    ASSERT_TRUE(pad);
    for (std::size_t i = 0; i < GetParam().calls.size(); ++i) {
        const Exchange& x = GetParam().calls[i];
        SCOPED_TRACE("call " + std::to_string(i));
        Bytes buffer = x.report;
        buffer.resize(x.length ? x.length : buffer.size());
        const ULONG n = static_cast<ULONG>(buffer.size());
        const DWORD e = x.set ? Hid().HidD_SetFeature(pad.get(), buffer.data(), n)
                              : Hid().HidD_GetFeature(pad.get(), buffer.data(), n);
        EXPECT_EQ(e, contract::UnderWine() && x.wineError ? *x.wineError : x.error);
        if (!x.set && x.error == 0) {
            EXPECT_EQ(buffer, x.answer);
        }
    }
    EXPECT_EQ(contract::TakePadReports(), GetParam().record);
}

// Functions of the forcepad file's table: 0x0105 = 0x1E14, 0x0104 = 0x0001, 0x03AB = 0x4040.
INSTANTIATE_TEST_SUITE_P(
    Forcepad, FeatureReports,
    testing::Values(
        FeatureCase{"AReadRequestThenAFetchAnswersTheFunction",
                    {Send({0x0D, 0x05, 0x03, 0x05, 0x01}), Fetch({0x0D, 0x05, 0x01, 0x14, 0x1E})},
                    {"> 0D 05 03 05 01", "< 0D 05 01 14 1E"}},
        FeatureCase{"TheRequestStaysOutstandingForTheNextFetch",
                    {Send({0x0D, 0x05, 0x03, 0x04, 0x01}), Fetch({0x0D, 0x04, 0x01, 0x01, 0x00}),
                     Fetch({0x0D, 0x04, 0x01, 0x01, 0x00})},
                    {"> 0D 05 03 04 01", "< 0D 04 01 01 00", "< 0D 04 01 01 00"}},
        // The last write puts the file's value back for the cases after it.
        FeatureCase{"AWriteIsStoredAndReadBack",
                    {Send({0x0D, 0xAB, 0x03, 0x50, 0x50}), Send({0x0D, 0x05, 0x03, 0xAB, 0x03}),
                     Fetch({0x0D, 0xAB, 0x03, 0x50, 0x50}), Send({0x0D, 0xAB, 0x03, 0x40, 0x40})},
                    {"> 0D AB 03 50 50", "> 0D 05 03 AB 03", "< 0D AB 03 50 50", "> 0D AB 03 40 40"}},
        FeatureCase{"AFunctionOutsideTheTableStallsAsAFailure",
                    {Send({0x0D, 0x05, 0x03, 0xFF, 0x7F}, ERROR_GEN_FAILURE),
                     Send({0x0D, 0xFF, 0x7F, 0x01, 0x00}, ERROR_GEN_FAILURE)},
                    {"> 0D 05 03 FF 7F refused", "> 0D FF 7F 01 00 refused"}},
        // hidclass checks a report against the collection's descriptor before the device
        // sees it: too short for the report, or a report id the collection does not have.
        // Wine's hidclass calls a short buffer an invalid parameter.
        FeatureCase{"AReportTooShortForTheCollectionNeverReachesThePad",
                    {UnderWine(Send({0x0D, 0x05, 0x03, 0x05}, ERROR_INVALID_USER_BUFFER), ERROR_INVALID_PARAMETER),
                     UnderWine(Fetch({}, ERROR_INVALID_USER_BUFFER, 4), ERROR_INVALID_PARAMETER)},
                    {}},
        FeatureCase{"AReportIdTheCollectionLacksNeverReachesThePad",
                    {Send({0x0E, 0x05, 0x03, 0x05, 0x01}, ERROR_INVALID_PARAMETER)},
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HidContract, APadThatRefusesEveryReportFailsEachAndRecordsIt) {
    UniqueDeviceHandle pad = OpenPad();
    ASSERT_TRUE(pad);
    contract::RefusePadReports(true);
    Bytes request{0x0D, 0x05, 0x03, 0x05, 0x01};
    const DWORD refused = Hid().HidD_SetFeature(pad.get(), request.data(), 5);
    Bytes write{0x0D, 0xAB, 0x03, 0x50, 0x50};
    const DWORD refusedWrite = Hid().HidD_SetFeature(pad.get(), write.data(), 5);
    contract::RefusePadReports(false);
    EXPECT_EQ(refused, ERROR_GEN_FAILURE);
    EXPECT_EQ(refusedWrite, ERROR_GEN_FAILURE);
    // Accepting again, the refused write left the table as it was.
    Bytes read{0x0D, 0x05, 0x03, 0xAB, 0x03};
    EXPECT_EQ(Hid().HidD_SetFeature(pad.get(), read.data(), 5), 0u);
    Bytes answer{0x0D, 0, 0, 0, 0};
    EXPECT_EQ(Hid().HidD_GetFeature(pad.get(), answer.data(), 5), 0u);
    EXPECT_EQ(answer, (Bytes{0x0D, 0xAB, 0x03, 0x40, 0x40}));
    EXPECT_EQ(contract::TakePadReports(), (Lines{"> 0D 05 03 05 01 refused", "> 0D AB 03 50 50 refused",
                                                 "> 0D 05 03 AB 03", "< 0D AB 03 40 40"}));
}

TEST_F(HidContract, AClosedHandleReachesNothing) {
    UniqueDeviceHandle pad = OpenPad();
    ASSERT_TRUE(pad);
    const HANDLE closed = pad.release();
    ASSERT_EQ(Hid().CloseHandle(closed), 0u);
    HIDD_ATTRIBUTES a{12, 0, 0, 0};
    EXPECT_EQ(Hid().HidD_GetAttributes(closed, &a), ERROR_INVALID_HANDLE);
    Bytes request{0x0D, 0x05, 0x03, 0x05, 0x01};
    EXPECT_EQ(Hid().HidD_SetFeature(closed, request.data(), 5), ERROR_INVALID_HANDLE);
    EXPECT_EQ(contract::TakePadReports(), Lines{});
}

// Unplugged (DIF_REMOVE) while a handle is open, then plugged in again: the old handle stays
// dead, the path no longer opens, and neither a scan nor the device manager's HID class lists
// the pad until it is back; back, it has the table it had, and nothing sent meanwhile reached it.
TEST_F(HidContract, AnUnpluggedPadIsGoneUntilPluggedInAgainWithItsTable) {
    UniqueDeviceHandle pad = OpenPad();
    ASSERT_TRUE(pad);
    const std::wstring path = PadPath();
    Bytes write{0x0D, 0xAB, 0x03, 0x50, 0x50};
    ASSERT_EQ(Hid().HidD_SetFeature(pad.get(), write.data(), 5), 0u);
    Bytes read{0x0D, 0x05, 0x03, 0xAB, 0x03};
    ASSERT_EQ(Hid().HidD_SetFeature(pad.get(), read.data(), 5), 0u);

    contract::UnplugPad();
    // Wine fails a removed device's handle with access denied (README, Under Wine).
    const DWORD gone = contract::UnderWine() ? ERROR_ACCESS_DENIED : ERROR_DEVICE_NOT_CONNECTED;
    HIDD_ATTRIBUTES a{12, 0, 0, 0};
    EXPECT_EQ(Hid().HidD_GetAttributes(pad.get(), &a), gone);
    Bytes request{0x0D, 0x05, 0x03, 0x05, 0x01};
    EXPECT_EQ(Hid().HidD_SetFeature(pad.get(), request.data(), 5), gone);
    UniqueDeviceHandle again;
    EXPECT_EQ(Hid().CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                OPEN_EXISTING, 0, again.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Matching(Scan(), Pad()).empty());
    EXPECT_EQ(HidClassNodes(Pad()), 0);

    contract::PlugPad();
    EXPECT_EQ(Hid().HidD_SetFeature(pad.get(), request.data(), 5), gone) << "a handle of the earlier presence";
    EXPECT_EQ(HidClassNodes(Pad()), 1);
    UniqueDeviceHandle back = OpenPad();
    ASSERT_TRUE(back);
    Bytes answer{0x0D, 0, 0, 0, 0};
    // A device that comes back has started afresh: the request sent before it went is gone.
    EXPECT_EQ(Hid().HidD_GetFeature(back.get(), answer.data(), 5), ERROR_GEN_FAILURE);
    EXPECT_EQ(Hid().HidD_SetFeature(back.get(), read.data(), 5), 0u);
    EXPECT_EQ(Hid().HidD_GetFeature(back.get(), answer.data(), 5), 0u);
    EXPECT_EQ(answer, write) << "the table it had";
    Bytes restore{0x0D, 0xAB, 0x03, 0x40, 0x40};
    EXPECT_EQ(Hid().HidD_SetFeature(back.get(), restore.data(), 5), 0u);
    EXPECT_EQ(contract::TakePadReports(), (Lines{"> 0D AB 03 50 50", "> 0D 05 03 AB 03", "< refused", "> 0D 05 03 AB 03",
                                                 "< 0D AB 03 50 50", "> 0D AB 03 40 40"}));
}

}  // namespace
