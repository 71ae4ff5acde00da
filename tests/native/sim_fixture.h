// A fresh simulated machine per test, installed as the platform, with the process-wide
// state of the service as a new process has it, and one way to read the trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "log/trace_log.h"
#include "platform/sim/machine.h"

namespace tavo::test {

// Stands in for the service object as the log's sink, for units below the service host.
class RecordingSink : public TraceSink {
public:
    void WriteTraceString(const wchar_t* text, win::BYTE) override {
        std::lock_guard<std::mutex> lock(lock_);
        lines_.emplace_back(text);
    }
    std::vector<std::wstring> Lines() const {
        std::lock_guard<std::mutex> lock(lock_);
        return lines_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::wstring> lines_;
};

class SimTest : public ::testing::Test {
protected:
    SimTest() {
        ResetProcessState();
        machine.Install();
    }
    ~SimTest() override { ResetProcessState(); }

    // Trace without a service object: the test's own sink receives every message.
    void RecordTrace() {
        traceTarget = &recorder_;
        recording_ = true;
    }

    // Every message in order: from the test's sink when it records, else the texts the
    // service object wrote through its provider.
    std::vector<std::wstring> Written() const {
        if (recording_) return recorder_.Lines();
        std::vector<std::wstring> out;
        for (const auto& r : machine.etw.Written()) out.push_back(r.text);
        return out;
    }
    bool Logged(const std::wstring& text) const { return CountIn(Written(), text) > 0; }
    int CountLogged(const std::wstring& text) const { return CountIn(Written(), text); }

    // The same, from a mark on (the start of the test, or the last Mark()).
    void Mark() { mark_ = Written().size(); }
    std::vector<std::wstring> Lines() const {
        auto all = Written();
        return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark_, all.size())),
                                         all.end());
    }
    bool Has(const std::wstring& text) const { return CountIn(Lines(), text) > 0; }
    int Count(const std::wstring& text) const { return CountIn(Lines(), text); }

    sim::Machine machine;

private:
    static int CountIn(const std::vector<std::wstring>& lines, const std::wstring& text) {
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }
    RecordingSink recorder_;
    bool recording_ = false;
    std::size_t mark_ = 0;
};

}  // namespace tavo::test
