// A trace sink for the benchmarks: counts the service's trace messages and drops them, and
// notes how often the forcepad decision announced UI mode.
#pragma once

#include <atomic>
#include <cwchar>

#include "log/trace_log.h"

namespace tavo {

class CountingSink : public TraceSink {
public:
    void WriteTraceString(const wchar_t* text, win::BYTE) override {
        messages.fetch_add(1, std::memory_order_relaxed);
        if (std::wcsncmp(text, L"<ForcePadControl> Set UI Mode Command", 37) == 0)
            uiMode.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long> messages{0};
    std::atomic<long> uiMode{0};
};

}  // namespace tavo
