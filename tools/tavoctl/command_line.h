// tavoctl's command line: what to ask the service, or why the arguments make no sense.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "model.h"

namespace tavoctl {

enum class Verb { Help, Status, PalmGet, PalmSet, ForcepadGet, ForcepadSet, Data, Support, Meter };

// "palm set", "status", ...: the name a verb has in output.
const char* VerbName(Verb verb);

struct Command {
    Verb verb = Verb::Help;
    bool json = false;
    PalmValues palm;                                                // palm set
    std::vector<std::pair<std::size_t, std::int32_t>> forcepadChanges;  // forcepad set: field, value
    std::int32_t dataFunction = 0;                                  // data
    MeterValues meter;                                              // meter
    friend bool operator==(const Command&, const Command&) = default;
};

struct UsageError {
    std::string message;
    bool json = false;
    friend bool operator==(const UsageError&, const UsageError&) = default;
};

// args without the program name. "--json" and "--help" may stand anywhere.
std::variant<Command, UsageError> ParseCommandLine(const std::vector<std::string>& args);

}  // namespace tavoctl
