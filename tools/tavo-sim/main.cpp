// tavo-sim: runs the whole service on a simulated laptop and shows what it does to the pad.
//
// The laptop is a file (laptops/NAME.json); the service is the same code that ships. A
// scenario file says what happens (tools/tavo-sim/scenario.h); without one the built-in day
// runs. After each step it prints the trace the step wrote, the pad's function values and
// the settings in force; `check` runs scenarios for their expectations only.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "laptops/laptop_file.h"
#include "runner.h"
#include "scenario.h"

namespace {

using namespace tavo::laptops;
using namespace tavo::scenarios;

struct Options {
    bool check = false;
    std::vector<std::string> files;
    std::optional<std::string> laptop;  // a name in laptops/ or a file
    std::optional<int> windows;
    bool userAtStart = false;
    bool companion = true;
    bool trace = true;
    Output output = Output::Text;
};

void PrintHelp() {
    std::printf(
        "Usage: tavo-sim [OPTIONS] [SCENARIO]         run a scenario file (or the built-in day) and show it\n"
        "       tavo-sim check [OPTIONS] SCENARIO...  run scenario files for their expectations\n"
        "\n"
        "Runs the touchpad service on a simulated laptop, step by step, through the same occasions\n"
        "as on Windows (the service manager's controls, session and device notifications, the\n"
        "settings application's RPC calls, other programs' registry writes and named events).\n"
        "After each step: the service's trace, the pad's function values (changed ones marked *)\n"
        "and the settings in force. Threads run stepped and time is simulated: the same file gives\n"
        "the same output byte for byte. Without a scenario the built-in day runs: start, logon,\n"
        "the settings application's calls, the toggle report, resume, device arrival, logoff, stop.\n"
        "\n"
        "Options:\n"
        "  --laptop NAME|FILE  the simulated laptop instead of the scenario's (built-in: forcepad):\n"
        "                    a laptop file, or the name of one in %s\n"
        "  --windows 10|11   the Windows the laptop runs (default: the scenario's, or the laptop's)\n"
        "  --json            one JSON object per step (trace lines, reports in order, the pads'\n"
        "                    tables, registry changes, the RPC answer, failed expectations)\n"
        "  --reports         only the reports exchanged with the pad, in order: '> 0D AB 03 40 40'\n"
        "                    sent, '< ...' fetched, ' refused' when the pad refused it; '# N. STEP'\n"
        "  --no-trace        leave the service's trace out of the readable run\n"
        "  --user-at-start   built-in day: alice is already logged on when the service starts\n"
        "  --no-companion    built-in day: no settings application (the driver's defaults decide;\n"
        "                    with it, alice's own choice made earlier in it is what the pad gets)\n"
        "  --help            this text\n"
        "\n"
        "A scenario file (JSON; comments are not allowed):\n"
        "  {\n"
        "    \"description\": \"alice turns the haptic feedback up\",\n"
        "    \"laptop\": \"forcepad\",\n"
        "    \"users\": {\"alice\": {\"app\": true, \"stored\": {\"HapticFeedbackCheckSlider\": 75}}},\n"
        "    \"steps\": [\n"
        "      {\"do\": \"start\"},\n"
        "      {\"do\": \"logon alice\", \"expect\": {\"pad\": {\"0x03A9\": \"0x0050\"}}},\n"
        "      {\"do\": \"forcepad set haptic-strength=100\", \"expect\": {\"answer\": {\"stored\": true}}},\n"
        "      {\"do\": \"stop\", \"expect\": {\"trace\": [\"Service in OnStop++\"]}}\n"
        "    ]\n"
        "  }\n"
        "Top-level fields: description, laptop (a name, or a file beside the scenario), steps;\n"
        "optional windows (\"10\"/\"11\"), softwareComponent (true), users (NAME: {app, stored}),\n"
        "inForce (values in force before the start).\n"
        "\n"
        "%s"
        "\n"
        "Exit codes: 0 every expectation held (and nothing was left open after a stop);\n"
        "1 an expectation did not hold (check names the step, the expectation and what came\n"
        "instead); 2 bad arguments or a bad file (its file, line and what was expected; nothing runs).\n"
        "check prints one line per scenario and \"N passed, N failed\".\n"
        "\n"
        "Laptops:\n",
        LaptopsDir().c_str(), StepHelp());
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
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "check") == 0) {
        options->check = true;
        first = 2;
    }
    for (int i = first; i < argc; ++i) {
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
        } else if (arg == "--json") {
            options->output = Output::Json;
        } else if (arg == "--reports") {
            options->output = Output::Reports;
        } else if (!arg.starts_with("-")) {
            options->files.emplace_back(arg);
        } else {
            std::fprintf(stderr, "tavo-sim: unknown argument \"%s\"; see --help\n", argv[i]);
            return 2;
        }
    }
    if (options->check && options->files.empty()) {
        std::fprintf(stderr, "tavo-sim: check needs at least one scenario file; see --help\n");
        return 2;
    }
    if (!options->check && options->files.size() > 1) {
        std::fprintf(stderr, "tavo-sim: one scenario at a time (check takes several); see --help\n");
        return 2;
    }
    if (!options->files.empty() && (options->userAtStart || !options->companion)) {
        std::fprintf(stderr, "tavo-sim: --user-at-start and --no-companion are for the built-in day; a scenario "
                             "says it in its file\n");
        return 2;
    }
    return 0;
}

