#include "runner.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/process_state.h"
#include "common/registry_paths.h"
#include "laptops/laptops.h"
#include "platform/rpc.h"
#include "platform/sim/machine.h"
#include "platform/sync.h"
#include "report.h"
#include "rpc/procedures.h"
#include "run_command.h"
#include "service/sample_service.h"
#include "settings/settings_records.h"

namespace tavo::scenarios {

namespace {

using namespace tavo::laptops;
using ojson = nlohmann::ordered_json;

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;
constexpr win::DWORD kRpcServerUnavailable = 1722;  // what a client gets with nobody listening
constexpr win::DWORD kOutOfMemory = 14;

std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Hex4(unsigned v) { return Format("0x%04X", v); }

std::string Shown(const RegistryValue& v) {
    if (std::holds_alternative<std::monostate>(v)) return "nothing (not there)";
    if (const auto* d = std::get_if<std::uint32_t>(&v)) return std::to_string(static_cast<std::int32_t>(*d));
    return "\"" + Narrow(std::get<std::wstring>(v)) + "\"";
}

RegistryValue FromRegistry(const std::optional<sim::RegValue>& v) {
    if (!v) return std::monostate{};
    if (v->type == win::REG_DWORD && v->data.size() == 4)
        return static_cast<std::uint32_t>(v->data[0] | v->data[1] << 8 | v->data[2] << 16 |
                                          static_cast<std::uint32_t>(v->data[3]) << 24);
    if (v->type == win::REG_SZ || v->type == win::REG_EXPAND_SZ) {
        std::wstring text;
        for (std::size_t i = 0; i + 1 < v->data.size(); i += 2) {
            const wchar_t c = static_cast<wchar_t>(v->data[i] | v->data[i + 1] << 8);
            if (c == 0) break;
            text += c;
        }
        return text;
    }
    return std::wstring(L"(a value of type " + std::to_wstring(v->type) + L")");
}

ojson JsonOf(const std::optional<sim::RegValue>& v) {
    const RegistryValue r = FromRegistry(v);
    if (std::holds_alternative<std::monostate>(r)) return nullptr;
    if (const auto* d = std::get_if<std::uint32_t>(&r)) return static_cast<std::int32_t>(*d);
    return Narrow(std::get<std::wstring>(r));
}

// The touchpad service as the settings application reaches it: each procedure as the server
// stub calls it, and after each call the pool runs what the call queued.
class SimClient : public tavoctl::TouchpadService {
public:
    SimClient(sim::Machine& machine, bool listening) : machine_(machine), listening_(listening) {}
    tavoctl::RpcStatus Open() override {
        if (!listening_) return kRpcServerUnavailable;
        context_ = OpenRpcEndpoint();
        return After(context_ ? 0 : kOutOfMemory);
    }
    tavoctl::RpcStatus GetStatus(std::uint8_t& status) override {
        ProcessGetTouchpadStatus(context_, &status);
        return After();
    }
    tavoctl::RpcStatus GetPalm(tavoctl::PalmValues& v) override {
        PalmSettings p{};
        ProcessGetTouchpadSettings(context_, &p);
        v = {p.level, p.up, p.down, p.left, p.right};
        return After();
    }
    tavoctl::RpcStatus SetPalm(const tavoctl::PalmValues& v) override {
        const PalmSettings p{v.level, v.up, v.down, v.left, v.right};
        ProcessSetTouchpadSettings(context_, &p);
        return After();
    }
    tavoctl::RpcStatus GetForcepad(tavoctl::ForcepadValues& v) override {
        ForcepadSettings f{};
        ProcessGetForcepadSettings(context_, &f);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = Field(f, i);
        return After();
    }
    tavoctl::RpcStatus SetForcepad(const tavoctl::ForcepadValues& v) override {
        ForcepadSettings f{};
        for (std::size_t i = 0; i < v.size(); ++i) Field(f, i) = v[i];
        ProcessSetForcepadSettings(context_, &f);
        return After();
    }
    tavoctl::RpcStatus GetData(std::int32_t function, std::int32_t& value) override {
        ProcessGetTouchpadData(context_, function, &value);
        return After();
    }
    tavoctl::RpcStatus GetSupport(std::int32_t& value) override {
        ProcessGetSupportFunction(context_, &value);
        return After();
    }
    tavoctl::RpcStatus StartMetering(std::int64_t first, std::int64_t second) override {
        tavo::StartMetering(context_, first, second);
        return After();
    }
    tavoctl::RpcStatus SetSamplePeriod(std::int64_t period) override {
        tavo::SetSamplePeriod(context_, period);
        return After();
    }
    tavoctl::RpcStatus StopMetering() override {
        tavo::StopMetering(context_);
        return After();
    }
    void Close() override {
        CloseRpcEndpoint(&context_);
        After();
    }

private:
    tavoctl::RpcStatus After(tavoctl::RpcStatus status = 0) {
        machine_.threads.RunPending();
        return status;
    }
    sim::Machine& machine_;
    bool listening_;
    MeteringContext* context_ = nullptr;
};

class Runner {
public:
    Runner(const Scenario& s, const RunOptions& o) : s_(s), o_(o) {
        ResetProcessState();
        machine_.threads.SetMode(sim::SimThreads::Mode::Inline);
        machine_.Install();
        SimLaptop laptop = ToSim(s.laptop);
        if (s.windows) laptop.windows = ToSim(WindowsByName(*s.windows));
        windows_ = std::wcstoul(laptop.windows.currentBuild.c_str(), nullptr, 10) >= 22000 ? 11 : 10;
        // The laptop with the registry its driver package leaves; the software component as
        // the scenario says.
        built_ = Build(machine_, laptop, {.softwareComponent = s.softwareComponent, .registry = true});
        for (std::size_t i = 0; i < laptop.hid.size(); ++i)
            if (built_.firmware[i]) pads_.push_back({s.laptop.hid[i].name, i, built_.firmware[i], built_.firmware[i]->Values()});
        for (const auto& u : s.users) {
            machine_.sessions.AddUser(Wide(u.name));
            if (u.app) machine_.files.AddFolder(CompanionPackageFolder(Wide(u.name)));
            for (const auto& [name, value] : u.stored) Set(kInForce + L"\\" + Wide(u.name), name, value);
        }
        for (const auto& [name, value] : s.inForce) Set(kInForce, name, value);
        // The input agent beside the service, in the folder a service starts in.
        machine_.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
        // A pad that leaves in the middle of a step: the world acts before the report it
        // cuts off, on the thread that sends it.
        machine_.faults.SetHook([this](std::string_view call, int) -> win::DWORD {
            if (call != "HidD_SetFeature" && call != "HidD_GetFeature") return 0;
            if (unplugAt_.load() >= 0 && reportsThisStep_.fetch_add(1) == unplugAt_.load()) {
                unplugAt_ = -1;
                Unplug(pads_.front(), false);
                pendingRemoval_ = true;
            }
            return 0;
        });
        if (o.output == Output::Json) registry_ = machine_.registry.Snapshot();
    }
    ~Runner() {
        serviceInstance = nullptr;
        service_.reset();
        machine_.threads.Shutdown();
        ResetProcessState();
    }

