#include "scenario.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "laptops/json_reader.h"
#include "platform/reg_text.h"
#include "settings/settings_records.h"

namespace tavo::scenarios {

namespace {

using namespace tavo::json_reader;

// The values of the settings key a scenario may store or expect: a typo is refused rather
// than silently never matching.
std::vector<std::wstring> KnownValueNames() {
    std::vector<std::wstring> names;
    for (const auto& f : RecordLayout<PalmSettings>::fields) names.emplace_back(f.valueName);
    for (const auto& f : RecordLayout<ForcepadSettings>::fields) names.emplace_back(f.valueName);
    for (const wchar_t* n : {kValueForcepadCapability, kValueFunctionCustomPalmRejection, kValueAABB,
                             kValueBIOSEnablePSTStatus, kValueDisableEventLog, kValueVersion})
        names.emplace_back(n);
    return names;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);
    return out;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? "(none)" : out;
}

class ScenarioReader {
public:
    ScenarioReader(const Document& doc, Scenario& out) : doc_(doc), r_(doc), s_(out) {}

    void Read() {
        const Object top(r_, doc_.value, "",
                         {"description", "laptop", "windows", "softwareComponent", "users", "inForce", "steps"});
        s_.description = NarrowText(top, "description");
        ReadLaptop(top);
        if (const json* w = top.Find("windows")) {
            const std::string name = w->is_string() ? w->get<std::string>()
                                     : w->is_number_integer() ? std::to_string(w->get<std::int64_t>())
                                                              : "";
            if (name != "10" && name != "11") r_.Fail(top.Path("windows"), "\"10\" or \"11\"", *w);
            s_.windows = std::stoi(name);
        }
        s_.softwareComponent = Flag(top, "softwareComponent", true);
        if (const json* users = top.Find("users")) {
            if (!users->is_object()) r_.Fail(top.Path("users"), "an object of users by name", *users);
            for (const auto& [name, sheet] : users->items()) ReadUser(top.Path("users") + "/" + EscapePointer(name), name, sheet);
        }
        if (const json* v = top.Find("inForce")) s_.inForce = Values(top.Path("inForce"), *v, false);
        s_.steps = List(top, "steps", true, 1, [&](const std::string& p, const json& e) { return ReadStep(p, e); });
    }

private:
    void ReadLaptop(const Object& top) {
        const std::string name = NarrowText(top, "laptop");
        std::string path = laptops::FindLaptopFile(name);
        if (path == name && std::filesystem::path(name).is_relative())
            path = (std::filesystem::path(doc_.file).parent_path() / name).string();
        try {
            s_.laptop = laptops::LoadLaptopFile(path);
        } catch (const laptops::LaptopFileError& e) {
            throw ScenarioFileError(std::string(e.what()) + " (the laptop of " + doc_.file + ")");
        }
        for (const auto& h : s_.laptop.hid)
            if (h.firmware) pads_.push_back(h.name);
    }

    void ReadUser(const std::string& pointer, const std::string& name, const json& v) {
        const Object o(r_, v, pointer, {"app", "stored"});
        if (name.empty() || name.find_first_of(" \\/") != std::string::npos)
            r_.Fail(pointer, "a user name without spaces or slashes", Quoted(name));
        scenarios::User u;
        u.name = name;
        u.app = Flag(o, "app", false);
        if (const json* stored = o.Find("stored")) u.stored = Values(o.Path("stored"), *stored, false);
        s_.users.push_back(std::move(u));
        userNames_.push_back(name);
    }

