// The settings application's thirteen procedures (and the run-down of a dead client's
// context) called in any order with any arguments, on a simulated laptop whose service
// state the input also chooses. What a client sends must never crash the service, leak a
// handle or a context, or break what the procedures promise about their answers.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "device/system_probes.h"
#include "device/touchpad_info.h"
#include "fuzz_input.h"
#include "fuzz_scenario.h"
#include "laptops/laptops.h"
#include "monitors/toggle_flag.h"
#include "rpc/procedures.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo::fuzz {
namespace {

using namespace tavo::laptops;

constexpr std::size_t kMaxCalls = 24;
constexpr std::size_t kMaxContexts = 8;
const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;
const std::wstring kAliceKey = kSettingsKey + L"\\alice";

enum Setup : std::uint8_t {
    kForcepadLaptop = 0x01,
    kAliceLoggedOn = 0x02,
    kPackageFolder = 0x04,
    kComponent = 0x08,
    kDriverPackage = 0x10,
    kStartReads = 0x20,  // what the service reads at start before the first call arrives
    kCustomPalm = 0x40,
    kAppliedAtStart = 0x80,
};

PalmSettings AnyPalm(FuzzInput& in) {
    PalmSettings r;
    for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i) Field(r, i) = in.Int32();
    return r;
}

ForcepadSettings AnyForcepad(FuzzInput& in) {
    ForcepadSettings r;
    for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i) Field(r, i) = in.Int32();
    return r;
}

// Contexts the "clients" hold; the run time never hands a procedure a null one.
class Clients {
public:
    ~Clients() {
        for (MeteringContext* c : contexts_) CloseRpcEndpoint(&c);
    }
    MeteringContext* Any(FuzzInput& in) {
        if (contexts_.empty()) Open();
        return contexts_[in.Pick(contexts_.size())];
    }
    void Open() {
        if (contexts_.size() >= kMaxContexts) return;
        MeteringContext* c = OpenRpcEndpoint();
        FUZZ_CHECK(c != nullptr);
        FUZZ_CHECK(c->samplePeriod.load() == 100 && !c->stopped.load());
        contexts_.push_back(c);
    }
    // Closed by its client, or run down after the client died.
    void End(FuzzInput& in, bool rundown) {
        if (contexts_.empty()) return;
        const std::size_t i = in.Pick(contexts_.size());
        MeteringContext* c = contexts_[i];
        contexts_.erase(contexts_.begin() + static_cast<std::ptrdiff_t>(i));
        if (rundown) {
            RpcContextRundown(c);
        } else {
            CloseRpcEndpoint(&c);
            FUZZ_CHECK(c == nullptr);
        }
    }

private:
    std::vector<MeteringContext*> contexts_;
};

}  // namespace

