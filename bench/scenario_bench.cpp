// A scenario of 1,000 steps through tavo-sim's runner: the time to read the file and the
// time to run it (wall and CPU, median of the runs), checked only, and with the JSON output.
// Prints figures; it is no test.
//
//   scenario_bench [RUNS]          5 unless given
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runner.h"
#include "scenario.h"

namespace {

using namespace tavo::scenarios;

// A working day over and over: the occasions that reach the pad, the settings application's
// calls, and the ones that only log.
std::string ThousandSteps() {
    const char* cycle[] = {
        "logon alice",
        "forcepad set haptic-strength=25",
        "palm set 2 11 22 33 44",
        "toggle",
        "lock",
        "unlock",
        "resume",
        "status",
        "device arrival",
        "forcepad set haptic-strength=100",
        "event pst-off",
        "event pst-on",
        "switch bob",
        "switch alice",
        "data 99",
        "logoff",
    };
    std::string steps = "    {\"do\": \"start\"}";
    int n = 1;
    for (std::size_t i = 0; n < 999; ++i, ++n) {
        const char* step = cycle[i % std::size(cycle)];
        steps += ",\n    {\"do\": \"" + std::string(step) + "\"";
        if (std::string(step) == "logon alice") steps += ", \"expect\": {\"users\": {\"alice\": {\"PalmCheck_Level\": 2}}}";
        steps += "}";
    }
    steps += ",\n    {\"do\": \"stop\"}";
    return "{\n  \"description\": \"1,000 steps of a working day\",\n  \"laptop\": \"forcepad\",\n"
           "  \"users\": {\"alice\": {\"app\": true, \"stored\": {\"PalmCheck_Level\": 2, \"PalmCheck_Range_Up\": 11,"
           " \"PalmCheck_Range_Down\": 22, \"PalmCheck_Range_Left\": 33, \"PalmCheck_Range_Right\": 44}},"
           " \"bob\": {}},\n  \"steps\": [\n" +
           steps + "\n  ]\n}\n";
}

double Cpu() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double Wall() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto path = std::filesystem::temp_directory_path() / "tavo-scenario-bench.json";
    std::ofstream(path) << ThousandSteps();

    std::vector<double> readWall;
    Scenario s;
    for (int i = 0; i < runs; ++i) {
        const double w = Wall();
        s = LoadScenarioFile(path.string());
        readWall.push_back(Wall() - w);
    }
    std::filesystem::remove(path);

    for (Output output : {Output::None, Output::Json}) {
        std::vector<double> wall, cpu;
        std::size_t bytes = 0, failures = 0, expectations = 0;
        for (int i = 0; i < runs; ++i) {
            RunOptions options;
            options.output = output;
            const double w = Wall(), c = Cpu();
            const RunResult r = RunScenario(s, options);
            wall.push_back(Wall() - w);
            cpu.push_back(Cpu() - c);
            bytes = r.out.size();
            failures = r.failures.size();
            expectations = r.expectations;
        }
        std::printf("scenario of %zu steps, %s: run %.3f s wall, %.3f s CPU (median of %d); %zu expectations, %zu "
                    "failed; %zu bytes of output\n",
                    s.steps.size(), output == Output::None ? "checked only" : "--json", Median(wall), Median(cpu),
                    runs, expectations, failures, bytes);
    }
    std::printf("reading the file: %.1f ms (median of %d)\n", 1000 * Median(readWall), runs);
    return 0;
}
