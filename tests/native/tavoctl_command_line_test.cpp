// tavoctl's command line: each row is what a support engineer types and what tavoctl makes of it.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "command_line.h"

namespace tavoctl {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

Command Cmd(Verb verb, bool json = false) {
    Command c;
    c.verb = verb;
    c.json = json;
    return c;
}
Command PalmSet(PalmValues v) {
    Command c = Cmd(Verb::PalmSet);
    c.palm = v;
    return c;
}
Command ForcepadSet(std::vector<std::pair<std::size_t, std::int32_t>> changes) {
    Command c = Cmd(Verb::ForcepadSet);
    c.forcepadChanges = std::move(changes);
    return c;
}
Command Data(std::int32_t function) {
    Command c = Cmd(Verb::Data);
    c.dataFunction = function;
    return c;
}
Command Meter(MeterValues m) {
    Command c = Cmd(Verb::Meter);
    c.meter = m;
    return c;
}

struct ParseCase {
    const char* line;
    std::variant<Command, UsageError> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class ParseCommandLineTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, ParsesOrExplains) {
    const auto parsed = ParseCommandLine(Words(GetParam().line));
    if (const auto* error = std::get_if<UsageError>(&GetParam().expected)) {
        ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << "accepted";
        EXPECT_EQ(std::get<UsageError>(parsed).message, error->message);
        EXPECT_EQ(std::get<UsageError>(parsed).json, error->json);
    } else {
        ASSERT_TRUE(std::holds_alternative<Command>(parsed)) << std::get<UsageError>(parsed).message;
        EXPECT_EQ(std::get<Command>(parsed), std::get<Command>(GetParam().expected));
    }
}

const char kNames[] =
    "item, haptic, haptic-strength, finger-force, click-force, top-zone, button-force, top-zone-available, "
    "top-zone-manual";

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseCommandLineTest,
    testing::Values(
        ParseCase{"status", Cmd(Verb::Status)}, ParseCase{"--json status", Cmd(Verb::Status, true)},
        ParseCase{"status --json", Cmd(Verb::Status, true)}, ParseCase{"support", Cmd(Verb::Support)},
        ParseCase{"palm get", Cmd(Verb::PalmGet)}, ParseCase{"forcepad --json get", Cmd(Verb::ForcepadGet, true)},
        ParseCase{"palm set 4 1 2 3 4", PalmSet({4, 1, 2, 3, 4})},
        ParseCase{"palm set 0 0 0 0 0", PalmSet({0, 0, 0, 0, 0})},
        // Negative numbers are values, not options; hexadecimal and the level words are accepted.
        ParseCase{"palm set dynamic -1 0x10 0 2147483647", PalmSet({5, -1, 16, 0, INT_MAX})},
        ParseCase{"palm set minimal -2147483648 0 0 0", PalmSet({0, INT_MIN, 0, 0, 0})},
        ParseCase{"forcepad set haptic=1 top-zone-manual=-3", ForcepadSet({{1, 1}, {8, -3}})},
        ParseCase{"forcepad set item=0x7", ForcepadSet({{0, 7}})},
        ParseCase{"data 99", Data(99)}, ParseCase{"data 0x63", Data(99)}, ParseCase{"data -1", Data(-1)},
        ParseCase{"meter", Meter({0, 0, 1000})},
        ParseCase{"meter -1 9223372036854775807 0", Meter({-1, INT64_MAX, 0})},
        // Help wins over anything else on the line, even a mistake.
        ParseCase{"--help", Cmd(Verb::Help)}, ParseCase{"palm -h", Cmd(Verb::Help)},
        ParseCase{"frobnicate --help --json", Cmd(Verb::Help, true)}));

INSTANTIATE_TEST_SUITE_P(
    Refused, ParseCommandLineTest,
    testing::Values(
        ParseCase{"", UsageError{"no command given"}}, ParseCase{"--json", UsageError{"no command given", true}},
        ParseCase{"frobnicate", UsageError{"unknown command 'frobnicate'"}},
        ParseCase{"--verbose status", UsageError{"unknown option '--verbose'"}},
        ParseCase{"status -x --json", UsageError{"unknown option '-x'", true}},
        ParseCase{"status now", UsageError{"'status' takes no arguments, got 'now'"}},
        ParseCase{"palm", UsageError{"'palm' needs 'get' or 'set'"}},
        ParseCase{"palm get 1", UsageError{"'palm get' takes no arguments, got '1'"}},
        ParseCase{"palm set 2 0 0 0", UsageError{"'palm set' needs LEVEL UP DOWN LEFT RIGHT (5 values), got 4"}},
        ParseCase{"palm set 6 0 0 0 0",
                  UsageError{"palm level '6' is neither 0 to 5 nor one of minimal, low, medium, high, custom, dynamic"}},
        ParseCase{"palm set -1 0 0 0 0",
                  UsageError{"palm level '-1' is neither 0 to 5 nor one of minimal, low, medium, high, custom, dynamic"}},
        ParseCase{"palm set 2 0 0 0 x", UsageError{"palm range right 'x' is not a 32-bit integer"}},
        ParseCase{"palm set 2 2147483648 0 0 0", UsageError{"palm range up '2147483648' is not a 32-bit integer"}},
        ParseCase{"palm set 2 0 +1 0 0", UsageError{"palm range down '+1' is not a 32-bit integer"}},
        ParseCase{"palm set 2 0 0 -0x1 0", UsageError{"palm range left '-0x1' is not a 32-bit integer"}},
        ParseCase{"forcepad", UsageError{"'forcepad' needs 'get' or 'set'"}},
        ParseCase{"forcepad set", UsageError{std::string("'forcepad set' needs at least one NAME=VALUE; the names are ") + kNames}},
        ParseCase{"forcepad set haptic", UsageError{"'haptic' is not NAME=VALUE"}},
        ParseCase{"forcepad set pressure=1", UsageError{std::string("unknown forcepad setting 'pressure'; the names are ") + kNames}},
        ParseCase{"forcepad set haptic=1 haptic=2", UsageError{"forcepad setting 'haptic' is given twice"}},
        ParseCase{"forcepad set haptic=", UsageError{"forcepad setting 'haptic' needs a 32-bit integer, got ''"}},
        ParseCase{"forcepad set haptic=1x", UsageError{"forcepad setting 'haptic' needs a 32-bit integer, got '1x'"}},
        ParseCase{"data", UsageError{"'data' needs one FUNCTION number"}},
        ParseCase{"data 1 2", UsageError{"'data' needs one FUNCTION number"}},
        ParseCase{"data 0x", UsageError{"data function '0x' is not a 32-bit integer"}},
        ParseCase{"data 0x-1", UsageError{"data function '0x-1' is not a 32-bit integer"}},
        ParseCase{"meter 1 2", UsageError{"'meter' takes no values or all three of FIRST SECOND PERIOD"}},
        ParseCase{"meter 1 2 9223372036854775808", UsageError{"meter value '9223372036854775808' is not a 64-bit integer"}}));

}  // namespace
}  // namespace tavoctl