    // {"PalmCheck_Level": 3, ...}: DWORDs (a negative number is its 32-bit pattern), strings
    // and, in an expectation, null for "not there".
    std::vector<std::pair<std::wstring, RegistryValue>> Values(const std::string& pointer, const json& v, bool absentOk) {
        if (!v.is_object()) r_.Fail(pointer, "an object of registry values by name", v);
        static const std::vector<std::wstring> known = KnownValueNames();
        std::vector<std::pair<std::wstring, RegistryValue>> out;
        for (const auto& [name, value] : v.items()) {
            const std::string p = pointer + "/" + EscapePointer(name);
            const std::wstring wide = WideFromUtf8(name);
            if (std::find(known.begin(), known.end(), wide) == known.end()) {
                std::vector<std::string> list;
                for (const auto& k : known) list.push_back(Narrow(k));
                r_.Fail(p, "a value of the settings key (" + Joined(list) + ")", "an unknown value " + Quoted(name));
            }
            out.emplace_back(wide, Value(p, value, absentOk));
        }
        return out;
    }
    RegistryValue Value(const std::string& p, const json& v, bool absentOk) {
        const std::string expected = std::string(absentOk ? "null (not there), " : "") +
                                     "a number from -2147483648 to 0xFFFFFFFF, or a string";
        if (v.is_null() && absentOk) return std::monostate{};
        if (v.is_string() && !v.get<std::string>().starts_with("0x") && !v.get<std::string>().starts_with("-0x"))
            return WideFromUtf8(v.get<std::string>());
        if (!v.is_number_integer() && !v.is_string()) r_.Fail(p, expected, v);
        return static_cast<std::uint32_t>(Integer(r_, p, v, INT32_MIN, UINT32_MAX));
    }

    Step ReadStep(const std::string& pointer, const json& v) {
        const Object o(r_, v, pointer, {"do", "note", "unplugAfterReports", "expect"});
        Step step;
        step.line = std::stoi(r_.LineOf(pointer).substr(1));
        step.text = NarrowText(o, "do");
        if (o.Find("note")) step.note = NarrowText(o, "note");
        ParseDo(o.Path("do"), step);
        if (o.Find("unplugAfterReports")) {
            if (pads_.empty()) r_.Fail(o.Path("unplugAfterReports"), "a laptop with a pad (a collection with a firmware)", "none");
            step.unplugAfterReports = Number<std::uint16_t>(o, "unplugAfterReports");
        }
        if (const json* e = o.Find("expect")) ReadExpect(o.Path("expect"), *e, step);
        return step;
    }

    std::string UserWord(const std::string& p, const std::string& text, const std::vector<std::string>& words,
                     std::size_t at, bool optional) {
        if (words.size() <= at) {
            if (optional) return "";
            r_.Fail(p, words[0] + " USER, a user of /users (" + Joined(userNames_) + ")", Quoted(text));
        }
        if (words.size() > at + 1) r_.Fail(p, words[0] + " USER, one word after it", Quoted(text));
        if (std::find(userNames_.begin(), userNames_.end(), words[at]) == userNames_.end())
            r_.Fail(p, "a user of /users (" + Joined(userNames_) + ")", Quoted(text));
        return words[at];
    }
    std::string Collection(const std::string& p, const std::string& text, const std::vector<std::string>& words,
                           const std::vector<std::string>& names, const char* what) {
        if (words.size() == 1) {
            if (pads_.empty()) r_.Fail(p, "a laptop with a pad (a collection with a firmware)", Quoted(text));
            return "";
        }
        if (words.size() > 2 || std::find(names.begin(), names.end(), words[1]) == names.end())
            r_.Fail(p, words[0] + " [" + what + "], one of " + Joined(names), Quoted(text));
        return words[1];
    }
    void NoArguments(const std::string& p, const std::string& text, const std::vector<std::string>& words,
                     std::size_t count) {
        if (words.size() != count) r_.Fail(p, "\"" + text.substr(0, text.find(' ')) + "\" alone", Quoted(text));
    }

