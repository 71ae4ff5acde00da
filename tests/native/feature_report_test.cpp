// The vendor feature report on the wire: exact bytes both ways, log lines and failures.
#include <gtest/gtest.h>

#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device_fixture.h"

namespace tavo::test {
namespace {

using Report = sim::TouchpadFirmware::Report;
using Dir = sim::TouchpadFirmware::Direction;

class FeatureReportTest : public DeviceTest {
protected:
    FeatureReportTest() {
        built = Build(machine, LoadSimLaptop("touchpad", firmware));
        EXPECT_TRUE(ScanTavoHidDevice(&touchpad));
        firmware->ClearReports();
    }
    win::HANDLE device() const { return touchpad.handle.get(); }

    BuiltLaptop built;
    TavoTouchpad touchpad;
};

TEST_F(FeatureReportTest, ReadSendsTheRequestThenFetchesTheAnswer) {
    EXPECT_EQ(GetFeatureFunction(device(), fn::kForcepadSupport), 0x0001);
    const std::vector<Report> expected = {{Dir::ToDevice, {0x0D, 0x05, 0x03, 0x04, 0x01}, true},
                                          {Dir::FromDevice, {0x0D, 0x04, 0x01, 0x01, 0x00}, true}};
    EXPECT_EQ(firmware->Reports(), expected);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x0104) Success (0x0001)\r\n"));

    firmware->Set(fn::kExtentX, 0x0C80);
    EXPECT_EQ(GetFeatureFunction(device(), fn::kExtentX), 0x0C80) << "high byte is byte 4";
}

TEST_F(FeatureReportTest, WriteSendsFunctionAndDataLittleEndian) {
    EXPECT_TRUE(SetFeatureFunction(device(), fn::kHapticStrength, 0x2020));
    EXPECT_TRUE(SetFeatureFunction(device(), fn::kClickForce1, 0x00C0));
    const std::vector<Report> expected = {{Dir::ToDevice, {0x0D, 0xAB, 0x03, 0x20, 0x20}, true},
                                          {Dir::ToDevice, {0x0D, 0xA2, 0x03, 0xC0, 0x00}, true}};
    EXPECT_EQ(firmware->Reports(), expected);
    EXPECT_EQ(firmware->Value(fn::kHapticStrength), 0x2020);
    EXPECT_EQ(firmware->Value(fn::kClickForce1), 0x00C0);
    EXPECT_TRUE(Logged(L"SetFeatureFunction(0x03AB, 0x2020) Success\r\n"));
    EXPECT_TRUE(Logged(L"SetFeatureFunction(0x03A2, 0x00C0) Success\r\n"));
}

TEST_F(FeatureReportTest, RefusedRequestSkipsTheFetch) {
    firmware->Refuse(fn::kBiosEnable);
    EXPECT_EQ(GetFeatureFunction(device(), fn::kBiosEnable), kFeatureReadFailed);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x0365) Set Fail\r\n"));
    EXPECT_EQ(machine.faults.Uses("HidD_GetFeature"), 0);
    ASSERT_EQ(firmware->Reports().size(), 1u);
    EXPECT_FALSE(firmware->Reports()[0].accepted);

    EXPECT_FALSE(SetFeatureFunction(device(), fn::kBiosEnable, 0x8000));
    EXPECT_TRUE(Logged(L"SetFeatureFunction(0x0365, 0x8000) Fail (Err=31)\r\n"));

    firmware->AcceptAll();
    EXPECT_EQ(GetFeatureFunction(device(), fn::kBiosEnable), 0x8000) << "answered again";
}

TEST_F(FeatureReportTest, FailedFetchIsLoggedWithItsError) {
    machine.faults.Fail("HidD_GetFeature", win::ERROR_GEN_FAILURE);
    EXPECT_EQ(GetFeatureFunction(device(), fn::kForcepadOptions), kFeatureReadFailed);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x03A1) Fail (Err=31)\r\n"));
}

TEST_F(FeatureReportTest, AnswerOfAllOnesReadsAsTheFailureValue) {
    firmware->Set(fn::kStepCounts, 0xFFFF);
    EXPECT_EQ(GetFeatureFunction(device(), fn::kStepCounts), kFeatureReadFailed);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x0105) Success (0xFFFF)\r\n"));
}

TEST_F(FeatureReportTest, UnpluggedDeviceFailsBothWays) {
    machine.devices.Unplug(built.hidNodes[2]);  // the configuration collection
    EXPECT_FALSE(SetFeatureFunction(device(), fn::kHapticStrength, 0x4040));
    EXPECT_TRUE(Logged(L"SetFeatureFunction(0x03AB, 0x4040) Fail (Err=1167)\r\n"));
    EXPECT_EQ(GetFeatureFunction(device(), fn::kHapticStrength), kFeatureReadFailed);
    EXPECT_TRUE(Logged(L"GetFeatureFunction(0x0305, 0x03AB) Set Fail\r\n"));
    EXPECT_TRUE(firmware->Reports().empty());

    EXPECT_FALSE(SetFeatureFunction(win::INVALID_HANDLE_VALUE, fn::kHapticStrength, 0x4040));
    EXPECT_TRUE(Logged(L"SetFeatureFunction(0x03AB, 0x4040) Fail (Err=6)\r\n"));

    // Plugged in again: the handle of before stays dead, a new scan reaches the pad.
    machine.devices.Replug(built.hidNodes[2]);
    EXPECT_FALSE(SetFeatureFunction(device(), fn::kHapticStrength, 0x4040));
    TavoTouchpad again;
    ASSERT_TRUE(ScanTavoHidDevice(&again));
    EXPECT_TRUE(SetFeatureFunction(again.handle.get(), fn::kHapticStrength, 0x4040));
}

// A device that answers as it pleases: the value is bytes 3 and 4 of what came back, whatever
// the rest of the answer says; a failed fetch is the failure value.
TEST_F(FeatureReportTest, TheValueIsTheAnswersDataWordWhateverElseItSays) {
    using Answer = sim::TouchpadFirmware::Answer;
    struct Case {
        const char* name;
        Answer answer;
        win::WORD value;
        const wchar_t* line;
    } cases[] = {
        {"echoes another function", {0, {0x0D, 0x06, 0x01, 0x34, 0x12}}, 0x1234,
         L"GetFeatureFunction(0x0305, 0x0104) Success (0x1234)\r\n"},
        {"another report id", {0, {0x00, 0x00, 0x00, 0x01, 0x00}}, 0x0001,
         L"GetFeatureFunction(0x0305, 0x0104) Success (0x0001)\r\n"},
        {"all ones", {0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, kFeatureReadFailed,
         L"GetFeatureFunction(0x0305, 0x0104) Success (0xFFFF)\r\n"},
        {"device gone mid-read", {win::ERROR_DEVICE_NOT_CONNECTED, {}}, kFeatureReadFailed,
         L"GetFeatureFunction(0x0305, 0x0104) Fail (Err=1167)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mark();
        firmware->Script({c.answer});
        EXPECT_EQ(GetFeatureFunction(device(), fn::kForcepadSupport), c.value);
        EXPECT_TRUE(Has(c.line));
    }
    EXPECT_EQ(GetFeatureFunction(device(), fn::kForcepadSupport), 0x0001) << "the table answers again";
}

}  // namespace
}  // namespace tavo::test
