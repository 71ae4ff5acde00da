#include "command_line.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace tavoctl {

const char* VerbName(Verb verb) {
    switch (verb) {
        case Verb::Help: return "help";
        case Verb::Status: return "status";
        case Verb::PalmGet: return "palm get";
        case Verb::PalmSet: return "palm set";
        case Verb::ForcepadGet: return "forcepad get";
        case Verb::ForcepadSet: return "forcepad set";
        case Verb::Data: return "data";
        case Verb::Support: return "support";
        case Verb::Meter: return "meter";
    }
    return "?";
}

namespace {

// Decimal with an optional minus, or 0x hexadecimal; the whole word, within T's range.
template <typename T>
std::optional<T> ParseInteger(std::string_view word) {
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    if (base == 16 && !word.empty() && word[0] == '-') return std::nullopt;
    T value{};
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc{} || end != word.data() + word.size()) return std::nullopt;
    return value;
}

std::string Quoted(std::string_view word) {
    std::string quoted = "'";
    quoted += word;
    quoted += '\'';
    return quoted;
}

std::string ForcepadNames() {
    std::string names;
    for (const ForcepadField& f : kForcepadFields) {
        if (!names.empty()) names += ", ";
        names += f.name;
    }
    return names;
}

std::optional<std::int32_t> ParsePalmLevel(std::string_view word) {
    for (std::int32_t level = 0; level <= kPalmLevelMax; ++level) {
        if (word == PalmLevelWord(level)) return level;
    }
    const auto level = ParseInteger<std::int32_t>(word);
    if (level && *level >= 0 && *level <= kPalmLevelMax) return level;
    return std::nullopt;
}

// Parses the words after the command's name into cmd; returns an error message or "".
std::string ParsePalm(const std::vector<std::string>& words, Command& cmd) {
    if (words.size() < 2 || (words[1] != "get" && words[1] != "set")) return "'palm' needs 'get' or 'set'";
    if (words[1] == "get") {
        cmd.verb = Verb::PalmGet;
        return words.size() == 2 ? "" : "'palm get' takes no arguments, got " + Quoted(words[2]);
    }
    cmd.verb = Verb::PalmSet;
    if (words.size() != 7) {
        return "'palm set' needs LEVEL UP DOWN LEFT RIGHT (5 values), got " + std::to_string(words.size() - 2);
    }
    const auto level = ParsePalmLevel(words[2]);
    if (!level) {
        return "palm level " + Quoted(words[2]) +
               " is neither 0 to 5 nor one of minimal, low, medium, high, custom, dynamic";
    }
    cmd.palm.level = *level;
    static constexpr const char* kRangeNames[] = {"up", "down", "left", "right"};
    std::int32_t* const ranges[] = {&cmd.palm.up, &cmd.palm.down, &cmd.palm.left, &cmd.palm.right};
    for (int i = 0; i < 4; ++i) {
        const auto value = ParseInteger<std::int32_t>(words[3 + i]);
        if (!value) return std::string("palm range ") + kRangeNames[i] + " " + Quoted(words[3 + i]) + " is not a 32-bit integer";
        *ranges[i] = *value;
    }
    return "";
}

std::string ParseForcepad(const std::vector<std::string>& words, Command& cmd) {
    if (words.size() < 2 || (words[1] != "get" && words[1] != "set")) return "'forcepad' needs 'get' or 'set'";
    if (words[1] == "get") {
        cmd.verb = Verb::ForcepadGet;
        return words.size() == 2 ? "" : "'forcepad get' takes no arguments, got " + Quoted(words[2]);
    }
    cmd.verb = Verb::ForcepadSet;
    if (words.size() == 2) return "'forcepad set' needs at least one NAME=VALUE; the names are " + ForcepadNames();
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const std::size_t eq = word.find('=');
        if (eq == std::string_view::npos) return Quoted(word) + " is not NAME=VALUE";
        const std::string_view name = word.substr(0, eq);
        const auto field = ForcepadFieldIndex(name);
        if (!field) return "unknown forcepad setting " + Quoted(name) + "; the names are " + ForcepadNames();
        for (const auto& change : cmd.forcepadChanges) {
            if (change.first == *field) return "forcepad setting " + Quoted(name) + " is given twice";
        }
        const auto value = ParseInteger<std::int32_t>(word.substr(eq + 1));
        if (!value) return "forcepad setting " + Quoted(name) + " needs a 32-bit integer, got " + Quoted(word.substr(eq + 1));
        cmd.forcepadChanges.emplace_back(*field, *value);
    }
    return "";
}

std::string ParseData(const std::vector<std::string>& words, Command& cmd) {
    cmd.verb = Verb::Data;
    if (words.size() != 2) return "'data' needs one FUNCTION number";
    const auto function = ParseInteger<std::int32_t>(words[1]);
    if (!function) return "data function " + Quoted(words[1]) + " is not a 32-bit integer";
    cmd.dataFunction = *function;
    return "";
}

std::string ParseMeter(const std::vector<std::string>& words, Command& cmd) {
    cmd.verb = Verb::Meter;
    if (words.size() == 1) return "";
    if (words.size() != 4) return "'meter' takes no values or all three of FIRST SECOND PERIOD";
    std::int64_t* const targets[] = {&cmd.meter.first, &cmd.meter.second, &cmd.meter.period};
    for (int i = 0; i < 3; ++i) {
        const auto value = ParseInteger<std::int64_t>(words[1 + i]);
        if (!value) return "meter value " + Quoted(words[1 + i]) + " is not a 64-bit integer";
        *targets[i] = *value;
    }
    return "";
}

std::string ParseWords(const std::vector<std::string>& words, Command& cmd) {
    const std::string& name = words[0];
    if (name == "palm") return ParsePalm(words, cmd);
    if (name == "forcepad") return ParseForcepad(words, cmd);
    if (name == "data") return ParseData(words, cmd);
    if (name == "meter") return ParseMeter(words, cmd);
    if (name == "status" || name == "support") {
        cmd.verb = name == "status" ? Verb::Status : Verb::Support;
        return words.size() == 1 ? "" : Quoted(name) + " takes no arguments, got " + Quoted(words[1]);
    }
    return "unknown command " + Quoted(name);
}

// A negative number is a value, not an option.
bool LooksLikeOption(std::string_view word) {
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

}  // namespace

std::variant<Command, UsageError> ParseCommandLine(const std::vector<std::string>& args) {
    Command cmd;
    bool help = false;
    std::string badOption;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            cmd.json = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (LooksLikeOption(arg)) {
            if (badOption.empty()) badOption = arg;
        } else {
            words.push_back(arg);
        }
    }
    // Help wins over everything else, so a confused user always gets it.
    if (help) {
        Command helpCmd;
        helpCmd.json = cmd.json;
        return helpCmd;
    }
    if (!badOption.empty()) return UsageError{"unknown option " + Quoted(badOption), cmd.json};
    if (words.empty()) return UsageError{"no command given", cmd.json};
    std::string error = ParseWords(words, cmd);
    if (!error.empty()) return UsageError{std::move(error), cmd.json};
    return cmd;
}

}  // namespace tavoctl