int FuzzRpcProcedures(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Scenario s;
    const std::uint8_t setup = in.U8();
    auto firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    Build(s.machine, (setup & kForcepadLaptop) ? LoadSimLaptop("forcepad", firmware) : LoadSimLaptop("touchpad", firmware));
    if (setup & kDriverPackage) {
        const std::int32_t palmDefault = in.Int32(), rangeGroup = in.Int32(), dynamic = in.Int32();
        s.machine.registry.Import(DriverPackageReg(L"0000", palmDefault, rangeGroup, dynamic));
    }
    if (setup & kCustomPalm)
        s.machine.registry.SetDword(kSettingsKey, kValueFunctionCustomPalmRejection,
                                    static_cast<win::DWORD>(in.Int32()));
    if (setup & kAliceLoggedOn) s.machine.sessions.LogOn(L"alice");
    if (setup & kPackageFolder) s.machine.files.AddFolder(CompanionPackageFolder(L"alice"));
    if (setup & kComponent) s.machine.devices.Add(SoftwareComponent());
    const bool companion = (setup & kAliceLoggedOn) && (setup & kPackageFolder) && (setup & kComponent);

    if (setup & kStartReads) {
        ReadTouchpadInfo();
        RegRead_AABB();
        WorkaroundGetHKRRegistryPath();
        ReadHKRDefaultSettings(DriverKeyPath());
        ReadPSTStatusFromDM = GetPSTDeivce() ? 1 : 0;
        ReadForcepadCapability();
    }
    if (setup & kAppliedAtStart) {
        PalmControl(livePalmSettings, 0, 0);
        ForcePadControl(liveForcepadSettings, 0, 0);
    }
    s.CheckNothingOpen();

    Clients clients;
    for (std::size_t call = 0; call < kMaxCalls && !in.empty(); ++call) {
        const std::uint8_t opnum = in.U8() % 14;
        switch (opnum) {
            case 0: clients.Open(); break;
            case 1: clients.End(in, false); break;
            case 2: {
                MeteringContext* c = clients.Any(in);
                const std::int64_t first = in.Int64();
                StartMetering(c, first, in.Int64());
                break;
            }
            case 3: {
                MeteringContext* c = clients.Any(in);
                const std::int64_t period = in.Int64();
                SetSamplePeriod(c, period);
                FUZZ_CHECK(c->samplePeriod.load() == std::clamp(period, kMinSamplePeriod, kMaxSamplePeriod));
                break;
            }
            case 4: {
                MeteringContext* c = clients.Any(in);
                StopMetering(c);
                FUZZ_CHECK(c->stopped.load());
                break;
            }
            case 5: {
                PalmSettings out{-7, -7, -7, -7, -7};
                ProcessGetTouchpadSettings(clients.Any(in), &out);
                // The user's own store while the companion is there, else the defaults.
                FUZZ_CHECK(out == (companion ? StoredRecord<PalmSettings>(s, kAliceKey) : palmDefaults.Load()));
                break;
            }
            case 6: {
                const PalmSettings sent = AnyPalm(in);
                const PalmSettings before = StoredRecord<PalmSettings>(s, kAliceKey);
                ProcessSetTouchpadSettings(clients.Any(in), &sent);
                const PalmSettings after = StoredRecord<PalmSettings>(s, kAliceKey);
                if (companion)
                    // Whatever was sent, what is in force is what the user's store now holds.
                    FUZZ_CHECK(StoredRecord<PalmSettings>(s, kSettingsKey) == after);
                else
                    FUZZ_CHECK(after == before);
                break;
            }
            case 7: {
                std::uint8_t status = 0xEE;
                ProcessGetTouchpadStatus(clients.Any(in), &status);
                FUZZ_CHECK((status & ~0x07) == 0);
                break;
            }
            case 8: ProcessExecuteMouseProperties(clients.Any(in)); break;
            case 9: {
                std::int32_t enable = 0x5EED;
                ProcessGetSupportFunction(clients.Any(in), &enable);
                FUZZ_CHECK(enable == 0 || enable == 1);
                break;
            }
            case 10: {
                const std::int32_t function = in.Int32();
                std::int32_t value = 0x5EED;
                ProcessGetTouchpadData(clients.Any(in), function, &value);
                if (function == 99) FUZZ_CHECK(value == kTouchpadDataSignature);
                if (function == 1) FUZZ_CHECK(value == 0 || value == 1);
                if (function < 1 || (function > 5 && function != 99)) FUZZ_CHECK(value == 0);
                break;
            }
            case 11: {
                const ForcepadSettings sent = AnyForcepad(in);
                const ForcepadSettings before = StoredRecord<ForcepadSettings>(s, kAliceKey);
                ProcessSetForcepadSettings(clients.Any(in), &sent);
                const ForcepadSettings after = StoredRecord<ForcepadSettings>(s, kAliceKey);
                if (companion)
                    FUZZ_CHECK(StoredRecord<ForcepadSettings>(s, kSettingsKey) == after);
                else
                    FUZZ_CHECK(after == before);
                break;
            }
            case 12: {
                ForcepadSettings out{-7, -7, -7, -7, -7, -7, -7, -7, -7};
                ProcessGetForcepadSettings(clients.Any(in), &out);
                FUZZ_CHECK(out == (companion ? StoredRecord<ForcepadSettings>(s, kAliceKey) : kForcepadDefaults));
                break;
            }
            case 13: clients.End(in, true); break;
        }
        s.CheckNothingOpen();
    }
    return 0;
}

}  // namespace tavo::fuzz
