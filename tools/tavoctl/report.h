// What tavoctl prints: readable text for people, or one JSON object per run for scripts,
// and the exit code that goes with it.
#pragma once

#include <string>

#include "command_line.h"
#include "run_command.h"

namespace tavoctl {

struct Rendered {
    std::string out;  // standard output
    std::string err;  // standard error (readable mode only; JSON goes to out)
    int exitCode = kExitOk;
    friend bool operator==(const Rendered&, const Rendered&) = default;
};

Rendered Render(const Outcome& outcome, bool json);
Rendered RenderUsageError(const UsageError& error);
Rendered RenderHelp(bool json);
// When the service accepted the connection but a call did not come back in time.
Rendered RenderTimeout(Verb verb, bool json, int seconds);

}  // namespace tavoctl