    RunResult Go() {
        Header();
        for (std::size_t i = 0; i < s_.steps.size(); ++i) {
            RunStep(i + 1, s_.steps[i]);
            if (o_.progress) o_.progress(i + 1, s_.steps.size());
        }
        End();
        return std::move(result_);
    }

private:
    struct Pad {
        std::string name;
        std::size_t index;  // in the laptop's collections
        std::shared_ptr<sim::TouchpadFirmware> firmware;
        std::map<win::WORD, win::WORD> last;  // as the last step left it
    };

    void Set(const std::wstring& key, const std::wstring& name, const RegistryValue& v) {
        if (const auto* d = std::get_if<std::uint32_t>(&v)) machine_.registry.SetDword(key, name, *d);
        if (const auto* t = std::get_if<std::wstring>(&v)) machine_.registry.SetString(key, name, *t);
    }

    void Print(const std::string& text) {
        if (o_.output == Output::Text) result_.out += text;
    }

    void Header() {
        if (o_.output == Output::Json) {
            ojson head;
            head["scenario"] = s_.file;
            head["description"] = s_.description;
            head["laptop"] = s_.laptop.name;
            head["laptopFile"] = s_.laptop.file;
            head["windows"] = windows_;
            head["steps"] = s_.steps.size();
            result_.out += head.dump() + "\n";
        }
        if (o_.output == Output::Reports) result_.out += "# " + s_.file + ": " + s_.description + "\n";
        std::string users;
        for (const auto& u : s_.users) users += (users.empty() ? "" : ", ") + u.name + (u.app ? " (with the settings application)" : "");
        Print("tavo-sim: " + s_.file + ": " + s_.description + "\n");
        Print("laptop " + s_.laptop.name + " (" + s_.laptop.file + "), Windows " + std::to_string(windows_) +
              (s_.softwareComponent && s_.laptop.softwareComponent ? ", software component installed"
                                                                   : ", no software component") +
              "; users: " + (users.empty() ? "none" : users) + "\n");
    }

