#include "log/trace_log.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "common/process_state.h"
#include "platform/etw.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "log/trace_format.h"
#include "common/registry_paths.h"

namespace tavo {

namespace {

struct LogState {
    std::atomic<TraceSink*> traceTarget{nullptr};
    std::atomic<int> writing{0};  // messages on their way to traceTarget
    std::atomic<win::TRACEHANDLE> traceSessionHandle{0};
    // Owned by the service; allocated by EnableTracelog and released by DisableTracelog.
    std::unique_ptr<win::BYTE[]> traceProperties;
};
ProcessWide<LogState> logState;
std::atomic<win::TRACEHANDLE>& traceSessionHandle = logState->traceSessionHandle;
std::unique_ptr<win::BYTE[]>& traceProperties = logState->traceProperties;

}  // namespace

std::atomic<TraceSink*>& traceTarget = logState->traceTarget;

namespace {

// One wide character per byte, as the default C locale converts.
wchar_t Widen(char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); }

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

template <typename T>
void Put(win::BYTE* block, std::size_t offset, T value) {
    std::memcpy(block + offset, &value, sizeof value);
}

// The properties block: EVENT_TRACE_PROPERTIES, then room for the session name (filled
// in by the system), then the log-file name, which fills the block exactly.
std::unique_ptr<win::BYTE[]> NewTraceProperties() {
    std::unique_ptr<win::BYTE[]> block(new (std::nothrow) win::BYTE[kTracePropertiesSize]);
    if (!block) return block;
    std::memset(block.get(), 0, kTracePropertiesSize);
    Put<win::ULONG>(block.get(), win::etp::BufferSize, kTracePropertiesSize);
    Put<win::GUID>(block.get(), win::etp::Guid, kTraceSessionGuid);
    Put<win::ULONG>(block.get(), win::etp::ClientContext, 1);
    Put<win::ULONG>(block.get(), win::etp::Flags, win::WNODE_FLAG_TRACED_GUID);
    Put<win::ULONG>(block.get(), win::etp::MaximumFileSize, 1);
    Put<win::ULONG>(block.get(), win::etp::LogFileMode,
                    win::EVENT_TRACE_NO_PER_PROCESSOR_BUFFERING | win::EVENT_TRACE_INDEPENDENT_SESSION_MODE |
                        win::EVENT_TRACE_USE_PAGED_MEMORY | win::EVENT_TRACE_REAL_TIME_MODE |
                        win::EVENT_TRACE_SECURE_MODE);
    Put<win::ULONG>(block.get(), win::etp::FlushTimer, 1);
    Put<win::ULONG>(block.get(), win::etp::LoggerNameOffset, kTraceLoggerNameOffset);
    Put<win::ULONG>(block.get(), win::etp::LogFileNameOffset, kTraceLogFileNameOffset);
    static_assert(kTraceLogFileNameOffset + 2 * (sizeof kTraceLogFile / sizeof kTraceLogFile[0]) == kTracePropertiesSize);
    // Copied as UTF-16 code units whatever the host's wchar_t width is.
    for (std::size_t i = 0; i < sizeof kTraceLogFile / sizeof kTraceLogFile[0]; ++i)
        Put<std::uint16_t>(block.get(), kTraceLogFileNameOffset + 2 * i, static_cast<std::uint16_t>(kTraceLogFile[i]));
    return block;
}

// DisableEventLog as a DWORD, or -1 when the key, the value or its type is not right.
long ReadDisableEventLog() {
    win::UniqueHKey key;
    if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_READ, key.put()) !=
        win::ERROR_SUCCESS)
        return -1;
    win::DWORD type = 0;
    win::DWORD value = 0;
    win::DWORD size = sizeof value;
    if (win::Reg().RegQueryValueExW(key.get(), L"DisableEventLog", &type, reinterpret_cast<win::BYTE*>(&value),
                                    &size) != win::ERROR_SUCCESS ||
        type != win::REG_DWORD)
        return -1;
    return static_cast<long>(static_cast<std::int32_t>(value));
}

}  // namespace