    void ParseDo(const std::string& p, Step& step) {
        std::vector<std::string> words;
        std::istringstream in(step.text);
        for (std::string w; in >> w;) words.push_back(w);
        const std::string& text = step.text;
        const std::string verb = words.empty() ? "" : words[0];
        using K = Step::Kind;
        if (verb == "start") {
            step.kind = K::Start;
            step.name = UserWord(p, text, words, 1, true);
        } else if (verb == "logon" || verb == "switch") {
            step.kind = verb == "logon" ? K::Logon : K::Switch;
            step.name = UserWord(p, text, words, 1, false);
        } else if (verb == "logoff" || verb == "lock" || verb == "unlock" || verb == "resume" || verb == "toggle" ||
                   verb == "accept" || verb == "stop" || verb == "shutdown") {
            NoArguments(p, text, words, 1);
            step.kind = verb == "logoff"   ? K::Logoff
                        : verb == "lock"   ? K::Lock
                        : verb == "unlock" ? K::Unlock
                        : verb == "resume" ? K::Resume
                        : verb == "toggle" ? K::Toggle
                        : verb == "accept" ? K::Accept
                        : verb == "stop"   ? K::Stop
                                           : K::Shutdown;
            if (step.kind == K::Accept && pads_.empty())
                r_.Fail(p, "a laptop with a pad (a collection with a firmware)", Quoted(text));
        } else if (verb == "device") {
            if (words.size() != 2 || words[1] != "arrival") r_.Fail(p, "\"device arrival\"", Quoted(text));
            step.kind = K::DeviceArrival;
        } else if (verb == "unplug" || verb == "plug") {
            step.kind = verb == "unplug" ? K::Unplug : K::Plug;
            step.name = Collection(p, text, words, pads_, "PAD");
        } else if (verb == "refuse") {
            step.kind = K::Refuse;
            if (pads_.empty()) r_.Fail(p, "a laptop with a pad (a collection with a firmware)", Quoted(text));
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::int64_t f = 0;
                if (!HexString(words[i], &f) || f < 0 || f > 0xFFFF)
                    r_.Fail(p, "refuse [FUNCTION ...], each a function code such as 0x03AB", Quoted(text));
                step.functions.push_back(static_cast<std::uint16_t>(f));
            }
        } else if (verb == "event") {
            step.kind = K::Event;
            if (words.size() != 2) r_.Fail(p, "event NAME (a named event, or one of " + EventNames() + ")", Quoted(text));
            step.name = words[1];
        } else if (verb == "app") {
            if (words.size() < 2 || (words[1] != "installed" && words[1] != "removed"))
                r_.Fail(p, "app installed [USER] or app removed [USER]", Quoted(text));
            step.kind = words[1] == "installed" ? K::AppInstalled : K::AppRemoved;
            std::vector<std::string> rest(words.begin() + 1, words.end());
            step.name = UserWord(p, text, rest, 1, true);
        } else if (verb == "palm" || verb == "forcepad" || verb == "data" || verb == "status" || verb == "support" ||
                   verb == "meter") {
            step.kind = K::Rpc;
            const auto parsed = tavoctl::ParseCommandLine(words);
            if (const auto* error = std::get_if<tavoctl::UsageError>(&parsed))
                r_.Fail(p, "a call of the settings application, as tavoctl takes it", Quoted(text) + " (" + error->message + ")");
            step.rpc = std::get<tavoctl::Command>(parsed);
            if (step.rpc.verb == tavoctl::Verb::Help || step.rpc.json)
                r_.Fail(p, "a call of the settings application, as tavoctl takes it", Quoted(text));
        } else {
            r_.Fail(p,
                    "a step: start [USER], logon USER, logoff, switch USER, lock, unlock, resume, device arrival, "
                    "unplug [PAD], plug [PAD], toggle, palm ..., forcepad ..., data N, status, support, meter, "
                    "event NAME, app installed|removed [USER], refuse [FUNCTION ...], accept, stop, shutdown",
                    Quoted(text));
        }
    }

    static std::string EventNames() {
        std::vector<std::string> names;
        for (const auto& [alias, name] : EventAliases()) names.push_back(alias);
        return Joined(names);
    }

