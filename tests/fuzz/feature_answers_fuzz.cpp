// A touchpad whose firmware answers the vendor feature report 0x0D as it pleases: any value
// for any function, refusals, and fetches answered with any five bytes or any error, in any
// order. Then everything the service reads from the pad and pushes into it.
#include <deque>
#include <memory>

#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "fuzz_input.h"
#include "fuzz_scenario.h"
#include "laptops/laptops.h"
#include "rpc/procedures.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/settings_store.h"

namespace tavo::fuzz {
namespace {

using namespace tavo::laptops;

const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

constexpr win::WORD kFunctions[] = {fn::kMeteringProbe,    fn::kForcepadSupport,  fn::kStepCounts,
                                    fn::kExtentX,          fn::kExtentY,          fn::kResolutionClass,
                                    fn::kBiosEnable,       fn::kForcepadOptions,  fn::kClickForce1,
                                    fn::kClickForce2,      fn::kClickForce3,      fn::kButtonClickForce1,
                                    fn::kButtonClickForce2, fn::kHapticStrength};
constexpr win::DWORD kErrors[] = {win::ERROR_GEN_FAILURE, win::ERROR_DEVICE_NOT_CONNECTED, win::ERROR_INVALID_PARAMETER,
                                  win::ERROR_ACCESS_DENIED};

std::deque<sim::TouchpadFirmware::Answer> AnyAnswers(FuzzInput& in) {
    std::deque<sim::TouchpadFirmware::Answer> answers(in.Pick(24));
    for (auto& a : answers) {
        if (in.U8() >= 224) a.error = in.PickFrom(kErrors);
        for (auto& b : a.bytes) b = in.U8();
    }
    return answers;
}

}  // namespace

int FuzzFeatureAnswers(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Scenario s;
    const std::uint8_t setup = in.U8();
    // The firmware's table: every function the service uses, with any value, or missing.
    auto firmware = std::make_shared<sim::TouchpadFirmware>();
    for (win::WORD function : kFunctions) {
        const std::uint8_t choice = in.U8();
        if (choice >= 240) continue;  // not implemented: requests for it stall
        if (choice >= 224) firmware->Refuse(function);
        firmware->Set(function, in.U16());
    }
    firmware->Script(AnyAnswers(in));
    Build(s.machine, (setup & 1) ? LoadSimLaptop("forcepad", firmware) : LoadSimLaptop("touchpad", firmware));
    s.machine.registry.Import(DriverPackageReg(L"0000", 2, 3, (setup & 2) ? 1 : 0));
    WorkaroundGetHKRRegistryPath();
    ReadHKRDefaultSettings(DriverKeyPath());
    if (setup & 4) {
        s.machine.sessions.LogOn(L"alice");
        InstallCompanion(s.machine, L"alice");
    }

    const TouchpadInfo before = PublishedTouchpadInfo();
    if (ReadTouchpadInfo() == 1) {
        const TouchpadInfo info = PublishedTouchpadInfo();
        FUZZ_CHECK(info == WorkingTouchpadInfo());
        FUZZ_CHECK(info.BiosEnableTP <= 1);
        FUZZ_CHECK(info.TouchPad_Steps_X <= 0xFF && info.TouchPad_Steps_Y <= 0xFF);
        FUZZ_CHECK(info.TouchPad_Physical_X ==
                   ComputePhysicalSize(info.TouchPad_Extent_X, info.TouchPad_Steps_X, info.TouchPad_Class_X));
        FUZZ_CHECK(info.TouchPad_Physical_Y ==
                   ComputePhysicalSize(info.TouchPad_Extent_Y, info.TouchPad_Steps_Y, info.TouchPad_Class_Y));
    } else {
        FUZZ_CHECK(PublishedTouchpadInfo() == before);
    }
    s.CheckNothingOpen();

    ReadPSTStatusFromDM = GetPSTDeivce() ? 1 : 0;
    ReadForcepadCapability();
    const std::int32_t capability = s.StoredDword(kSettingsKey, kValueForcepadCapability);
    FUZZ_CHECK(capability == 0 || capability == 1);
    s.CheckNothingOpen();

    // Every item of the forcepad push, with the answers left over.
    for (std::int32_t item = 0; item <= FORCEPAD_DEFAULT_VALUE; ++item) {
        ForcepadSettings one = kForcepadDefaults;
        one.CurrentControlItem = item;
        one.HapticFeedbackCheckSlider = static_cast<std::int32_t>(in.Pick(5)) * 25;
        one.ClickForceCheckOption = static_cast<std::int32_t>(in.Pick(4));
        SetForcePadFunction(one);
        s.CheckNothingOpen();
    }
    firmware->Script(AnyAnswers(in));
    ForcePadControl(liveForcepadSettings, 0, 0);
    ForcePadControl(liveForcepadSettings, 1, 0);

    MeteringContext* context = OpenRpcEndpoint();
    StartMetering(context, 0, 0);
    for (std::int32_t function : {2, 3}) {
        std::int32_t value = 0x5EED;
        ProcessGetTouchpadData(context, function, &value);
        const TouchpadInfo info = PublishedTouchpadInfo();
        FUZZ_CHECK(value == static_cast<std::int32_t>(function == 2 ? info.TouchPad_Physical_X : info.TouchPad_Physical_Y));
    }
    std::uint8_t status = 0xEE;
    ProcessGetTouchpadStatus(context, &status);
    FUZZ_CHECK((status & ~0x07) == 0);
    CloseRpcEndpoint(&context);
    s.CheckNothingOpen();
    return 0;
}

}  // namespace tavo::fuzz
