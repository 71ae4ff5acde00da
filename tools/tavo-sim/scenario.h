// A scenario file: a laptop, its users, and the steps of a day with the service, each with
// what should hold after it. Read with the laptop files' reader and the same rule: a file with
// any fault is refused as a whole ("FILE:LINE: /steps/3/do: expected ..., got ...").
//
//   {
//     "description": "alice changes the haptic strength",
//     "laptop": "forcepad",                 // a name in laptops/, or a file beside this one
//     "windows": "10",                      // optional: instead of the laptop's
//     "softwareComponent": true,            // optional: the driver package's component node
//     "users": { "alice": { "app": true, "stored": { "HapticFeedbackCheckSlider": 75 } } },
//     "inForce": { "AABB": 0 },             // optional: values in force before the start
//     "steps": [
//       { "do": "start" },
//       { "do": "logon alice", "expect": { "pad": { "0x03A9": "0x0050" } } },
//       { "do": "forcepad set haptic-strength=100", "expect": { "answer": { "stored": true } } }
//     ]
//   }
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "command_line.h"
#include "laptops/laptop_file.h"

namespace tavo::scenarios {

// what(): "FILE:LINE: FIELD: expected ..., got ..." (a laptop file's own faults as its reader
// gives them).
class ScenarioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A registry value as a scenario gives it: absent, a DWORD, or a string.
using RegistryValue = std::variant<std::monostate, std::uint32_t, std::wstring>;

struct Expectation {
    enum class Kind { PadFunction, InForce, UserValue, Trace, NoTrace, Answer };
    Kind kind = Kind::Trace;
    std::string pad;             // PadFunction: the collection
    std::uint16_t function = 0;  // PadFunction
    std::uint16_t padValue = 0;  // PadFunction
    std::string user;            // UserValue
    std::wstring valueName;      // InForce, UserValue
    RegistryValue value;         // InForce, UserValue
    std::string text;            // Trace, NoTrace: part of a line
    std::string pointer;         // Answer: a JSON pointer into the answer
    std::string answerJson;      // Answer: the value there, as JSON text
};

struct Step {
    enum class Kind {
        Start, Logon, Logoff, Switch, Lock, Unlock, Resume, DeviceArrival, Unplug, Plug, Toggle, Rpc,
        Event, AppInstalled, AppRemoved, Refuse, Accept, Stop, Shutdown
    };
    Kind kind = Kind::Start;
    std::string text;  // as written
    int line = 0;
    std::string note;
    std::string name;  // the user, the collection or the event (empty: the usual one)
    std::vector<std::uint16_t> functions;  // refuse: none means every function in the table
    tavoctl::Command rpc;
    int unplugAfterReports = -1;  // the pad leaves after this many reports of the step
    std::vector<Expectation> expect;
};

struct User {
    std::string name;
    bool app = false;  // the settings application's package is installed for the user
    std::vector<std::pair<std::wstring, RegistryValue>> stored;
};

struct Scenario {
    std::string file;
    std::string description;
    laptops::LaptopSheet laptop;
    std::optional<int> windows;
    bool softwareComponent = true;
    std::vector<User> users;
    std::vector<std::pair<std::wstring, RegistryValue>> inForce;
    std::vector<Step> steps;
};

// Reads the file and the laptop file it names; throws ScenarioFileError and returns nothing
// half-read.
Scenario LoadScenarioFile(const std::string& path);

// The step names with what each does, for --help.
const char* StepHelp();
// The named events a step may set by a short name: {short name, the event's name}.
const std::vector<std::pair<std::string, std::wstring>>& EventAliases();

}  // namespace tavo::scenarios
