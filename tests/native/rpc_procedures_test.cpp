// The settings application's procedures on a simulated laptop: what each leaves in the
// registry, on the pad, on standard output, in the debugger output and in the trace.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/touchpad_info.h"
#include "native/companion_fixture.h"
#include "rpc/procedures.h"
#include "settings/driver_defaults.h"
#include "settings/palm_control.h"

namespace tavo::test {
namespace {

const std::wstring kAlice = kSettingsKey + L"\\alice";
// Values as the registry shows them: -2 for a value that is not there.
constexpr PalmSettings kNothing{-2, -2, -2, -2, -2};
constexpr ForcepadSettings kNoForcepad{-2, -2, -2, -2, -2, -2, -2, -2, -2};
constexpr PalmSettings kPalmDefaults{2, 0, 0, 0, 0};  // the driver's default level 2

class ProceduresTest : public CompanionTest {
public:
    void SetUp() override {
        CompanionTest::SetUp();
        built = Build(machine, LoadSimLaptop("touchpad", firmware));
        machine.registry.Import(DriverPackageReg(L"0000", 2, 3, 1));
        ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
        ReadHKRDefaultSettings(DriverKeyPath());
        machine.sessions.LogOn(L"alice");
        context = OpenRpcEndpoint();
        ASSERT_NE(context, nullptr);
        machine.console.Clear();
        firmware->ClearReports();
        Mark();
    }
    void TearDown() override {
        if (context) CloseRpcEndpoint(&context);
        CompanionTest::TearDown();
    }

    sim::Machine& Machine() { return machine; }
    void Companion(bool folder, bool component) {
        if (folder) machine.files.AddFolder(CompanionPackageFolder(L"alice"));
        if (component) machine.devices.Add(SoftwareComponent());
    }
    ForcepadSettings ForcepadAt(const std::wstring& key) const {
        ForcepadSettings r;
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i) {
            auto v = machine.registry.Dword(key, RecordLayout<ForcepadSettings>::fields[i].valueName);
            Field(r, i) = v ? static_cast<std::int32_t>(*v) : -2;
        }
        return r;
    }
    int DeviceWrites() const {
        int n = 0;
        for (const auto& r : firmware->Reports())
            n += r.direction == sim::TouchpadFirmware::Direction::ToDevice && !(r.bytes[1] == 0x05 && r.bytes[2] == 0x03);
        return n;
    }

    std::shared_ptr<sim::TouchpadFirmware> firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    BuiltLaptop built;
    MeteringContext* context = nullptr;
};

TEST_F(ProceduresTest, TouchpadDataAnswersByFunctionNumber) {
    ASSERT_EQ(ReadTouchpadInfo(), 1);
    const TouchpadInfo info = PublishedTouchpadInfo();
    ASSERT_NE(info.TouchPad_Physical_X, 0u);
    struct Case {
        std::int32_t function;
        std::int32_t data;
    } cases[] = {{1, 1},
                 {2, static_cast<std::int32_t>(info.TouchPad_Physical_X)},
                 {3, static_cast<std::int32_t>(info.TouchPad_Physical_Y)},
                 {4, 3},
                 {5, 2},
                 {99, kTouchpadDataSignature},
                 {0, 0},
                 {6, 0},
                 {98, 0},
                 {100, 0},
                 {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        std::int32_t data = 0x5EED;
        ProcessGetTouchpadData(context, c.function, &data);
        EXPECT_EQ(data, c.data);
        char line[96];
        std::snprintf(line, sizeof line, "Service::ProcessGetTouchpadData:: Function = 0x%.8X, Data = 0x%.8X\r\n",
                      static_cast<unsigned>(c.function), static_cast<unsigned>(c.data));
        EXPECT_TRUE(Has(std::wstring(line, line + std::strlen(line))));
    }
    // Function 1 follows the last software-component result; the driver's values read as -1
    // when the driver package lacks them.
    softwareComponentResult = 0;
    machine.registry.DeleteKey(std::wstring(L"HKLM\\") + kSoftwareComponentClassKeyPath + L"\\0000");
    machine.registry.Import(DriverPackageReg(L"0000", -1, -1, 1));
    ReadHKRDefaultSettings(DriverKeyPath());
    for (const Case& c : {Case{1, 0}, Case{4, -1}, Case{5, -1}}) {
        std::int32_t data = 0x5EED;
        ProcessGetTouchpadData(context, c.function, &data);
        EXPECT_EQ(data, c.data) << c.function;
    }
}

TEST_F(ProceduresTest, SamplePeriodIsClampedToOneSecond) {
    struct Case {
        std::int64_t asked;
        std::int64_t stored;
    } cases[] = {{0, 1}, {-5, 1}, {250, 250}, {5000, 1000}, {1, 1}, {1000, 1000}, {INT64_MIN, 1}, {INT64_MAX, 1000}};
    for (const Case& c : cases) {
        SetSamplePeriod(context, c.asked);
        EXPECT_EQ(context->samplePeriod.load(), c.stored) << c.asked;
    }
    const auto debug = machine.system.DebugStrings();
    ASSERT_EQ(debug.size(), 2 * std::size(cases));
    EXPECT_EQ(debug[0], L"Metering::SetSamplePeriod++");
    EXPECT_EQ(debug[1], L"Metering::SetSamplePeriod--");
}

// The four settings procedures, with the companion's two parts present or not.
struct SettingsCase {
    const char* name;
    bool folder;
    bool component;
};

class SettingsProceduresTest : public ProceduresTest, public testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsProceduresTest, StoreAndApplyOnlyWhileTheCompanionIsInstalled) {
    const SettingsCase& c = GetParam();
    const bool present = c.folder && c.component;
    Companion(c.folder, c.component);
    const PalmSettings sent{3, 1, 2, 3, 4};
    const ForcepadSettings forcepad{4, 1, 75, 2, 2, 1, 0, 1, 0};