void FormatTraceRecord(wchar_t* out, const char* format, va_list args) {
    // The wide record holds the text, "\r\n" and the terminator, so the text is formatted
    // only as far as the record keeps it. The cut comes before stripping, so a cut that
    // ends in an inner line end or blanks still gets exactly one "\r\n".
    char narrow[kTraceWideChars - 2];
    std::size_t n = FormatTrace(narrow, sizeof narrow, format, args);
    while (n > 0 && IsCSpace(narrow[n - 1])) --n;
    // Fixed-size blocks let the compiler widen sixteen characters at a time.
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (std::size_t j = 0; j < 16; ++j) out[i + j] = Widen(narrow[i + j]);
    for (; i < n; ++i) out[i] = Widen(narrow[i]);
    out[n] = L'\r';
    out[n + 1] = L'\n';
    out[n + 2] = L'\0';
}

void TraceLog(const char* format, ...) {
    // Counted in before the sink is read, so that RemoveTraceTarget sees this message.
    logState->writing.fetch_add(1);
    TraceSink* target = traceTarget.load();
    if (target != nullptr) {
        wchar_t wide[kTraceWideChars];
        va_list args;
        va_start(args, format);
        FormatTraceRecord(wide, format, args);
        va_end(args);
        target->WriteTraceString(wide, win::TRACE_LEVEL_INFORMATION);
    }
    logState->writing.fetch_sub(1, std::memory_order_release);
}

void RemoveTraceTarget(TraceSink* sink) {
    TraceSink* expected = sink;
    traceTarget.compare_exchange_strong(expected, nullptr);
    while (logState->writing.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

void EnableTracelog() {
    TraceLog("EnableTracelog++");
    if (ReadDisableEventLog() == 1) {
        TraceLog("Disable Auto Eventlog by Registry\n");
        return;
    }
    traceProperties = NewTraceProperties();
    if (!traceProperties) {
        TraceLog("Unable to allocate %d bytes for properties structure.\n", static_cast<int>(kTracePropertiesSize));
        TraceLog("EnableTracelog--");
        return;
    }
    win::TRACEHANDLE session = 0;
    win::ULONG status = win::Etw().StartTraceW(&session, kTraceSessionName, traceProperties.get());
    if (status != win::ERROR_SUCCESS) {
        TraceLog("StartTrace() failed with %lu\n", status);
        traceProperties.reset();
        TraceLog("EnableTracelog--");
        return;
    }
    traceSessionHandle = session;
    status = win::Etw().EnableTraceEx2(session, kTraceProviderGuid, win::EVENT_CONTROL_CODE_ENABLE_PROVIDER,
                                       win::TRACE_LEVEL_INFORMATION, 0, 0, 0);
    if (status != win::ERROR_SUCCESS) {
        TraceLog("EnableTrace() failed with %lu\n", status);
        traceProperties.reset();
    }
    TraceLog("EnableTracelog--");
}

void DisableTracelog() {
    TraceLog("DisableTracelog++");
    win::TRACEHANDLE session = traceSessionHandle.exchange(0);
    if (session != 0) {
        win::Etw().EnableTraceEx2(session, kTraceProviderGuid, win::EVENT_CONTROL_CODE_DISABLE_PROVIDER,
                                  win::TRACE_LEVEL_INFORMATION, 0, 0, 0);
        // A session whose provider enable failed has lost its block; it is independent of
        // this process and would outlive it, so stop it with a fresh one.
        if (!traceProperties) traceProperties = NewTraceProperties();
        win::ULONG status = traceProperties ? win::Etw().ControlTraceW(session, kTraceSessionName,
                                                                       traceProperties.get(),
                                                                       win::EVENT_TRACE_CONTROL_STOP)
                                            : win::ERROR_NOT_ENOUGH_MEMORY;
        if (status != win::ERROR_SUCCESS) TraceLog("ControlTrace(stop) failed with %lu\n", status);
    }
    traceProperties.reset();
    TraceLog("DisableTracelog--");
}

bool TraceSessionRunning() { return traceSessionHandle.load() != 0; }

}  // namespace tavo
