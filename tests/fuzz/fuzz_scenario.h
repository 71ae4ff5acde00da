// What every fuzz target of the service starts from: a process as new (its process-wide
// state rebuilt), a fresh simulated machine installed as the platform with work items run
// as they are queued, and a trace sink that checks every record the log builds.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <optional>
#include <string>

#include "common/process_state.h"
#include "device/driver_cleanup.h"
#include "fuzz_targets.h"
#include "log/trace_format.h"
#include "log/trace_log.h"
#include "platform/sim/machine.h"
#include "settings/settings_records.h"

namespace tavo::fuzz {

// Each record is terminated inside the log's buffer and ends in exactly one "\r\n".
// TAVO_FUZZ_TRACE=1 in the environment prints the records, for looking into a finding.
class CheckingSink : public TraceSink {
public:
    void WriteTraceString(const wchar_t* text, win::BYTE) override {
        const std::size_t n = wcsnlen(text, kTraceWideChars);
        FUZZ_CHECK(n < kTraceWideChars);
        FUZZ_CHECK(n >= 2 && text[n - 2] == L'\r' && text[n - 1] == L'\n');
        if (print_) std::fprintf(stderr, "%s", NarrowText(std::wstring_view(text, n)).c_str());
        ++records;
    }
    std::size_t records = 0;

private:
    bool print_ = std::getenv("TAVO_FUZZ_TRACE") != nullptr;
};

class Scenario {
public:
    Scenario() {
        ResetProcessState();
        machine.Install();
        machine.threads.SetMode(sim::SimThreads::Mode::Inline);
        traceTarget = &sink;
    }
    ~Scenario() {
        traceTarget = nullptr;
        ResetProcessState();
    }
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // Whatever the input, every call gives back every handle it took.
    void CheckNothingOpen() const { FUZZ_CHECK(machine.handles.OpenCount() == 0); }

    // A value as the registry reads it into the service's 4-byte DWORD buffer: -1 unless it
    // is a REG_DWORD of exactly 4 bytes.
    std::int32_t StoredDword(const std::wstring& key, const std::wstring& name) const {
        const std::optional<win::DWORD> v = machine.registry.Dword(key, name);
        return v ? static_cast<std::int32_t>(*v) : -1;
    }

    sim::Machine machine;
    CheckingSink sink;
};

// A settings record as stored under key, field by field as the service reads it.
template <typename Record>
Record StoredRecord(const Scenario& s, const std::wstring& key) {
    Record r;
    for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
        Field(r, i) = s.StoredDword(key, RecordLayout<Record>::fields[i].valueName);
    return r;
}

// One driver-package cleanup run, which must mark itself done whatever it found.
inline void RunDriverCleanup() {
    std::mutex cleanupLock;
    ProcessUninstallOldDriverThread(cleanupLock);
    FUZZ_CHECK(UninstallOldDriverDone());
}

}  // namespace tavo::fuzz
