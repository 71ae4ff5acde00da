// tavo-sim's scenario files: every malformed file is refused as a whole with its file, line
// and what was expected; a run is the same byte for byte however often it is made.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runner.h"
#include "scenario.h"

namespace tavo::scenarios {
namespace {

namespace fs = std::filesystem;

// Each line numbered as a message counts it.
const std::string kGood =
    "{\n"                                                                                              // 1
    "  \"description\": \"a test day\",\n"                                                             // 2
    "  \"laptop\": \"forcepad\",\n"                                                                    // 3
    "  \"users\": {\"alice\": {\"app\": true, \"stored\": {\"PalmCheck_Level\": 3}}},\n"               // 4
    "  \"steps\": [\n"                                                                                 // 5
    "    {\"do\": \"start\"},\n"                                                                       // 6
    "    {\"do\": \"logon alice\", \"expect\": {\"pad\": {\"0x03AB\": \"0x4040\"}}},\n"                // 7
    "    {\"do\": \"forcepad set haptic-strength=100\", \"expect\": {\"answer\": {\"stored\": true}}},\n"  // 8
    "    {\"do\": \"stop\"}\n"                                                                         // 9
    "  ]\n"                                                                                            // 10
    "}\n";                                                                                             // 11

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("the case's text is not in the file: " + from);
    return text.replace(at, from.size(), to);
}

class ScenarioFileDir : public ::testing::Test {
protected:
    ScenarioFileDir() {
        dir_ = fs::temp_directory_path() /
               ("tavo-scenarios-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    ~ScenarioFileDir() override { fs::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return (dir_ / name).string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(ScenarioFileDir, AGoodFileReadsAsWritten) {
    const Scenario s = LoadScenarioFile(Write("s.json", kGood));
    EXPECT_EQ(s.laptop.name, "forcepad");
    ASSERT_EQ(s.users.size(), 1u);
    EXPECT_TRUE(s.users[0].app);
    ASSERT_EQ(s.steps.size(), 4u);
    EXPECT_EQ(s.steps[1].kind, Step::Kind::Logon);
    EXPECT_EQ(s.steps[1].name, "alice");
    EXPECT_EQ(s.steps[1].line, 7);
    ASSERT_EQ(s.steps[1].expect.size(), 1u);
    EXPECT_EQ(s.steps[1].expect[0].function, 0x03AB);
    EXPECT_EQ(s.steps[1].expect[0].padValue, 0x4040);
    EXPECT_EQ(s.steps[2].kind, Step::Kind::Rpc);
    EXPECT_EQ(s.steps[2].rpc.forcepadChanges, (std::vector<std::pair<std::size_t, std::int32_t>>{{2, 100}}));
}

TEST_F(ScenarioFileDir, AMalformedFileIsRefusedWithItsFileLineAndWhatWasExpected) {
    const std::string& f = kGood;
    struct Case {
        const char* what;
        std::string json;     // the scenario (empty: none is written)
        std::string message;  // what(), with DIR/ standing for the test's folder
    } cases[] = {
        {"no file", "", "DIR/s.json: expected a readable scenario file, got No such file or directory"},
        {"bad JSON", Replaced(f, "\"a test day\",", "\"a test day\""),
         "DIR/s.json:3: expected JSON, got syntax error while parsing object - unexpected string literal; expected '}'"},
        {"a field twice", Replaced(f, "{\"do\": \"stop\"}", "{\"do\": \"stop\", \"do\": \"start\"}"),
         "DIR/s.json:9: /steps/3/do: expected each field once, got \"do\" a second time"},
        {"an unknown field", Replaced(f, "\"steps\"", "\"step\""),
         "DIR/s.json:5: /step: expected one of the fields description, laptop, windows, softwareComponent, users, "
         "inForce, steps, got an unknown field \"step\""},
        {"no steps", f.substr(0, f.find(",\n  \"steps\"")) + "\n}\n",
         "DIR/s.json:1: /steps: expected an array of at least 1 element(s), got nothing (the field is missing)"},
        {"an empty list of steps", f.substr(0, f.find("  \"steps\"")) + "  \"steps\": []\n}\n",
         "DIR/s.json:5: /steps: expected an array of at least 1 element(s), got []"},
        {"an unknown step", Replaced(f, "\"do\": \"start\"", "\"do\": \"jump\""),
         "DIR/s.json:6: /steps/0/do: expected a step: start [USER], logon USER, logoff, switch USER, lock, unlock, "
         "resume, device arrival, unplug [PAD], plug [PAD], toggle, palm ..., forcepad ..., data N, status, support, "
         "meter, event NAME, app installed|removed [USER], refuse [FUNCTION ...], accept, stop, shutdown, got \"jump\""},
        {"a user not in /users", Replaced(f, "logon alice", "logon carol"),
         "DIR/s.json:7: /steps/1/do: expected a user of /users (alice), got \"logon carol\""},
        {"a step without its user", Replaced(f, "logon alice", "logon"),
         "DIR/s.json:7: /steps/1/do: expected logon USER, a user of /users (alice), got \"logon\""},
        {"a call tavoctl refuses", Replaced(f, "haptic-strength=100", "loudness=100"),
         "DIR/s.json:8: /steps/2/do: expected a call of the settings application, as tavoctl takes it, got "
         "\"forcepad set loudness=100\" (unknown forcepad setting 'loudness'; the names are item, haptic, "
         "haptic-strength, finger-force, click-force, top-zone, button-force, top-zone-available, top-zone-manual)"},
        {"a step word after a plain step", Replaced(f, "\"do\": \"stop\"", "\"do\": \"stop now\""),
         "DIR/s.json:9: /steps/3/do: expected \"stop\" alone, got \"stop now\""},
        {"a pad that is not one", Replaced(f, "\"pad\": {", "\"pads\": {\"keyboard\": {\"0x03AB\": 1}}, \"pad\": {"),
         "DIR/s.json:7: /steps/1/expect/pads/keyboard: expected a collection with a firmware (vendor), got "
         "\"keyboard\""},
        {"a function code that is not hex", Replaced(f, "\"0x03AB\": \"0x4040\"", "\"3AB\": \"0x4040\""),
         "DIR/s.json:7: /steps/1/expect/pad/3AB: expected a function code from 0x0 to 0xFFFF written as \"0x03AB\", "
         "got \"3AB\""},
        {"a function value over 0xFFFF", Replaced(f, "\"0x4040\"", "70000"),
         "DIR/s.json:7: /steps/1/expect/pad/0x03AB: expected a number from 0 to 0xFFFF (a JSON number or a string "
         "such as \"0x2C7E\"), got 70000"},
        {"an unknown registry value", Replaced(f, "\"PalmCheck_Level\": 3", "\"PalmCheckLevel\": 3"),
         "DIR/s.json:4: /users/alice/stored/PalmCheckLevel: expected a value of the settings key (PalmCheck_Level, "
         "PalmCheck_Range_Up, PalmCheck_Range_Down, PalmCheck_Range_Left, PalmCheck_Range_Right, CurrentControlItem, "
         "HapticEnabled, HapticFeedbackCheckSlider, FingerDetectionForceCheckOption, ClickForceCheckOption, "
         "UseTopZoneAsVadavAreduButtonsEnabled, VadavAreduButtonClickForceCheckOption, "
         "UseTopZoneAsVadavAreduButtonsNotGrayOut, UseTopZoneAsVadavAreduButtonsPreviousManualStatus, "
         "ForcepadCapability, Function_CustomPalmRejection, AABB, BIOSEnablePSTStatus, DisableEventLog, Version), got "
         "an unknown value \"PalmCheckLevel\""},
        {"a stored value that is not a number", Replaced(f, "\"PalmCheck_Level\": 3", "\"PalmCheck_Level\": true"),
         "DIR/s.json:4: /users/alice/stored/PalmCheck_Level: expected a number from -2147483648 to 0xFFFFFFFF, or a "
         "string, got true"},
        {"an answer of a step that calls nothing",
         Replaced(f, "{\"do\": \"stop\"}", "{\"do\": \"stop\", \"expect\": {\"answer\": {\"ok\": true}}}"),
         "DIR/s.json:9: /steps/3/expect/answer: expected an answer only on a call of the settings application, got "
         "\"stop\""},
        {"an unknown expectation", Replaced(f, "{\"pad\":", "{\"trac\": [], \"pad\":"),
         "DIR/s.json:7: /steps/1/expect/trac: expected one of the fields pad, pads, inForce, users, trace, noTrace, "
         "answer, got an unknown field \"trac\""},
        {"a trace that is not text", Replaced(f, "{\"pad\":", "{\"trace\": [1], \"pad\":"),
         "DIR/s.json:7: /steps/1/expect/trace/0: expected a string that is not empty, got 1"},
        {"an unknown Windows", Replaced(f, "\"laptop\": \"forcepad\",", "\"laptop\": \"forcepad\", \"windows\": 12,"),
         "DIR/s.json:3: /windows: expected \"10\" or \"11\", got 12"},
        {"a laptop file that is not there", Replaced(f, "\"forcepad\"", "\"./gone.json\""),
         "DIR/./gone.json: expected a readable laptop file, got No such file or directory (the laptop of DIR/s.json)"},
        {"a malformed laptop file", Replaced(f, "\"forcepad\"", "\"./bad-laptop.json\""),
         "DIR/./bad-laptop.json:1: /: expected an object, got [] (the laptop of DIR/s.json)"},
    };
    Write("bad-laptop.json", "[]");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(Path("s.json"));
        if (!c.json.empty()) Write("s.json", c.json);
        std::string expected = c.message;
        for (std::size_t at; (at = expected.find("DIR")) != std::string::npos;) expected.replace(at, 3, dir_.string());
        try {
            LoadScenarioFile(Path("s.json"));
            ADD_FAILURE() << "accepted";
        } catch (const ScenarioFileError& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
    }
}

// Runs share one process in tavo-sim check: nothing of one run may leak into the next.
TEST(ScenarioRun, TheSameFileGivesTheSameOutputEveryTime) {
    const Scenario s = LoadScenarioFile(std::string(TAVO_EXAMPLES_DIR) + "/forcepad-working-day.json");
    for (Output output : {Output::Text, Output::Json, Output::Reports}) {
        RunOptions options;
        options.output = output;
        const RunResult first = RunScenario(s, options);
        const RunResult second = RunScenario(s, options);
        EXPECT_GT(first.out.size(), 1000u);
        EXPECT_EQ(first.out, second.out);
        EXPECT_TRUE(first.failures.empty()) << first.failures.front();
        EXPECT_TRUE(first.stopped);
        EXPECT_EQ(first.openHandles, 0);
    }
}

}  // namespace
}  // namespace tavo::scenarios