    // ---- the occasions ------------------------------------------------------------------------

    bool Running() const { return service_ && service_->currentState() != win::SERVICE_STOPPED; }

    // What the service manager delivers, only to a service that runs.
    void Control(win::DWORD control, win::DWORD eventType, std::vector<unsigned char> data = {}) {
        if (!Running()) {
            Note("the service is not running: nothing reaches it");
            return;
        }
        CServiceBase::ServiceControlHandler(control, eventType, data.empty() ? nullptr : data.data(), nullptr);
        machine_.threads.RunPending();
    }
    void Session(win::DWORD event) { Control(win::SERVICE_CONTROL_SESSIONCHANGE, event); }

    void Note(const std::string& text) { notes_.push_back(text); }

    // A user's session at the console, logged on and active.
    void LogOnAtConsole(const std::string& user) {
        win::DWORD id;
        if (auto it = sessionOf_.find(user); it != sessionOf_.end())
            id = it->second;
        else if (logonScreen_)
            id = *logonScreen_;
        else
            id = nextSession_++;
        if (!console_.empty() && console_ != user)
            machine_.sessions.AddSession(sessionOf_[console_], Wide(console_), win::WTSDisconnected);
        logonScreen_.reset();
        machine_.sessions.LogOn(Wide(user), id);
        sessionOf_[user] = id;
        console_ = user;
    }

    std::string ConsoleUser(const Step& step) const {
        if (!step.name.empty()) return step.name;
        if (!console_.empty()) return console_;
        return s_.users.empty() ? "" : s_.users.front().name;
    }

    std::wstring MousePath(const HidSheet& h) const {
        // The mouse-class interface of a collection: its HID path under the mouse interface class.
        std::wstring path = h.path;
        const std::size_t brace = path.rfind(L"#{");
        if (brace != std::wstring::npos) path = path.substr(0, brace);
        return path + L"#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
    }
    static bool IsMouse(const HidSheet& h) { return h.usagePage == 0x0001 && h.usage == 0x0002; }

    // The collections that make one device with the pad, and its mouse-class nodes.
    std::vector<std::size_t> PadCollections(const Pad& pad) const {
        const HidSheet& p = s_.laptop.hid[pad.index];
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < s_.laptop.hid.size(); ++i)
            if (s_.laptop.hid[i].vendorId == p.vendorId && s_.laptop.hid[i].productId == p.productId) out.push_back(i);
        return out;
    }
    std::vector<win::DEVINST> PadMice(const std::vector<std::size_t>& collections) const {
        std::vector<win::DEVINST> out;
        for (std::size_t m = 0; m < s_.laptop.mice.size(); ++m)
            for (std::size_t c : collections)
                for (const auto& id : s_.laptop.hid[c].hardwareIds)
                    if (s_.laptop.mice[m].hardwareIds.front() == id) out.push_back(built_.mouseNodes[m]);
        return out;
    }
    void Unplug(const Pad& pad, bool notify) {
        const auto collections = PadCollections(pad);
        for (std::size_t c : collections) machine_.devices.Unplug(built_.hidNodes[c]);
        for (win::DEVINST m : PadMice(collections)) machine_.devices.Unplug(m);
        unplugged_[pad.name] = true;
        if (notify) Notify(pad, win::DBT_DEVICEREMOVECOMPLETE);
    }
    void Notify(const Pad& pad, win::DWORD event) {
        for (std::size_t c : PadCollections(pad))
            if (IsMouse(s_.laptop.hid[c]))
                Control(win::SERVICE_CONTROL_DEVICEEVENT, event,
                        sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, MousePath(s_.laptop.hid[c])));
    }
    Pad& PadNamed(const std::string& name) {
        for (auto& p : pads_)
            if (name.empty() || p.name == name) return p;
        return pads_.front();  // the file was checked
    }

