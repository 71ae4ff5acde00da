// tavo-sim: runs the whole service on a simulated laptop and shows what it does to the pad.
//
// The laptop is a file (laptops/NAME.json); the service is the same code that ships. After each
// step of the lifecycle it prints the trace the step wrote, the pad's function values and
// the settings in force.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/process_state.h"
#include "common/registry_paths.h"
#include "laptops/laptops.h"
#include "platform/sim/machine.h"
#include "rpc/procedures.h"
#include "service/sample_service.h"
#include "settings/settings_records.h"

namespace {

using namespace tavo;
using namespace tavo::laptops;

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;
constexpr wchar_t kUser[] = L"alice";

struct Options {
    std::string laptop = "forcepad";  // a name in laptops/ or a file
    int windows = 0;  // 0: the laptop's own
    bool userAtStart = false;
    bool companion = true;
    bool trace = true;
};

std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

void PrintHelp() {
    std::printf(
        "Usage: tavo-sim [--laptop NAME|FILE] [--windows 10|11] [--user-at-start] [--no-companion] [--no-trace]\n"
        "\n"
        "Runs the touchpad service on a simulated laptop through start, logon, the settings\n"
        "application's calls, resume, device arrival, logoff and stop, printing after each\n"
        "step the service's trace, the pad's function values and the settings in force.\n"
        "\n"
        "  --laptop NAME|FILE  the simulated laptop: a laptop file, or the name of one in\n"
        "                    %s (default: forcepad)\n"
        "  --windows 10|11   the Windows the laptop runs (default: the laptop's own)\n"
        "  --user-at-start   alice is already logged on when the service starts\n"
        "  --no-companion    the settings application is not installed: the service falls\n"
        "                    back to the driver's defaults (without it, alice's own choice,\n"
        "                    made earlier in the application, is what the pad gets)\n"
        "  --no-trace        leave the service's trace out\n"
        "  --help            this text\n"
        "\n"
        "Laptops:\n",
        LaptopsDir().c_str());
    for (const auto& name : LaptopFileNames()) {
        try {
            std::printf("  %-10s %s\n", name.c_str(), LoadLaptopFile(FindLaptopFile(name)).description.c_str());
        } catch (const LaptopFileError& e) {
            std::printf("  %-10s (cannot be used: %s)\n", name.c_str(), e.what());
        }
    }
}

// 0: run; 1: help shown; 2: bad arguments (message printed).
int Parse(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tavo-sim: %s needs a value; see --help\n", what);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 1;
        } else if (arg == "--laptop") {
            const char* name = value("--laptop");
            if (!name) return 2;
            options->laptop = name;
        } else if (arg == "--windows") {
            const char* v = value("--windows");
            if (!v) return 2;
            if (std::strcmp(v, "10") == 0) {
                options->windows = 10;
            } else if (std::strcmp(v, "11") == 0) {
                options->windows = 11;
            } else {
                std::fprintf(stderr, "tavo-sim: --windows takes 10 or 11, not \"%s\"\n", v);
                return 2;
            }
        } else if (arg == "--user-at-start") {
            options->userAtStart = true;
        } else if (arg == "--no-companion") {
            options->companion = false;
        } else if (arg == "--no-trace") {
            options->trace = false;
        } else {
            std::fprintf(stderr, "tavo-sim: unknown argument \"%s\"; see --help\n", argv[i]);
            return 2;
        }
    }
    return 0;
}

