// The service object on a simulated laptop: building, starting and controlling it, what
// reached the pad and the registry, the trace in order, and a teardown that ends the
// service's monitors as a stop would and then checks that nothing was left open.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "laptops/laptops.h"
#include "monitors/pst_monitor.h"
#include "native/sim_fixture.h"
#include "platform/sync.h"
#include "rpc/rpc_server.h"
#include "service/sample_service.h"
#include "settings/api_events.h"
#include "settings/settings_records.h"

namespace tavo::test {

using namespace tavo::laptops;

inline const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;
inline const std::wstring kAlice = kInForce + L"\\alice";
constexpr win::WORD kHapticStrength = 0x03AB;
// What the haptic-strength function holds after: nothing was pushed, the user's 75 % was
// pushed item by item, or the default set was pushed.
constexpr win::WORD kUntouched = 0x1111;
constexpr win::WORD kAliceHaptic = 0x3030;
constexpr win::WORD kDefaultSetHaptic = 0x4040;

constexpr PalmSettings kAlicePalm{3, 11, 22, 33, 44};
constexpr ForcepadSettings kAliceForcepad{4, 1, 75, 2, 2, 1, 0, 1, 0};

class ServiceTest : public SimTest {
protected:
    // The laptop file by name; the scenario's firmware answers behind its pad.
    explicit ServiceTest(const char* laptop = "touchpad") {
        Build(machine, LoadSimLaptop(laptop, firmware));
        machine.registry.Import(DriverPackageReg(L"0000", 2, 3, 1));
    }
    ~ServiceTest() override {
        if (service) {
            machine.threads.RunPending();
            EndMonitors();
            // The interface outlives a service that was not stopped (a shutdown only reports
            // it stopped); withdraw it so its binding vector is not counted as leaked.
            WithdrawRpcInterface();
            service.reset();
        }
        serviceInstance = nullptr;
        EXPECT_EQ(machine.handles.OpenCount(), 0) << "a handle, key, token or profile was left open";
        EXPECT_EQ(machine.handles.ClosedUses(), 0) << "a handle was used after it was closed";
    }

    // The toggle-flag monitor and the folder watcher wait for a stop that not every test
    // sends: end them as a stop would, in whatever mode the pool runs, before the service goes.
    void EndMonitors() {
        for (int round = 0; round < 10000 && machine.threads.UnfinishedCount() > 0; ++round) {
            service->toggleFlagRuns.StopAndPoll(0);
            StopDirectoryWatcher(service->watcherRuns, 0);
            for (auto* slot : {&GetPSTUI_EnableDeviceEvnet[kPSTExitEvent], &GetAPIStatusEvent[kAPIExitEvent]})
                if (const win::HANDLE stop = slot->load(); stop != win::HANDLE{}) win::Sync().SetEvent(stop);
            if (machine.threads.CurrentMode() == sim::SimThreads::Mode::RealThreads)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            machine.threads.RunPending();
        }
        machine.threads.Join();
    }

    void NewService() {
        service = std::make_unique<CSampleService>();
        serviceInstance = service.get();
        Mark();
    }
    void Start() {
        if (!service) NewService();
        service->Start(0, nullptr);
        machine.threads.RunPending();
    }
    void Control(win::DWORD control, win::DWORD eventType, std::vector<unsigned char> data = {}) {
        CServiceBase::ServiceControlHandler(control, eventType, data.empty() ? nullptr : data.data(), nullptr);
        machine.threads.RunPending();
    }

    // alice at the console, the companion installed for her, her own settings stored.
    void AliceWithCompanion() {
        machine.sessions.LogOn(L"alice");
        InstallCompanion(machine, L"alice");
        StorePalm(kAlice, kAlicePalm);
        StoreForcepad(kAlice, kAliceForcepad);
    }
    void StorePalm(const std::wstring& key, const PalmSettings& r) {
        for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i)
            machine.registry.SetDword(key, RecordLayout<PalmSettings>::fields[i].valueName,
                                      static_cast<win::DWORD>(Field(r, i)));
    }
    void StoreForcepad(const std::wstring& key, const ForcepadSettings& r) {
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            machine.registry.SetDword(key, RecordLayout<ForcepadSettings>::fields[i].valueName,
                                      static_cast<win::DWORD>(Field(r, i)));
    }
    std::int32_t PalmLevel(const std::wstring& key) const {
        auto v = machine.registry.Dword(key, kValuePalmCheckLevel);
        return v ? static_cast<std::int32_t>(*v) : -2;
    }
    std::int32_t Haptic() const { return firmware->Value(kHapticStrength).value_or(0); }
    // Reports the host sent that were not read requests.
    int DeviceWrites() const {
        int n = 0;
        for (const auto& r : firmware->Reports())
            if (r.direction == sim::TouchpadFirmware::Direction::ToDevice &&
                !(r.bytes.size() >= 3 && r.bytes[1] == 0x05 && r.bytes[2] == 0x03))
                ++n;
        return n;
    }
    // What the pointing-stick and API event threads hold while they run, so that tests of
    // other monitors count only what those monitors hold.
    static int EventThreadEvents() {
        int n = 0;
        for (const auto& slot : GetPSTUI_EnableDeviceEvnet) n += slot.load() != win::HANDLE{};
        for (const auto& slot : GetAPIStatusEvent) n += slot.load() != win::HANDLE{};
        return n;
    }
    int EventThreadsRunning() const {
        int n = 0;
        for (const auto* slot : {&PSTMonitorThread, &GetAPIStatusThread})
            if (const win::HANDLE t = slot->load(); t != win::HANDLE{}) n += machine.sync.IsSignalled(t) == false;
        return n;
    }

    // The expected lines appear in this order (others may come between).
    void ExpectInOrder(const std::vector<std::wstring>& expected) const {
        const auto lines = Lines();
        std::size_t at = 0;
        for (const auto& want : expected) {
            while (at < lines.size() && lines[at] != want) ++at;
            ASSERT_LT(at, lines.size()) << "missing, or out of order: " << std::string(want.begin(), want.end());
            ++at;
        }
    }

    std::shared_ptr<sim::TouchpadFirmware> firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    std::unique_ptr<CSampleService> service;
};

using LifecycleTest = ServiceTest;

}  // namespace tavo::test