    void Rpc(const Step& step) {
        SimClient client(machine_, Running() && machine_.rpc.Registered().has_value());
        const tavoctl::Outcome outcome = tavoctl::RunCommand(step.rpc, client);
        answer_ = tavoctl::Render(outcome, true).out;
        const tavoctl::Rendered text = tavoctl::Render(outcome, false);
        answerText_ = text.out + text.err;
    }

    void SetEvent(const std::string& name) {
        std::wstring full = Wide(name);
        for (const auto& [alias, event] : EventAliases())
            if (alias == name) full = event;
        win::HANDLE h{};
        const win::DWORD error = win::Sync().OpenEventW(win::EVENT_MODIFY_STATE, full.c_str(), &h);
        if (error != win::ERROR_SUCCESS) {
            Note("the event " + Narrow(full) + " cannot be opened (error " + std::to_string(error) + ")");
            return;
        }
        win::Sync().SetEvent(h);
        win::Sync().CloseHandle(h);
        Settle();
    }

    // Lets the monitors answer what the world did.
    void Settle() {
        machine_.threads.RunPending();
        machine_.threads.Join();
    }

    void Do(const Step& step) {
        using K = Step::Kind;
        switch (step.kind) {
            case K::Start:
                if (!step.name.empty()) LogOnAtConsole(step.name);
                if (Running()) {
                    Note("the service runs already: the service manager refuses the start (1056)");
                    return;
                }
                if (service_) {
                    // A start after a stop is a new process.
                    serviceInstance = nullptr;
                    service_.reset();
                    ResetProcessState();
                }
                stoppedByStop_ = false;
                service_ = std::make_unique<CSampleService>();
                serviceInstance = service_.get();
                service_->Start(0, nullptr);
                machine_.threads.RunPending();
                return;
            case K::Logon:
                LogOnAtConsole(step.name);
                Session(win::WTS_SESSION_LOGON);
                return;
            case K::Logoff: {
                if (console_.empty()) {
                    Note("nobody is logged on at the console");
                    return;
                }
                Session(win::WTS_SESSION_LOGOFF);
                // The session ends; the console shows the logon screen.
                const win::DWORD old = sessionOf_[console_];
                const win::DWORD screen = nextSession_++;
                machine_.sessions.AddSession(screen, L"", win::WTSConnected);
                machine_.sessions.SetConsoleSession(screen);
                machine_.sessions.RemoveSession(old);
                sessionOf_.erase(console_);
                console_.clear();
                logonScreen_ = screen;
                return;
            }
            case K::Switch: {
                if (console_ == step.name) {
                    Note(step.name + " is at the console already");
                    return;
                }
                if (!console_.empty()) {
                    machine_.sessions.AddSession(sessionOf_[console_], Wide(console_), win::WTSDisconnected);
                    Session(win::WTS_CONSOLE_DISCONNECT);
                }
                const bool known = sessionOf_.count(step.name) > 0;
                console_.clear();
                LogOnAtConsole(step.name);
                Session(win::WTS_CONSOLE_CONNECT);
                Session(known ? win::WTS_SESSION_UNLOCK : win::WTS_SESSION_LOGON);
                return;
            }
            case K::Lock:
            case K::Unlock:
                if (console_.empty()) {
                    Note("nobody is logged on at the console");
                    return;
                }
                Session(step.kind == K::Lock ? win::WTS_SESSION_LOCK : win::WTS_SESSION_UNLOCK);
                return;
            case K::Resume:
                Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMSUSPEND);
                Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMEAUTOMATIC);
                Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMESUSPEND);
                return;
            case K::DeviceArrival: {
                std::wstring path = L"\\\\?\\HID#VEN_TAVO&DEV_0C5E&Col01#5&2a3b4c5d&0&0000";
                const HidSheet* mouse = nullptr;
                if (!pads_.empty())
                    for (std::size_t c : PadCollections(pads_.front()))
                        if (!mouse && IsMouse(s_.laptop.hid[c])) mouse = &s_.laptop.hid[c];
                for (const auto& h : s_.laptop.hid)
                    if (!mouse && IsMouse(h)) mouse = &h;
                if (mouse) path = MousePath(*mouse);
                Control(win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL,
                        sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, path));
                return;
            }
            case K::Unplug: {
                Pad& pad = PadNamed(step.name);
                if (unplugged_[pad.name]) {
                    Note("the pad " + pad.name + " is not plugged in");
                    return;
                }
                Unplug(pad, true);
                return;
            }
            case K::Plug: {
                Pad& pad = PadNamed(step.name);
                if (!unplugged_[pad.name]) {
                    Note("the pad " + pad.name + " is plugged in already");
                    return;
                }
                const auto collections = PadCollections(pad);
                for (std::size_t c : collections) machine_.devices.Replug(built_.hidNodes[c]);
                for (win::DEVINST m : PadMice(collections)) machine_.devices.Replug(m);
                unplugged_[pad.name] = false;
                Notify(pad, win::DBT_DEVICEARRIVAL);
                return;
            }
            case K::Toggle: {
                // The input agent's flip of AABB, as it writes it; the monitor answers.
                const auto aabb = machine_.registry.Dword(kInForce, kValueAABB);
                if (!machine_.registry.KeyExists(kInForce)) {
                    Note("the settings key is missing: the agent writes nothing");
                    return;
                }
                machine_.registry.SetDword(kInForce, kValueAABB, aabb && *aabb == 0 ? 1 : 0);
                Settle();
                return;
            }
            case K::Rpc: Rpc(step); return;
            case K::Event: SetEvent(step.name); return;
            case K::AppInstalled:
            case K::AppRemoved: {
                const std::string user = ConsoleUser(step);
                if (user.empty()) {
                    Note("no user to install or remove the settings application for");
                    return;
                }
                if (step.kind == K::AppInstalled)
                    machine_.files.AddFolder(CompanionPackageFolder(Wide(user)));
                else
                    machine_.files.Remove(CompanionPackageFolder(Wide(user)));
                Settle();
                return;
            }
            case K::Refuse:
                for (auto& pad : pads_) {
                    if (step.functions.empty())
                        for (const auto& [function, value] : pad.firmware->Values()) pad.firmware->Refuse(function);
                    for (win::WORD f : step.functions) pad.firmware->Refuse(f);
                }
                return;
            case K::Accept:
                for (auto& pad : pads_) pad.firmware->AcceptAll();
                return;
            case K::Stop:
            case K::Shutdown:
                Control(step.kind == K::Stop ? win::SERVICE_CONTROL_STOP : win::SERVICE_CONTROL_SHUTDOWN, 0);
                Settle();
                if (step.kind == K::Stop && service_) stoppedByStop_ = service_->currentState() == win::SERVICE_STOPPED;
                return;
        }
    }

    // ---- one step and what it shows ---------------------------------------------------------

    void RunStep(std::size_t number, const Step& step) {
        const std::size_t mark = machine_.etw.WrittenCount();
        notes_.clear();
        answer_.clear();
        answerText_.clear();
        reportsThisStep_ = 0;
        unplugAt_ = step.unplugAfterReports;
        Do(step);
        unplugAt_ = -1;
        if (pendingRemoval_) {
            pendingRemoval_ = false;
            Notify(pads_.front(), win::DBT_DEVICEREMOVECOMPLETE);
        }

        std::vector<std::string> trace;
        for (const auto& r : machine_.etw.WrittenSince(mark)) {
            std::wstring text = r.text;
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
            trace.push_back(Narrow(text));
        }
        // The whole registry is compared only for the JSON's list of changes.
        std::map<std::wstring, sim::RegValue> registry;
        if (o_.output == Output::Json) registry = machine_.registry.Snapshot();
        const std::vector<std::string> failures = Check(number, step, trace);

        switch (o_.output) {
            case Output::Text: Text(number, step, trace, failures); break;
            case Output::Json: Json(number, step, trace, registry, failures); break;
            case Output::Reports: Reports(number, step); break;
            case Output::None: break;
        }
        for (auto& pad : pads_) {
            pad.last = pad.firmware->Values();
            pad.firmware->ClearReports();
        }
        registry_ = std::move(registry);
        result_.failures.insert(result_.failures.end(), failures.begin(), failures.end());
    }

    std::vector<std::string> Check(std::size_t number, const Step& step, const std::vector<std::string>& trace) {
        std::vector<std::string> failures;
        const std::string where = "step " + std::to_string(number) + " (" + step.text +
                                  (step.line > 0 ? ", line " + std::to_string(step.line) : "") + "): ";
        for (const Expectation& e : step.expect) {
            ++result_.expectations;
            std::string what, expected, got;
            bool ok = true;
            switch (e.kind) {
                case Expectation::Kind::PadFunction: {
                    what = (pads_.size() > 1 ? "pad " + e.pad + " " : "pad ") + Hex4(e.function);
                    expected = Hex4(e.padValue);
                    const auto v = PadNamed(e.pad).firmware->Value(e.function);
                    ok = v && *v == e.padValue;
                    got = v ? Hex4(*v) : "nothing (the firmware has no such function)";
                    break;
                }
                case Expectation::Kind::InForce:
                case Expectation::Kind::UserValue: {
                    const bool inForce = e.kind == Expectation::Kind::InForce;
                    what = (inForce ? "in force " : e.user + "'s ") + Narrow(e.valueName);
                    const RegistryValue v =
                        FromRegistry(machine_.registry.Value(inForce ? kInForce : kInForce + L"\\" + Wide(e.user), e.valueName));
                    ok = v == e.value;
                    expected = Shown(e.value);
                    got = Shown(v);
                    break;
                }
                case Expectation::Kind::Trace:
                case Expectation::Kind::NoTrace: {
                    const std::string* found = nullptr;
                    for (const auto& line : trace)
                        if (!found && line.find(e.text) != std::string::npos) found = &line;
                    if (e.kind == Expectation::Kind::Trace) {
                        what = "trace";
                        ok = found != nullptr;
                        expected = "a line containing \"" + e.text + "\"";
                        got = "none among the step's " + std::to_string(trace.size()) + " line(s)";
                    } else {
                        what = "noTrace";
                        ok = found == nullptr;
                        expected = "no line containing \"" + e.text + "\"";
                        got = found ? "\"" + *found + "\"" : "";
                    }
                    break;
                }
                case Expectation::Kind::Answer: {
                    what = "answer " + e.pointer;
                    expected = e.answerJson;
                    const ojson answer = ojson::parse(answer_, nullptr, false);
                    const ojson::json_pointer pointer(e.pointer);
                    if (answer.is_discarded() || !answer.contains(pointer)) {
                        ok = false;
                        got = "nothing (the answer has no such field)";
                    } else {
                        ok = answer.at(pointer) == ojson::parse(e.answerJson);
                        got = answer.at(pointer).dump();
                    }
                    break;
                }
            }
            if (!ok) failures.push_back(where + what + ": expected " + expected + ", got " + got);
        }
        return failures;
    }

    void Text(std::size_t number, const Step& step, const std::vector<std::string>& trace,
              const std::vector<std::string>& failures) {
        Print("\n== " + std::to_string(number) + ". " + step.text + (step.note.empty() ? "" : " (" + step.note + ")") + " ==\n");
        for (const auto& line : trace)
            if (o_.trace) Print("  | " + line + "\n");
        for (const auto& n : notes_) Print("  note: " + n + "\n");
        if (!answerText_.empty()) {
            std::istringstream lines(answerText_);
            for (std::string line; std::getline(lines, line);) Print("  answer: " + line + "\n");
        }
        PrintPads();
        PrintRecord<PalmSettings>("palm");
        PrintRecord<ForcepadSettings>("forcepad");
        for (const auto& f : failures) Print("  FAILED " + f + "\n");
        if (!step.expect.empty() && failures.empty())
            Print("  expected: " + std::to_string(step.expect.size()) + " held\n");
    }

    // The function table of each pad (named when the laptop has several); a value the step
    // changed is marked with '*'.
    void PrintPads() {
        if (pads_.empty()) Print("  pad: (the laptop has no firmware)\n");
        for (auto& pad : pads_) {
            std::string line = "  pad" + (pads_.size() > 1 ? " " + pad.name : "") + ":";
            for (const auto& [function, value] : pad.firmware->Values()) {
                auto before = pad.last.find(function);
                const bool changed = before != pad.last.end() && before->second != value;
                line += Format(" %04X=%04X%s", function, value, changed ? "*" : "");
            }
            Print(line + "\n");
        }
    }

    template <typename Record>
    void PrintRecord(const char* title) {
        std::string line = std::string("  in force, ") + title + ":";
        for (const auto& f : RecordLayout<Record>::fields) {
            auto v = machine_.registry.Dword(kInForce, f.valueName);
            line += " " + Narrow(f.valueName) + "=" + (v ? std::to_string(static_cast<std::int32_t>(*v)) : "(none)");
        }
        Print(line + "\n");
    }

    static std::string Bytes(const std::vector<win::BYTE>& bytes) {
        std::string out;
        for (win::BYTE b : bytes) out += Format(out.empty() ? "%02X" : " %02X", b);
        return out;
    }

    // "HKLM\...\Brindlex_PTP" as "in force", a user's subkey as "user NAME"; other keys as the
    // registry folds them.
    std::string KeyName(const std::wstring& place) const {
        std::wstring folded = kInForce;
        for (auto& c : folded) c = static_cast<wchar_t>(std::towupper(c));
        folded.replace(0, 4, L"HKEY_LOCAL_MACHINE");
        const std::wstring key = place.substr(0, place.rfind(L':'));
        if (key == folded) return "in force";
        if (key.starts_with(folded + L"\\")) {
            const std::wstring user = key.substr(folded.size() + 1);
            for (const auto& u : s_.users) {
                std::wstring name = Wide(u.name);
                for (auto& c : name) c = static_cast<wchar_t>(std::towupper(c));
                if (name == user) return "user " + u.name;
            }
        }
        return Narrow(key);
    }

    void Json(std::size_t number, const Step& step, const std::vector<std::string>& trace,
              const std::map<std::wstring, sim::RegValue>& registry, const std::vector<std::string>& failures) {
        ojson j;
        j["step"] = number;
        j["do"] = step.text;
        j["line"] = step.line;
        if (!step.note.empty()) j["note"] = step.note;
        j["notes"] = notes_;
        j["trace"] = trace;
        ojson reports = ojson::array();
        for (const auto& pad : pads_)
            for (const auto& r : pad.firmware->Reports()) {
                ojson report;
                report["pad"] = pad.name;
                report["to"] = r.direction == sim::TouchpadFirmware::Direction::ToDevice ? "device" : "host";
                report["bytes"] = Bytes(r.bytes);
                report["accepted"] = r.accepted;
                reports.push_back(report);
            }
        j["reports"] = reports;
        ojson table;
        for (const auto& pad : pads_) {
            ojson functions;
            for (const auto& [function, value] : pad.firmware->Values()) functions[Hex4(function)] = Hex4(value);
            table[pad.name] = functions;
        }
        j["pads"] = table;
        ojson changes = ojson::array();
        auto change = [&](const std::wstring& place, const sim::RegValue* before, const sim::RegValue* after) {
            ojson c;
            c["key"] = KeyName(place);
            c["value"] = Narrow((after ? after : before)->name);
            c["before"] = JsonOf(before ? std::optional<sim::RegValue>(*before) : std::nullopt);
            c["after"] = JsonOf(after ? std::optional<sim::RegValue>(*after) : std::nullopt);
            changes.push_back(c);
        };
        for (const auto& [place, value] : registry) {
            auto it = registry_.find(place);
            if (it == registry_.end())
                change(place, nullptr, &value);
            else if (it->second.type != value.type || it->second.data != value.data)
                change(place, &it->second, &value);
        }
        for (const auto& [place, value] : registry_)
            if (!registry.count(place)) change(place, &value, nullptr);
        j["registry"] = changes;
        j["answer"] = answer_.empty() ? ojson(nullptr) : ojson::parse(answer_);
        j["expectations"] = step.expect.size();
        j["failures"] = failures;
        result_.out += j.dump() + "\n";
    }

    void Reports(std::size_t number, const Step& step) {
        result_.out += "# " + std::to_string(number) + ". " + step.text + "\n";
        for (const auto& pad : pads_)
            for (const auto& r : pad.firmware->Reports()) {
                std::string line = pads_.size() > 1 ? pad.name + " " : "";
                line += r.direction == sim::TouchpadFirmware::Direction::ToDevice ? ">" : "<";
                if (!r.bytes.empty()) line += " " + Bytes(r.bytes);
                if (!r.accepted) line += " refused";
                result_.out += line + "\n";
            }
    }

    void End() {
        const bool stopped = stoppedByStop_ && service_ && service_->currentState() == win::SERVICE_STOPPED;
        const bool running = Running();
        serviceInstance = nullptr;
        if (stopped) {
            service_.reset();
            result_.openHandles = machine_.handles.OpenCount();
            if (result_.openHandles != 0)
                result_.failures.push_back("the service left " + std::to_string(result_.openHandles) +
                                           " handle(s) open after its stop");
        }
        result_.stopped = stopped;
        const std::string end = stopped    ? "service stopped; " + std::to_string(result_.openHandles) + " handle(s) left open"
                                : running ? "service still running at the end"
                                : service_ ? "service shut down"
                                           : "service never started";
        Print("\n" + end + "\n");
        if (o_.output == Output::Json) {
            ojson j;
            j["end"] = end;
            j["stopped"] = stopped;
            j["openHandles"] = result_.openHandles;
            j["expectations"] = result_.expectations;
            j["failures"] = result_.failures.size();
            result_.out += j.dump() + "\n";
        }
    }

    const Scenario& s_;
    const RunOptions& o_;
    sim::Machine machine_;
    BuiltLaptop built_;
    int windows_ = 10;
    std::vector<Pad> pads_;
    std::unique_ptr<CSampleService> service_;
    bool stoppedByStop_ = false;
    RunResult result_;

    std::map<std::string, win::DWORD> sessionOf_;
    std::string console_;  // the user at the console; empty: nobody
    std::optional<win::DWORD> logonScreen_;
    win::DWORD nextSession_ = 1;
    std::map<std::string, bool> unplugged_;

    std::atomic<int> unplugAt_{-1};
    std::atomic<int> reportsThisStep_{0};
    std::atomic<bool> pendingRemoval_{false};

    std::vector<std::string> notes_;
    std::string answer_;      // the settings application's answer, as tavoctl --json prints it
    std::string answerText_;  // as tavoctl prints it
    std::map<std::wstring, sim::RegValue> registry_;  // as the last step left it
};