    ProcessSetTouchpadSettings(context, &sent);
    EXPECT_EQ(UserStore(L"alice"), present ? sent : kNothing);
    EXPECT_EQ(InForce(), present ? sent : kNothing) << "applied through the palm decision";
    char line[80];
    std::snprintf(line, sizeof line, "[ProcessSetTouchpadSettings] UWPInstall = %d, SWCInstall = %d\r\n",
                  c.folder ? 1 : 0, c.component ? 1 : 0);
    EXPECT_TRUE(Has(std::wstring(line, line + std::strlen(line))));

    ProcessSetForcepadSettings(context, &forcepad);
    EXPECT_EQ(ForcepadAt(kAlice), present ? forcepad : kNoForcepad);
    EXPECT_EQ(DeviceWrites() > 0, present) << "pushed to the pad only when applied";
    EXPECT_EQ(firmware->Value(0x03AB), present ? 0x3030 : 0x4040);

    PalmSettings palmOut{9, 9, 9, 9, 9};
    ProcessGetTouchpadSettings(context, &palmOut);
    EXPECT_EQ(palmOut, present ? sent : kPalmDefaults) << "else the palm defaults";
    ForcepadSettings forcepadOut{9, 9, 9, 9, 9, 9, 9, 9, 9};
    ProcessGetForcepadSettings(context, &forcepadOut);
    EXPECT_EQ(forcepadOut, present ? forcepad : kForcepadDefaults) << "else the forcepad defaults";