    void PadValues(const std::string& pointer, const json& v, const std::string& pad, Step& step) {
        if (!v.is_object()) r_.Fail(pointer, "an object of function codes and their values, {\"0x03AB\": \"0x4040\"}", v);
        for (const auto& [code, value] : v.items()) {
            const std::string p = pointer + "/" + EscapePointer(code);
            std::int64_t c = 0;
            if (!HexString(code, &c) || c < 0 || c > 0xFFFF)
                r_.Fail(p, "a function code from 0x0 to 0xFFFF written as \"0x03AB\"", Quoted(code));
            Expectation e;
            e.kind = Expectation::Kind::PadFunction;
            e.pad = pad;
            e.function = static_cast<std::uint16_t>(c);
            e.padValue = static_cast<std::uint16_t>(Integer(r_, p, value, 0, 0xFFFF));
            step.expect.push_back(e);
        }
    }

    void Texts(const Object& o, const std::string& field, Expectation::Kind kind, Step& step) {
        for (auto& text : List(o, field, false, 0, [&](const std::string& p, const json& e) { return NarrowText(r_, p, e); })) {
            Expectation e;
            e.kind = kind;
            e.text = std::move(text);
            step.expect.push_back(e);
        }
    }

    // Every leaf of the expected answer becomes one expectation at its pointer.
    void AnswerLeaves(const std::string& pointer, const json& v, Step& step) {
        if (v.is_object()) {
            for (const auto& [k, e] : v.items()) AnswerLeaves(pointer + "/" + EscapePointer(k), e, step);
            return;
        }
        Expectation e;
        e.kind = Expectation::Kind::Answer;
        e.pointer = pointer;
        e.answerJson = v.dump();
        step.expect.push_back(e);
    }

    void ReadExpect(const std::string& pointer, const json& v, Step& step) {
        const Object o(r_, v, pointer, {"pad", "pads", "inForce", "users", "trace", "noTrace", "answer"});
        if (const json* pad = o.Find("pad")) {
            if (pads_.empty()) r_.Fail(o.Path("pad"), "a laptop with a pad (a collection with a firmware)", "none");
            PadValues(o.Path("pad"), *pad, pads_.front(), step);
        }
        if (const json* pads = o.Find("pads")) {
            if (!pads->is_object()) r_.Fail(o.Path("pads"), "an object of pads by collection name", *pads);
            for (const auto& [name, values] : pads->items()) {
                if (std::find(pads_.begin(), pads_.end(), name) == pads_.end())
                    r_.Fail(o.Path("pads") + "/" + EscapePointer(name),
                            "a collection with a firmware (" + Joined(pads_) + ")", Quoted(name));
                PadValues(o.Path("pads") + "/" + EscapePointer(name), values, name, step);
            }
        }
        if (const json* inForce = o.Find("inForce"))
            for (auto& [name, value] : Values(o.Path("inForce"), *inForce, true)) {
                Expectation e;
                e.kind = Expectation::Kind::InForce;
                e.valueName = name;
                e.value = value;
                step.expect.push_back(e);
            }
        if (const json* users = o.Find("users")) {
            if (!users->is_object()) r_.Fail(o.Path("users"), "an object of users by name", *users);
            for (const auto& [user, values] : users->items()) {
                const std::string p = o.Path("users") + "/" + EscapePointer(user);
                if (std::find(userNames_.begin(), userNames_.end(), user) == userNames_.end())
                    r_.Fail(p, "a user of /users (" + Joined(userNames_) + ")", Quoted(user));
                for (auto& [name, value] : Values(p, values, true)) {
                    Expectation e;
                    e.kind = Expectation::Kind::UserValue;
                    e.user = user;
                    e.valueName = name;
                    e.value = value;
                    step.expect.push_back(e);
                }
            }
        }
        Texts(o, "trace", Expectation::Kind::Trace, step);
        Texts(o, "noTrace", Expectation::Kind::NoTrace, step);
        if (const json* answer = o.Find("answer")) {
            if (step.kind != Step::Kind::Rpc)
                r_.Fail(o.Path("answer"), "an answer only on a call of the settings application", Quoted(step.text));
            if (!answer->is_object()) r_.Fail(o.Path("answer"), "an object of the answer's fields", *answer);
            AnswerLeaves("", *answer, step);
        }
    }