// Every file is read before anything runs: one bad file and nothing runs.
bool Load(const Options& options, std::vector<Scenario>* scenarios) {
    bool ok = true;
    std::optional<LaptopSheet> laptop;
    if (options.laptop) {
        try {
            laptop = LoadLaptopFile(FindLaptopFile(*options.laptop));
        } catch (const LaptopFileError& e) {
            std::fprintf(stderr, "tavo-sim: %s\n", e.what());
            return false;
        }
    }
    if (options.files.empty()) {
        try {
            const LaptopSheet sheet = laptop ? *laptop : LoadLaptopFile(FindLaptopFile("forcepad"));
            scenarios->push_back(BuiltInScenario(sheet, options.windows, options.userAtStart, options.companion));
        } catch (const LaptopFileError& e) {
            std::fprintf(stderr, "tavo-sim: %s\n", e.what());
            return false;
        }
        return true;
    }
    for (const auto& file : options.files) {
        try {
            Scenario s = LoadScenarioFile(file);
            if (laptop) s.laptop = *laptop;
            if (options.windows) s.windows = options.windows;
            scenarios->push_back(std::move(s));
        } catch (const ScenarioFileError& e) {
            std::fprintf(stderr, "tavo-sim: %s\n", e.what());
            ok = false;
        }
    }
    return ok;
}

RunOptions MakeRunOptions(const Options& options, const std::string& file) {
    RunOptions run;
    run.output = options.check ? Output::None : options.output;
    run.trace = options.trace;
    run.progress = [file](std::size_t done, std::size_t steps) {
        if (steps >= 200 && (done % 100 == 0 || done == steps))
            std::fprintf(stderr, "tavo-sim: %s: step %zu of %zu\n", file.c_str(), done, steps);
    };
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (Parse(argc, argv, &options)) {
        case 1: return 0;
        case 2: return 2;
        default: break;
    }
    std::vector<Scenario> scenarios;
    if (!Load(options, &scenarios)) return 2;

    if (!options.check) {
        const RunResult result = RunScenario(scenarios.front(), MakeRunOptions(options, scenarios.front().file));
        std::fwrite(result.out.data(), 1, result.out.size(), stdout);
        const bool builtIn = options.files.empty();
        if (builtIn && !result.stopped) return 1;
        for (const auto& f : result.failures) std::fprintf(stderr, "tavo-sim: %s\n", f.c_str());
        return result.failures.empty() ? 0 : 1;
    }

    int passed = 0, failed = 0;
    for (const Scenario& s : scenarios) {
        const RunResult result = RunScenario(s, MakeRunOptions(options, s.file));
        if (result.failures.empty()) {
            ++passed;
            std::printf("PASS %s: %zu steps, %zu expectations held\n", s.file.c_str(), s.steps.size(), result.expectations);
        } else {
            ++failed;
            // One line a scenario; the run without check shows every failure.
            std::string more;
            if (result.failures.size() > 1)
                more = " (and " + std::to_string(result.failures.size() - 1) + " more: run the file without check)";
            std::printf("FAIL %s: %s%s\n", s.file.c_str(), result.failures.front().c_str(), more.c_str());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
