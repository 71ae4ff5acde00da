// The service's one diagnostic log. Every message becomes one string event of the
// service's ETW provider and, while a trace session runs, a line of its log file.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

namespace tavo {

// Where the log delivers each finished record. The service object is the one sink of a
// running process; tests may install their own.
class TraceSink {
public:
    virtual void WriteTraceString(const wchar_t* text, win::BYTE level) = 0;

protected:
    ~TraceSink() = default;
};

inline constexpr win::GUID kTraceProviderGuid = {
    0xBE2E880E, 0xF79F, 0x4C30, {0x9C, 0x95, 0x09, 0xF0, 0x03, 0xA0, 0xA7, 0xEA}};
inline constexpr win::GUID kTraceSessionGuid = {
    0x5C72F564, 0x66B3, 0x4493, {0xB4, 0xB0, 0x6B, 0x92, 0x16, 0x78, 0x84, 0x22}};
inline constexpr wchar_t kTraceSessionName[] = L"TAVO";
inline constexpr wchar_t kTraceLogFile[] = L"C:\\Windows\\System32\\LogFiles\\TAVO.etl";
inline constexpr win::DWORD kTracePropertiesSize = 206;
inline constexpr win::DWORD kTraceLoggerNameOffset = 120;
inline constexpr win::DWORD kTraceLogFileNameOffset = 130;

// The wide record: 511 characters plus its terminator, "\r\n" included.
inline constexpr std::size_t kTraceWideChars = 512;

// Where messages go; set by the service object's constructor, cleared by its destructor.
extern std::atomic<TraceSink*>& traceTarget;
// Clears traceTarget if it is sink, then returns once no message is being written to it: a
// sink may go away after this, whatever other threads still log.
void RemoveTraceTarget(TraceSink* sink);

// printf-style (Windows conventions, see trace_format.h); level 4; never fails.
void TraceLog(const char* format, ...);

// Builds the complete wide record of one message into out (kTraceWideChars): formatted,
// trailing white space removed, "\r\n" appended, cut to fit. Exposed for tests.
void FormatTraceRecord(wchar_t* out, const char* format, va_list args);

// The private trace session, started by the constructor and stopped by the destructor.
void EnableTracelog();
void DisableTracelog();
bool TraceSessionRunning();

}  // namespace tavo
