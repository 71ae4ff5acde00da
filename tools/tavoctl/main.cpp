// tavoctl: the support staff's command-line client of the touchpad service's RPC interface.
#include <windows.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "command_line.h"
#include "report.h"
#include "run_command.h"
#include "win32_touchpad_service.h"

namespace {

using namespace tavoctl;

// A call the service accepted but never answers would otherwise hang tavoctl with it.
constexpr int kAnswerSeconds = 15;

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

void Write(DWORD which, const std::string& text) {
    if (text.empty()) return;
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Emit(const Rendered& r) {
    Write(STD_OUTPUT_HANDLE, r.out);
    Write(STD_ERROR_HANDLE, r.err);
}

// Ends the process with the time-out report unless disarmed first.
class Watchdog {
public:
    Watchdog(Rendered report, int seconds)
        : report_(std::move(report)), ms_(static_cast<DWORD>(seconds) * 1000),
          done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(done_ ? CreateThread(nullptr, 0, Run, this, 0, nullptr) : nullptr) {}
    ~Watchdog() {
        if (thread_) {
            SetEvent(done_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        if (done_) CloseHandle(done_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Run(void* self) {
        auto* dog = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(dog->done_, dog->ms_) == WAIT_TIMEOUT) {
            Emit(dog->report_);
            // The main thread is stuck inside the RPC run time: no orderly exit is possible.
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(dog->report_.exitCode));
        }
        return 0;
    }
    Rendered report_;
    DWORD ms_;
    HANDLE done_;
    HANDLE thread_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));

    const auto parsed = ParseCommandLine(args);
    Rendered rendered;
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        rendered = RenderUsageError(*error);
    } else {
        const Command& cmd = std::get<Command>(parsed);
        if (cmd.verb == Verb::Help) {
            rendered = RenderHelp(cmd.json);
        } else {
            Outcome outcome;
            {
                Watchdog watchdog(RenderTimeout(cmd.verb, cmd.json, kAnswerSeconds), kAnswerSeconds);
                Win32TouchpadService service;
                outcome = RunCommand(cmd, service);
            }
            rendered = Render(outcome, cmd.json);
        }
    }
    Emit(rendered);
    return rendered.exitCode;
}
