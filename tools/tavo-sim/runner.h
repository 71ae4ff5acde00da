// Runs a scenario: the shipped service on the simulated laptop, every step delivered as the
// real occasion delivers it (the service manager's controls, the session and device
// notifications, the settings application's RPC procedures, another program's registry
// write or named event, the device leaving), with the pool's threads stepped one at a time
// and time simulated, so the same scenario gives the same output byte for byte.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "scenario.h"

namespace tavo::scenarios {

enum class Output {
    Text,     // per step: the trace, the pad's table (changed values marked), the settings in force
    Json,     // one JSON object per step, then one for the end
    Reports,  // the reports exchanged with the pad, in order, a comment line per step
    None,     // nothing: what check needs
};

struct RunOptions {
    Output output = Output::Text;
    bool trace = true;  // the service's trace in the text output
    // Called after each step with its number and the count (for progress on a long run).
    std::function<void(std::size_t done, std::size_t steps)> progress;
};

struct RunResult {
    std::string out;
    // One message per expectation that did not hold, or handle left open after a stop:
    // "step 3 (logon alice, line 12): pad 0x03AB: expected 0x3030, got 0x4040".
    std::vector<std::string> failures;
    std::size_t expectations = 0;  // checked
    bool stopped = false;          // the service stopped through its own stop
    int openHandles = 0;           // after the stop
};

RunResult RunScenario(const Scenario& scenario, const RunOptions& options);

// What tavo-sim runs without a scenario file: start, logon, the settings application's
// calls, the toggle report, resume, device arrival, logoff and stop, alice having stored
// her own choice in the application (when it is installed).
Scenario BuiltInScenario(const laptops::LaptopSheet& laptop, std::optional<int> windows, bool userAtStart,
                         bool companion);

}  // namespace tavo::scenarios
