// A model of Event Tracing for Windows: provider registrations, named trace sessions that
// outlive the process that started them, providers enabled per session with a level, and
// the messages each session's log file received.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/etw.h"
#include "platform/sim/faults.h"

namespace sim {

struct TraceRecord {
    win::BYTE level;
    std::wstring text;
};

struct TraceSession {
    std::wstring name;
    std::wstring logFile;
    win::ULONG logFileMode = 0;
    win::ULONG maximumFileSize = 0;
    win::ULONG bufferSize = 0;
    win::GUID guid{};
    std::map<std::string, win::BYTE> enabledProviders;  // by GUID text, with the level
    bool running = true;
};

class SimEtw : public win::EventTracing {
public:
    SimEtw(FaultPlan& faults, HandleTable& handles);

    win::ULONG EventRegister(const win::GUID& provider, win::REGHANDLE* out) override;
    win::ULONG EventUnregister(win::REGHANDLE handle) override;
    win::ULONG EventWriteString(win::REGHANDLE handle, win::BYTE level, win::ULONGLONG keyword,
                                const wchar_t* text) override;
    win::ULONG StartTraceW(win::TRACEHANDLE* out, const wchar_t* sessionName, win::BYTE* properties) override;
    win::ULONG EnableTraceEx2(win::TRACEHANDLE session, const win::GUID& provider, win::ULONG controlCode,
                              win::BYTE level, win::ULONGLONG matchAny, win::ULONGLONG matchAll,
                              win::ULONG timeout) override;
    win::ULONG ControlTraceW(win::TRACEHANDLE session, const wchar_t* sessionName, win::BYTE* properties,
                             win::ULONG controlCode) override;

    // ---- inspection ----
    // Every string event written through a registered provider, whoever listened.
    std::vector<TraceRecord> Written() const;
    // The same from the from-th on, and how many there are: a long run reads each step's
    // messages without copying the whole record every time.
    std::vector<TraceRecord> WrittenSince(std::size_t from) const;
    std::size_t WrittenCount() const;
    // What a log file holds (sessions write there while they run, and it stays after).
    std::vector<TraceRecord> LogFile(const std::wstring& path) const;
    std::optional<TraceSession> Session(const std::wstring& name) const;
    int RegisteredProviders() const;

private:
    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::map<std::uint64_t, std::string> providers_;  // registration handle -> GUID text
    std::map<std::uint64_t, TraceSession> sessions_;  // by session handle, running ones
    std::vector<TraceRecord> written_;
    std::map<std::wstring, std::vector<TraceRecord>> files_;
    std::uint64_t nextSession_ = 0x7000;
};

std::string GuidText(const win::GUID& g);

}  // namespace sim
