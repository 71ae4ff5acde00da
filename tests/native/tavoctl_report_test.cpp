// What tavoctl prints for each kind of result, readable and as JSON, with its exit code.
#include <gtest/gtest.h>

#include "report.h"

namespace tavoctl {
namespace {

Outcome Of(Verb verb) {
    Outcome o;
    o.verb = verb;
    return o;
}
Outcome Status(std::uint8_t status) {
    Outcome o = Of(Verb::Status);
    o.status = status;
    return o;
}
Outcome PalmGet(PalmValues v) {
    Outcome o = Of(Verb::PalmGet);
    o.palm = v;
    return o;
}
Outcome PalmSet(PalmValues sent, PalmValues back, std::optional<std::int32_t> component) {
    Outcome o = Of(Verb::PalmSet);
    o.palmSent = sent;
    o.palm = back;
    o.stored = sent == back;
    o.componentPresent = component;
    return o;
}
Outcome ForcepadSet(ForcepadValues sent, ForcepadValues back) {
    Outcome o = Of(Verb::ForcepadSet);
    o.forcepadSent = sent;
    o.forcepad = back;
    o.stored = sent == back;
    if (!o.stored) o.componentPresent = 0;
    return o;
}
Outcome Data(std::int32_t function, std::int32_t value) {
    Outcome o = Of(Verb::Data);
    o.dataFunction = function;
    o.dataValue = value;
    return o;
}
Outcome Failed(Verb verb, CallFailure f) {
    Outcome o = Of(verb);
    o.failure = f;
    return o;
}

struct RenderCase {
    const char* name;
    Outcome outcome;
    bool json;
    Rendered expected;
};

void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.name; }

class RenderTest : public testing::TestWithParam<RenderCase> {};

TEST_P(RenderTest, PrintsExactly) {
    const Rendered r = Render(GetParam().outcome, GetParam().json);
    EXPECT_EQ(r.out, GetParam().expected.out);
    EXPECT_EQ(r.err, GetParam().expected.err);
    EXPECT_EQ(r.exitCode, GetParam().expected.exitCode);
}

const char kWhy[] =
    "The service drops a change without a word when the settings application or its software component is not "
    "installed; ";
const std::string kNoComponent = std::string(kWhy) + "on this machine the software component is not installed (data 1 = 0).";

INSTANTIATE_TEST_SUITE_P(
    Results, RenderTest,
    testing::Values(
        RenderCase{"StatusAllBits", Status(0x07), false,
                   {"Touchpad status: 0x07\n"
                    "  BIOS enables the touchpad:       yes\n"
                    "  Precision Touchpad switch is on: yes\n"
                    "  Enabled in Device Manager:       yes\n",
                    "", 0}},
        RenderCase{"StatusUnknownBit", Status(0x0A), false,
                   {"Touchpad status: 0x0A\n"
                    "  BIOS enables the touchpad:       no\n"
                    "  Precision Touchpad switch is on: yes\n"
                    "  Enabled in Device Manager:       no\n"
                    "  Other bits (no known meaning):   0x08\n",
                    "", 0}},
        RenderCase{"StatusJson", Status(0x05), true,
                   {R"({"command":"status","ok":true,"status":5,"bios_enabled":true,"user_switch_on":false,"device_enabled":true})"
                    "\n",
                    "", 0}},
        RenderCase{"PalmGetUnknownLevel", PalmGet({9, 1, -2, 3, 4}), false,
                   {"Palm check level:  9 (unknown level)\nPalm check ranges: up 1, down -2, left 3, right 4\n", "", 0}},
        RenderCase{"PalmGetJson", PalmGet({5, 1, 2, 3, 4}), true,
                   {R"({"command":"palm get","ok":true,"palm":{"level":5,"level_name":"dynamic","up":1,"down":2,"left":3,"right":4}})"
                    "\n",
                    "", 0}},
        RenderCase{"PalmStored", PalmSet({1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, std::nullopt), false,
                   {"Palm settings stored: level 1 (low), up 0, down 0, left 0, right 0\n", "", 0}},
        RenderCase{"PalmDroppedNoComponent", PalmSet({4, 1, 2, 3, 4}, {2, 0, 0, 0, 0}, 0), false,
                   {"The service did not store the palm settings.\n"
                    "  Sent:      level 4 (custom), up 1, down 2, left 3, right 4\n"
                    "  Read back: level 2 (medium), up 0, down 0, left 0, right 0\n" +
                        kNoComponent + "\n",
                    "", 3}},
        RenderCase{"PalmDroppedWithComponent", PalmSet({3, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, 1), false,
                   {"The service did not store the palm settings.\n"
                    "  Sent:      level 3 (high), up 0, down 0, left 0, right 0\n"
                    "  Read back: level 0 (minimal), up 0, down 0, left 0, right 0\n" +
                        std::string(kWhy) +
                        "on this machine the software component is installed (data 1 = 1), so the settings "
                        "application is the one missing.\n",
                    "", 3}},
        RenderCase{"PalmDroppedJson", PalmSet({0, 0, 0, 0, 1}, {0, 0, 0, 0, 0}, 0), true,
                   {R"({"command":"palm set","ok":false,"stored":false,)"
                    R"("sent":{"level":0,"level_name":"minimal","up":0,"down":0,"left":0,"right":1},)"
                    R"("read_back":{"level":0,"level_name":"minimal","up":0,"down":0,"left":0,"right":0},)"
                    R"("component_present":false,"reason":")" +
                        kNoComponent + "\"}\n",
                    "", 3}},
        RenderCase{"ForcepadDroppedNamesOnlyTheDifferences",
                   ForcepadSet({7, 0, 2, 3, 9, 5, 6, 7, 8}, {7, 1, 2, 3, 4, 5, 6, 7, 8}), false,
                   {"The service did not store the forcepad settings.\n"
                    "  haptic              sent 0, read back 1\n"
                    "  click-force         sent 9, read back 4\n" +
                        kNoComponent + "\n",
                    "", 3}},
        RenderCase{"ForcepadGetJson",
                   [] {
                       Outcome o = Of(Verb::ForcepadGet);
                       o.forcepad = {1, 2, 3, 4, 5, 6, 7, 8, 9};
                       return o;
                   }(),
                   true,
                   {R"({"command":"forcepad get","ok":true,"forcepad":{"item":1,"haptic":2,"haptic-strength":3,)"
                    R"("finger-force":4,"click-force":5,"top-zone":6,"button-force":7,"top-zone-available":8,)"
                    R"("top-zone-manual":9}})"
                    "\n",
                    "", 0}},
        RenderCase{"DataCheckConstant", Data(99, 0x12345678), false,
                   {"Touchpad data 99 (check constant): 0x12345678\n", "", 0}},
        RenderCase{"DataCheckConstantWrong", Data(99, 0), false,
                   {"Touchpad data 99 (check constant): 0x00000000 (expected 0x12345678)\n", "", 0}},
        RenderCase{"DataWidth", Data(2, 10507), false, {"Touchpad data 2 (physical width): 10507 (105.07 mm)\n", "", 0}},
        RenderCase{"DataHeightNegative", Data(3, -5), false,
                   {"Touchpad data 3 (physical height): -5 (-0.05 mm)\n", "", 0}},
        RenderCase{"DataDefaultLevel", Data(5, 3), false, {"Touchpad data 5 (default palm level): 3 (high)\n", "", 0}},
        RenderCase{"DataComponent", Data(1, 0), false, {"Touchpad data 1 (software component present): 0 (no)\n", "", 0}},
        RenderCase{"DataUnknownJson", Data(42, 0), true,
                   {R"({"command":"data","ok":true,"function":42,"meaning":null,"value":0})"
                    "\n",
                    "", 0}},
        RenderCase{"SupportTwoIsNotAllowed",
                   [] {
                       Outcome o = Of(Verb::Support);
                       o.support = 2;
                       return o;
                   }(),
                   false, {"Custom palm level allowed: no (2)\n", "", 0}},
        RenderCase{"Meter",
                   [] {
                       Outcome o = Of(Verb::Meter);
                       o.meter = {1, -2, 3};
                       return o;
                   }(),
                   false, {"Metering answered: StartMetering(first 1, second -2), SetSamplePeriod(3), StopMetering.\n", "", 0}},
        RenderCase{"Unreachable", Failed(Verb::Status, {"OpenRpcEndpoint", 1722, true}), false,
                   {"", "The touchpad service is not running or not reachable (RPC error 1722).\n", 1}},
        RenderCase{"UnreachableJson", Failed(Verb::PalmSet, {"OpenRpcEndpoint", 1722, true}), true,
                   {R"({"command":"palm set","ok":false,"error":"unreachable","call":"OpenRpcEndpoint","rpc_status":1722,)"
                    R"("message":"The touchpad service is not running or not reachable (RPC error 1722)."})"
                    "\n",
                    "", 1}},
        // A failure after a dropped set is still a failure: nothing else is printed.
        RenderCase{"CallFailedAfterDrop",
                   [] {
                       Outcome o = PalmSet({4, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, std::nullopt);
                       o.failure = CallFailure{"ProcessGetTouchpadData", 1726, false};
                       return o;
                   }(),
                   false, {"", "The touchpad service did not complete ProcessGetTouchpadData (RPC error 1726).\n", 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RenderOther, UsageErrorsTimeOutsAndHelp) {
    struct Row {
        const char* name;
        Rendered actual;
        Rendered expected;
    } rows[] = {
        {"usage", RenderUsageError({"no command given", false}),
         {"", "tavoctl: no command given\nRun 'tavoctl --help' for the commands.\n", 2}},
        {"usage json escapes", RenderUsageError({"unknown command 'a\"b\\c\td'", true}),
         {R"({"ok":false,"error":"usage","message":"unknown command 'a\"b\\c\u0009d'"})"
          "\n",
          "", 2}},
        {"time-out", RenderTimeout(Verb::Status, false, 15),
         {"", "The touchpad service did not answer within 15 seconds.\n", 1}},
        {"time-out json", RenderTimeout(Verb::Meter, true, 15),
         {R"({"command":"meter","ok":false,"error":"timeout","message":"The touchpad service did not answer within 15 seconds."})"
          "\n",
          "", 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(RenderOther, HelpNamesEveryCommandAndForcepadSetting) {
    const Rendered help = RenderHelp(false);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"status", "palm get", "palm set LEVEL UP DOWN LEFT RIGHT", "forcepad get",
                             "forcepad set NAME=VALUE", "data FUNCTION", "support", "meter", "--json"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    for (const ForcepadField& f : kForcepadFields) EXPECT_NE(help.out.find(f.name), std::string::npos) << f.name;
    const Rendered json = RenderHelp(true);
    EXPECT_EQ(json.out.rfind(R"({"command":"help","ok":true,"usage":"Usage: tavoctl)", 0), 0u) << json.out;
    EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << "one line: the usage's line ends are escaped";
}

}  // namespace
}  // namespace tavoctl