    for (const wchar_t* name : {L"ProcessSetTouchpadSettings", L"ProcessGetTouchpadSettings",
                                L"ProcessSetForcepadSettings", L"ProcessGetForcepadSettings"}) {
        EXPECT_EQ(Count(std::wstring(L"Service::") + name + L"++\r\n"), 1) << std::wstring(name).size();
        EXPECT_EQ(Count(std::wstring(L"Service::") + name + L"--\r\n"), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Rpc, SettingsProceduresTest,
                         testing::Values(SettingsCase{"Installed", true, true},
                                         SettingsCase{"NoPackageFolder", false, true},
                                         SettingsCase{"NoComponent", true, false}),
                         [](const testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

TEST_F(ProceduresTest, AGetWhoseUserKeyCannotBeReadAnswersNothingStoredNotTheCallersBytes) {
    Companion(true, true);
    machine.faults.Fail("RegCreateKeyExW", win::ERROR_ACCESS_DENIED);
    machine.faults.Fail("RegOpenKeyExW", win::ERROR_ACCESS_DENIED);
    PalmSettings palm{9, 9, 9, 9, 9};
    ProcessGetTouchpadSettings(context, &palm);
    EXPECT_EQ(palm, (PalmSettings{-1, -1, -1, -1, -1}));
    ForcepadSettings forcepad{9, 9, 9, 9, 9, 9, 9, 9, 9};
    ProcessGetForcepadSettings(context, &forcepad);
    EXPECT_EQ(forcepad, (ForcepadSettings{-1, -1, -1, -1, -1, -1, -1, -1, -1}));
}

// The metering probe reads one function of the pad and closes it again on every path.
TEST_F(ProceduresTest, MeteringProbeReadsThePadAndReportsOnEveryPath) {
    struct Case {
        const char* name;
        void (*stage)(ProceduresTest& t);
        std::vector<std::wstring> debug;
        bool readFailureLogged;
    } cases[] = {
        {"touchpad answers", [](ProceduresTest&) {},
         {L"Metering::StartMetering++", L"Find TAVO HID Device", L"Close TAVO HID Device",
          L"Metering::StartMetering--"},
         false},
        {"read refused", [](ProceduresTest& t) { t.firmware->Refuse(0x0101); },
         {L"Metering::StartMetering++", L"Find TAVO HID Device"},
         true},
        {"no touchpad", [](ProceduresTest& t) { t.Machine().devices.Unplug(t.built.hidNodes[2]); },
         {L"Metering::StartMetering++", L"Cannot Find TAVO HID Device", L"Metering::StartMetering--"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto debugBefore = machine.system.DebugStrings().size();
        machine.console.Clear();
        Mark();
        c.stage(*this);
        StartMetering(context, INT64_MIN, INT64_MAX);
        const auto debug = machine.system.DebugStrings();
        EXPECT_EQ(std::vector<std::wstring>(debug.begin() + static_cast<std::ptrdiff_t>(debugBefore), debug.end()),
                  c.debug);
        EXPECT_EQ(machine.console.Text(), L"start metering\ndone metering\n");
        EXPECT_EQ(Has(L"GetFeatureFunction Fail #8\r\n"), c.readFailureLogged);
        EXPECT_EQ(machine.handles.OpenCount("DeviceFile"), 0);
    }
}

TEST_F(ProceduresTest, ContextsOpenStopCloseAndRunDown) {
    StopMetering(context);
    EXPECT_TRUE(context->stopped.load());
    CloseRpcEndpoint(&context);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(machine.console.Text(), L"stop metering\nclosing rpc endpoint\n");

    machine.console.Clear();
    MeteringContext* orphan = OpenRpcEndpoint();
    EXPECT_EQ(orphan->samplePeriod.load(), 100);
    EXPECT_FALSE(orphan->stopped.load());
    RpcContextRundown(orphan);  // frees it: ASan would catch a leak or a second free
    EXPECT_EQ(machine.console.Text(), L"opening rpc endpoint\nclient died\nstop metering\nclosing rpc endpoint\n");
}

TEST_F(ProceduresTest, StatusSupportAndMouseProperties) {
    machine.registry.SetDword(kSettingsKey, L"Function_CustomPalmRejection", 1);
    softwareComponentResult = 0;
    Companion(false, true);
    std::int32_t enable = 0x5EED;
    ProcessGetSupportFunction(context, &enable);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(softwareComponentResult.load(), 1) << "refreshed by the call";
    EXPECT_TRUE(Has(L"Service::ProcessGetSupportFunction::EnableResult=0x01\r\n"));
    machine.registry.SetDword(kSettingsKey, L"Function_CustomPalmRejection", 2);
    ProcessGetSupportFunction(context, &enable);
    EXPECT_EQ(enable, 0);

    ASSERT_EQ(ReadTouchpadInfo(), 1);
    std::uint8_t status = 0xEE;
    ProcessGetTouchpadStatus(context, &status);
    EXPECT_EQ(status, 0x07) << "BIOS, user switch (not stored: on) and device node all enable it";
    EXPECT_TRUE(Has(L"ProcessGetTouchpadStatus::EnableResult=0x07\r\n"));

    ProcessExecuteMouseProperties(context);
    EXPECT_TRUE(Has(L"Service::ProcessExecuteMouseProperties\r\n"));
}

}  // namespace
}  // namespace tavo::test
