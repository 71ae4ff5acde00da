// The virtual-laptop test's scenario on the simulator: the same laptop files, the same steps
// in the same order, and after each step what reached the pad and the registry values, in
// the form tests/wine/virtual_laptop_integration.sh records them from the virtual pad under
// Wine. That script compares the two line by line: the simulator held to the real device path.
//
//   virtual_laptop_wire WINDOWS11_LAPTOP WINDOWS10_LAPTOP USER
//
// Wine's console at the service's start is a session in which nobody counts as logged on but
// whose user, token and profile resolve; the scenario gives the simulator the same console.
// Everything else is the simulator's own.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "laptops/laptop_file.h"
#include "laptops/laptops.h"
#include "laptops/sim_laptop.h"
#include "monitors/pst_monitor.h"
#include "platform/sim/machine.h"
#include "platform/sync.h"
#include "rpc/procedures.h"
#include "rpc/rpc_server.h"
#include "service/sample_service.h"
#include "settings/api_events.h"
#include "settings/settings_records.h"
#include "wine/vlaptop/firmware_record.h"

namespace {

using namespace tavo;
using namespace tavo::laptops;

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class Scenario {
public:
    Scenario(const std::string& file, const std::wstring& user) : user_(user) {
        ResetProcessState();
        machine_.threads.SetMode(sim::SimThreads::Mode::Inline);
        machine_.Install();
        const LaptopSheet& sheet = LaptopFile(file);
        built_ = Build(machine_, ToSim(sheet), {.softwareComponent = true, .registry = true});
        for (std::size_t i = 0; i < sheet.hid.size(); ++i) names_[sheet.hid[i].name] = i;
        machine_.sessions.AddUser(user_);
        // Wine's console: its connect-state query fails, where a console that is not active
        // answers; either way nobody counts as logged on, while the user's name, token and
        // profile resolve.
        machine_.sessions.AddSession(1, user_, win::WTSConnected);
        machine_.sessions.SetConsoleSession(1);
        machine_.files.AddFolder(CompanionPackageFolder(user_));
    }
    ~Scenario() {
        if (service_) {
            EndMonitors();
            WithdrawRpcInterface();
        }
        serviceInstance = nullptr;
        service_.reset();
        ResetProcessState();
    }

    void Start() {
        service_ = std::make_unique<CSampleService>();
        serviceInstance = service_.get();
        service_->Start(0, nullptr);
        machine_.threads.RunPending();
    }
    void Stop() {
        CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
        machine_.threads.RunPending();
        machine_.threads.Join();
    }
    // What tavoctl's commands call, in its order.
    void Status() {
        Rpc([](MeteringContext* c) {
            std::int32_t data = 0;
            ProcessGetTouchpadData(c, 2, &data);
        });
        Rpc([](MeteringContext* c) {
            std::int32_t data = 0;
            ProcessGetTouchpadData(c, 3, &data);
        });
        Rpc([](MeteringContext* c) {
            std::uint8_t status = 0;
            ProcessGetTouchpadStatus(c, &status);
        });
    }
    void ForcepadSet(const ForcepadSettings& sent) {
        Rpc([&](MeteringContext* c) {
            ForcepadSettings r{};
            ProcessGetForcepadSettings(c, &r);
            ProcessSetForcepadSettings(c, &sent);
            ProcessGetForcepadSettings(c, &r);
        });
    }
    void PalmSetAndGet(const PalmSettings& sent) {
        Rpc([&](MeteringContext* c) {
            PalmSettings r{};
            ProcessSetTouchpadSettings(c, &sent);
            ProcessGetTouchpadSettings(c, &r);
        });
        Rpc([](MeteringContext* c) {
            PalmSettings r{};
            ProcessGetTouchpadSettings(c, &r);
        });
    }
    void Meter() {
        Rpc([](MeteringContext* c) {
            StartMetering(c, 0, 0);
            SetSamplePeriod(c, 1000);
            StopMetering(c);
        });
    }
    // Another program (the agent, or reg) writes the other AABB; the monitor answers.
    void ToggleAabb() {
        const auto aabb = machine_.registry.Dword(kInForce, L"AABB");
        machine_.registry.SetDword(kInForce, L"AABB", aabb && *aabb == 0 ? 1 : 0);
        machine_.threads.Join();
    }
    void SetNamedEvent(const wchar_t* name) {
        win::HANDLE h{};
        if (win::Sync().OpenEventW(win::EVENT_MODIFY_STATE | win::SYNCHRONIZE, name, &h) == win::ERROR_SUCCESS) {
            win::Sync().SetEvent(h);
            win::Sync().CloseHandle(h);
        }
        machine_.threads.Join();
    }
    void RefuseAll(bool refuse) {
        auto pad = Firmware("vendor");
        if (!refuse) return pad->AcceptAll();
        for (const auto& [function, value] : pad->Values()) pad->Refuse(function);
    }
    void Unplug() { machine_.devices.Unplug(built_.hidNodes[names_.at("vendor")]); }
    void Replug() { machine_.devices.Replug(built_.hidNodes[names_.at("vendor")]); }
    void SetDword(const std::wstring& key, const wchar_t* name, win::DWORD value) {
        machine_.registry.SetDword(key, name, value);
    }

    // One step's lines: its name, the reports the collection's firmware saw since the last
    // step (then forgotten), the values in force and the user's.
    void Print(const char* step, const char* collection = "vendor") {
        std::printf("## %s\n", step);
        auto pad = Firmware(collection);
        for (const auto& r : pad->Reports())
            std::printf("%s\n", vlaptop::FormatReport({r.direction == sim::TouchpadFirmware::Direction::ToDevice,
                                                       r.accepted, r.bytes})
                                    .c_str());
        pad->ClearReports();
        std::printf("in force:%s\nuser:%s\n", Values(kInForce, true).c_str(), Values(kInForce + L"\\" + user_, false).c_str());
    }

private:
    template <typename Body>
    void Rpc(Body body) {
        MeteringContext* context = OpenRpcEndpoint();
        body(context);
        CloseRpcEndpoint(&context);
        machine_.threads.RunPending();
    }
    std::shared_ptr<sim::TouchpadFirmware> Firmware(const char* collection) const {
        return built_.firmware[names_.at(collection)];
    }
    std::string Values(const std::wstring& key, bool inForce) const {
        std::vector<std::wstring> names;
        if (inForce) names = {L"AABB", L"BIOSEnablePSTStatus"};
        names.push_back(kValueForcepadCapability);
        for (const auto& f : RecordLayout<PalmSettings>::fields) names.push_back(f.valueName);
        for (const auto& f : RecordLayout<ForcepadSettings>::fields) names.push_back(f.valueName);
        std::string out;
        for (const auto& name : names) {
            const auto v = machine_.registry.Dword(key, name);
            out += v ? " " + std::to_string(*v) : " -";
        }
        return out;
    }
    void EndMonitors() {
        for (int round = 0; round < 10000 && machine_.threads.UnfinishedCount() > 0; ++round) {
            service_->toggleFlagRuns.StopAndPoll(0);
            StopDirectoryWatcher(service_->watcherRuns, 0);
            for (auto* slot : {&GetPSTUI_EnableDeviceEvnet[kPSTExitEvent], &GetAPIStatusEvent[kAPIExitEvent]})
                if (const win::HANDLE stop = slot->load(); stop != win::HANDLE{}) win::Sync().SetEvent(stop);
            machine_.threads.RunPending();
        }
        machine_.threads.Join();
    }

    std::wstring user_;
    sim::Machine machine_;
    BuiltLaptop built_;
    std::map<std::string, std::size_t> names_;
    std::unique_ptr<CSampleService> service_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: virtual_laptop_wire WINDOWS11_LAPTOP WINDOWS10_LAPTOP USER\n");
        return 2;
    }
    const std::wstring user = Wide(argv[3]);
    try {
        {
            Scenario s(argv[1], user);
            s.Start();
            s.Print("start");
            s.Status();
            s.Print("status");
            s.ForcepadSet({4, 0, 75, 1, 2, 0, 0, 1, 1});
            s.Print("forcepad-set");
            s.PalmSetAndGet({2, 11, 22, 33, 44});
            s.Print("palm-set");
            s.Meter();
            s.Print("meter");
            s.ToggleAabb();
            s.Print("toggle");
            s.SetNamedEvent(L"Global\\VQSMessage_PST_ON");
            s.Print("pst-on");
            s.SetNamedEvent(L"Global\\VQSMessage_PST_OFF");
            s.Print("pst-off");
            s.RefuseAll(true);
            s.ToggleAabb();
            s.Print("refused");
            s.RefuseAll(false);
            s.ToggleAabb();
            s.Print("accepted");
            s.Unplug();
            s.ToggleAabb();
            s.Replug();
            s.Print("unplugged");
            s.ToggleAabb();
            s.Print("plugged");
            for (const wchar_t* u : {L"alice", L"bob"}) {
                s.SetDword(kInForce + L"\\" + u, L"PalmCheck_Level", 3);
                s.SetDword(kInForce + L"\\" + u, L"ClickForceCheckOption", 2);
            }
            s.Stop();
            s.Print("stop");
        }
        {
            Scenario s(argv[2], user);
            s.Start();
            s.Print("w10-start");
            s.ForcepadSet({2, 1, 25, 0, 0, 0, 2, 1, 0});
            s.Print("w10-set");
            s.Stop();
            s.Print("w10-stop");
            s.Print("no-report", "no-report");
            s.Print("other-vendor", "other-vendor");
        }
    } catch (const LaptopFileError& e) {
        std::fprintf(stderr, "virtual_laptop_wire: %s\n", e.what());
        return 2;
    }
    return 0;
}