    const Document& doc_;
    const Reader r_;
    Scenario& s_;
    std::vector<std::string> pads_;
    std::vector<std::string> userNames_;
};

}  // namespace

const std::vector<std::pair<std::string, std::wstring>>& EventAliases() {
    static const std::vector<std::pair<std::string, std::wstring>> aliases = {
        {"top-zone-on", L"Global\\API_3HB_Change_Status_On"},
        {"top-zone-off", L"Global\\API_3HB_Change_Status_Off"},
        {"capability-on", L"Global\\API_Set_Forcepad_Capability_Enable"},
        {"capability-off", L"Global\\API_Set_Forcepad_Capability_Disable"},
        {"pst-on", L"Global\\VQSMessage_PST_ON"},
        {"pst-off", L"Global\\VQSMessage_PST_OFF"},
    };
    return aliases;
}

Scenario LoadScenarioFile(const std::string& path) {
    Scenario s;
    try {
        const Document doc = ReadJsonFile(path, "scenario file");
        s.file = path;
        ScenarioReader(doc, s).Read();
    } catch (const JsonFileError& e) {
        throw ScenarioFileError(e.what());
    }
    return s;
}

const char* StepHelp() {
    return "Steps (\"do\"):\n"
           "  start [USER]          the service manager starts the service; USER logs on at the\n"
           "                        console first (otherwise the console is as the steps left it)\n"
           "  logon USER            USER logs on at the console (session-change: logon)\n"
           "  logoff                the console user logs off; the logon screen follows\n"
           "  switch USER           fast user switching: the console session disconnects, USER's\n"
           "                        session connects (logon when new, unlock when it was there)\n"
           "  lock, unlock          the console session is locked, unlocked\n"
           "  resume                the laptop sleeps and wakes (suspend, resume automatic, resume)\n"
           "  device arrival        a mouse-class interface arrives (the pad's pointer collection)\n"
           "  unplug [PAD]          the pad leaves: its collections (those of its vendor and product\n"
           "                        id) and its mouse-class node; a removal notification follows\n"
           "  plug [PAD]            the pad comes back with its table; an arrival notification follows\n"
           "  toggle                the touchpad's toggle report: the input agent flips AABB\n"
           "  palm get | palm set LEVEL UP DOWN LEFT RIGHT | forcepad get | forcepad set NAME=VALUE ...\n"
           "  data N | status | support | meter [FIRST SECOND PERIOD]\n"
           "                        the settings application's calls, as tavoctl takes them (the\n"
           "                        names are tavoctl's: see tavoctl --help)\n"
           "  event NAME            another program sets a named event: its name, or top-zone-on,\n"
           "                        top-zone-off, capability-on, capability-off, pst-on, pst-off\n"
           "  app installed [USER], app removed [USER]\n"
           "                        the settings application's package comes or goes for USER\n"
           "                        (default: the console user)\n"
           "  refuse [FUNCTION ...] from this step on the pad's firmware refuses the reports of\n"
           "                        these functions (0x03AB ...; none named: every function)\n"
           "  accept                the firmware answers every report again\n"
           "  stop, shutdown        the service manager stops the service, the system shuts down\n"
           "A step may also give \"note\" (shown with it), \"unplugAfterReports\": N (the pad leaves\n"
           "after the step's N-th report) and \"expect\":\n"
           "  \"pad\": {\"0x03AB\": \"0x4040\"}        the pad's function values (\"pads\": {NAME: {...}})\n"
           "  \"inForce\": {\"PalmCheck_Level\": 3}   values in force (null: not there)\n"
           "  \"users\": {\"alice\": {...}}           a user's stored values\n"
           "  \"trace\": [\"text\"], \"noTrace\": [...]  lines of the step's trace that contain the text\n"
           "  \"answer\": {\"stored\": true}          fields of the call's answer (tavoctl's --json)\n";
}

}  // namespace tavo::scenarios