class Run {
public:
    Run(const Options& options, const LaptopSpec& spec) : options_(options), spec_(spec) {
        ResetProcessState();
        machine_.threads.SetMode(sim::SimThreads::Mode::Inline);
        machine_.Install();
        SimLaptop laptop = ToSim(spec);
        if (options.windows != 0) laptop.windows = ToSim(WindowsByName(options.windows));
        windows11_ = std::wcstoul(laptop.windows.currentBuild.c_str(), nullptr, 10) >= 22000;
        // The laptop with the registry its driver package leaves; the settings application's
        // software component only when it is installed.
        const BuiltLaptop built = Build(machine_, laptop, {.softwareComponent = options.companion, .registry = true});
        for (std::size_t i = 0; i < laptop.hid.size(); ++i)
            if (built.firmware[i]) pads_.push_back({spec.hid[i].name, built.firmware[i], built.firmware[i]->Values()});
        machine_.sessions.AddUser(kUser);
        // The input agent beside the service, in the folder a service starts in.
        machine_.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
        if (options.companion) {
            machine_.files.AddFolder(CompanionPackageFolder(kUser));
            // What alice chose in the application earlier, stored under her name.
            Store(kInForce + L"\\" + kUser, PalmSettings{3, 10, 10, 20, 20});
            Store(kInForce + L"\\" + kUser, ForcepadSettings{4, 1, 75, 2, 2, 1, 0, 1, 0});
        }
    }

    int Go() {
        const auto& o = options_;
        std::printf("tavo-sim: %s laptop (%s), Windows %s, %s, %s\n", spec_.name.c_str(), spec_.file.c_str(),
                    windows11_ ? "11" : "10",
                    o.userAtStart ? "alice at the console from the start" : "alice logs on after the start",
                    !o.companion              ? "no settings application"
                    : spec_.softwareComponent ? "settings application installed"
                                              : "settings application installed, but the laptop has no software component");
        if (o.companion)
            std::printf("alice's own choice, stored earlier: palm level 3, haptic feedback 75 %%, click force 2\n");

        if (o.userAtStart) machine_.sessions.LogOn(kUser);
        service_ = std::make_unique<CSampleService>();
        serviceInstance = service_.get();
        Step(o.userAtStart ? "start, alice at the console" : "start, nobody at the console",
             [&] { service_->Start(0, nullptr); });
        Step("alice logs on", [&] {
            machine_.sessions.LogOn(kUser);
            Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON);
        });
        Step("the settings application: palm level 1, haptic feedback 100 %, then reads back", [&] {
            MeteringContext* context = OpenRpcEndpoint();
            const PalmSettings palm{1, 10, 10, 20, 20};
            ProcessSetTouchpadSettings(context, &palm);
            ForcepadSettings forcepad{};
            ProcessGetForcepadSettings(context, &forcepad);
            forcepad.CurrentControlItem = 2;
            forcepad.HapticFeedbackCheckSlider = 100;
            ProcessSetForcepadSettings(context, &forcepad);
            PalmSettings palmBack{};
            ProcessGetTouchpadSettings(context, &palmBack);
            std::int32_t signature = 0;
            ProcessGetTouchpadData(context, 99, &signature);
            std::uint8_t status = 0;
            ProcessGetTouchpadStatus(context, &status);
            CloseRpcEndpoint(&context);
            std::printf("  answers: palm level %d, haptic %d %%, data 99 = 0x%08X, status 0x%02X\n",
                        static_cast<int>(palmBack.level), static_cast<int>(forcepad.HapticFeedbackCheckSlider),
                        static_cast<unsigned>(signature), static_cast<unsigned>(status));
        });
        Step("the touchpad's toggle report: KVRInput flips AABB", [&] {
            const auto aabb = machine_.registry.Dword(kInForce, L"AABB");
            machine_.registry.SetDword(kInForce, L"AABB", aabb && *aabb == 0 ? 1 : 0);
            machine_.threads.Join();  // the toggle-flag monitor answers
        });
        Step("resume from sleep", [&] { Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMESUSPEND); });
        Step("a mouse-class device arrives", [&] {
            auto data = sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE,
                                                      L"\\\\?\\HID#VEN_TAVO&DEV_0C5E&Col01#5&2a3b4c5d&0&0000");
            CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL, data.data(),
                                                nullptr);
        });
        Step("alice logs off", [&] {
            Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGOFF);
            // Her session ends; the console shows the logon screen.
            machine_.sessions.AddSession(2, L"", win::WTSConnected);
            machine_.sessions.SetConsoleSession(2);
            machine_.sessions.RemoveSession(1);
        });
        Step("stop", [&] {
            Control(win::SERVICE_CONTROL_STOP, 0);
            machine_.threads.Join();  // the monitors end on their stop events
        });
        const bool stopped = service_->currentState() == win::SERVICE_STOPPED;
        serviceInstance = nullptr;
        service_.reset();
        const int open = machine_.handles.OpenCount();
        std::printf("\nservice %s; %d handle(s) left open\n", stopped ? "stopped" : "NOT stopped", open);
        return stopped && open == 0 ? 0 : 1;
    }