Step Parsed(const std::string& text, const std::string& note = "") {
    // Built-in steps are written by hand below, so a fault here is a programming error.
    Step step;
    step.text = text;
    step.note = note;
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    const std::string verb = words[0];
    using K = Step::Kind;
    static const std::map<std::string, K> plain = {{"start", K::Start}, {"logon", K::Logon}, {"logoff", K::Logoff},
                                                   {"resume", K::Resume}, {"toggle", K::Toggle}, {"stop", K::Stop},
                                                   {"device", K::DeviceArrival}};
    if (auto it = plain.find(verb); it != plain.end()) {
        step.kind = it->second;
        if ((verb == "start" || verb == "logon") && words.size() > 1) step.name = words[1];
        return step;
    }
    step.kind = K::Rpc;
    step.rpc = std::get<tavoctl::Command>(tavoctl::ParseCommandLine(words));
    return step;
}

}  // namespace

RunResult RunScenario(const Scenario& scenario, const RunOptions& options) {
    Runner runner(scenario, options);
    return runner.Go();
}

Scenario BuiltInScenario(const LaptopSheet& laptop, std::optional<int> windows, bool userAtStart, bool companion) {
    Scenario s;
    s.file = "(built in)";
    s.description = std::string(userAtStart ? "alice at the console from the start" : "alice logs on after the start") +
                    (companion ? "; her own choice, stored earlier in the settings application: palm level 3, "
                                 "haptic feedback 75 %, click force 2"
                               : "; no settings application (the driver's defaults decide)");
    s.laptop = laptop;
    s.windows = windows;
    s.softwareComponent = companion;
    User alice;
    alice.name = "alice";
    alice.app = companion;
    if (companion) {
        const PalmSettings palm{3, 10, 10, 20, 20};
        const ForcepadSettings forcepad{4, 1, 75, 2, 2, 1, 0, 1, 0};
        for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i)
            alice.stored.emplace_back(RecordLayout<PalmSettings>::fields[i].valueName,
                                      static_cast<std::uint32_t>(Field(palm, i)));
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            alice.stored.emplace_back(RecordLayout<ForcepadSettings>::fields[i].valueName,
                                      static_cast<std::uint32_t>(Field(forcepad, i)));
    }
    s.users.push_back(alice);
    s.steps = {
        Parsed(userAtStart ? "start alice" : "start", userAtStart ? "alice at the console" : "nobody at the console"),
        Parsed("logon alice"),
        Parsed("palm set 1 10 10 20 20", "the settings application: palm level 1"),
        Parsed("forcepad set item=2 haptic-strength=100", "the settings application: haptic feedback 100 %"),
        Parsed("palm get", "the settings application reads back"),
        Parsed("data 99"),
        Parsed("status"),
        Parsed("toggle", "the touchpad's toggle report: KVRInput flips AABB"),
        Parsed("resume", "from sleep"),
        Parsed("device arrival", "a mouse-class device"),
        Parsed("logoff"),
        Parsed("stop"),
    };
    return s;
}

}  // namespace tavo::scenarios
