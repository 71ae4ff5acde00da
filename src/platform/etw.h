// Event tracing facet (EventRegister/EventWriteString and the trace-session controls).
// The session properties travel as the raw EVENT_TRACE_PROPERTIES block with its trailing
// names, laid out by the caller (offsets in wintypes.h).
#pragma once

#include "platform/platform.h"

namespace win {

class EventTracing {
public:
    virtual ~EventTracing() = default;

    virtual ULONG EventRegister(const GUID& provider, REGHANDLE* out) = 0;
    virtual ULONG EventUnregister(REGHANDLE handle) = 0;
    virtual ULONG EventWriteString(REGHANDLE handle, BYTE level, ULONGLONG keyword, const wchar_t* text) = 0;
    virtual ULONG StartTraceW(TRACEHANDLE* out, const wchar_t* sessionName, BYTE* properties) = 0;
    virtual ULONG EnableTraceEx2(TRACEHANDLE session, const GUID& provider, ULONG controlCode, BYTE level,
                                 ULONGLONG matchAny, ULONGLONG matchAll, ULONG timeout) = 0;
    virtual ULONG ControlTraceW(TRACEHANDLE session, const wchar_t* sessionName, BYTE* properties,
                                ULONG controlCode) = 0;
};

inline EventTracing& Etw() { return *P().etw; }

}  // namespace win