private:
    void Control(win::DWORD control, win::DWORD eventType) {
        CServiceBase::ServiceControlHandler(control, eventType, nullptr, nullptr);
    }

    template <typename Action>
    void Step(const char* title, Action action) {
        const std::size_t mark = machine_.etw.Written().size();
        std::printf("\n== %s ==\n", title);
        action();
        const auto written = machine_.etw.Written();
        for (std::size_t i = mark; options_.trace && i < written.size(); ++i) {
            std::wstring text = written[i].text;
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
            std::printf("  | %s\n", Narrow(text).c_str());
        }
        PrintPad();
        PrintInForce();
    }

    // The function table of each pad (named when the laptop has several); a value the step
    // changed is marked with '*'.
    void PrintPad() {
        if (pads_.empty()) std::printf("  pad: (the laptop has no firmware)\n");
        for (auto& pad : pads_) {
            const auto values = pad.firmware->Values();
            std::printf("  pad%s%s:", pads_.size() > 1 ? " " : "", pads_.size() > 1 ? pad.name.c_str() : "");
            for (const auto& [function, value] : values) {
                auto before = pad.last.find(function);
                const bool changed = before != pad.last.end() && before->second != value;
                std::printf(" %04X=%04X%s", function, value, changed ? "*" : "");
            }
            std::printf("\n");
            pad.last = values;
        }
    }

    template <typename Record>
    void Store(const std::wstring& key, const Record& r) {
        for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
            machine_.registry.SetDword(key, RecordLayout<Record>::fields[i].valueName,
                                       static_cast<win::DWORD>(Field(r, i)));
    }

    template <typename Record>
    void PrintRecord(const char* title) const {
        std::printf("  in force, %s:", title);
        for (const auto& f : RecordLayout<Record>::fields) {
            auto v = machine_.registry.Dword(kInForce, f.valueName);
            if (v)
                std::printf(" %s=%d", Narrow(f.valueName).c_str(), static_cast<int>(static_cast<std::int32_t>(*v)));
            else
                std::printf(" %s=(none)", Narrow(f.valueName).c_str());
        }
        std::printf("\n");
    }
    void PrintInForce() const {
        PrintRecord<PalmSettings>("palm");
        PrintRecord<ForcepadSettings>("forcepad");
    }

    Options options_;
    const LaptopSpec& spec_;
    bool windows11_ = false;
    sim::Machine machine_;
    struct Pad {
        std::string name;  // the collection's
        std::shared_ptr<sim::TouchpadFirmware> firmware;
        std::map<win::WORD, win::WORD> last;  // as the last step left it
    };
    std::vector<Pad> pads_;
    std::unique_ptr<CSampleService> service_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (Parse(argc, argv, &options)) {
        case 1: return 0;
        case 2: return 2;
        default: break;
    }
    LaptopSpec spec;
    try {
        spec = LoadLaptopFile(FindLaptopFile(options.laptop));
    } catch (const LaptopFileError& e) {
        std::fprintf(stderr, "tavo-sim: %s\n", e.what());
        return 2;
    }
    Run run(options, spec);
    return run.Go();
}
