#include "platform/etw.h"
#include "platform/win32/win32_common.h"
#include "platform/win32/win32_platform.h"

#include <evntprov.h>
#include <evntrace.h>

#include <atomic>
#include <mutex>
#include <string>

namespace win32 {
namespace {

// Wine accepts every ETW call and records nothing. There the session is stood in for by a
// text file beside the .etl it would write ("X.etl" -> "X.log"), one "level: message"
// line per event, written only while the session runs with this provider enabled.
// Every thread of the service logs, the RPC calls among them: a write takes no lock, so
// concurrent callers never queue behind one another's file I/O. Each line is one append (the handle
// has only FILE_APPEND_DATA), and the stop closes the file only once no write uses it.
class WineTraceFile {
public:
    DWORD Start(const std::wstring& etlPath, const std::wstring& sessionName) {
        std::lock_guard<std::mutex> lock(lock_);
        // One session of a name at a time, as ETW enforces machine-wide.
        OwnedHandle marker(::CreateMutexW(nullptr, FALSE, (L"Global\\EtwStandIn_" + sessionName).c_str()));
        if (!marker) return ::GetLastError();
        if (::GetLastError() == ERROR_ALREADY_EXISTS) return ERROR_ALREADY_EXISTS;
        std::wstring path = etlPath;
        std::size_t dot = path.rfind(L'.');
        path = (dot == std::wstring::npos ? path : path.substr(0, dot)) + L".log";
        std::size_t slash = path.rfind(L'\\');
        if (slash != std::wstring::npos) ::CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
        OwnedHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return ::GetLastError();
        marker_ = std::move(marker);
        file_ = std::move(file);
        open_.store(file_.get());
        return ERROR_SUCCESS;
    }
    void Enable(bool on, UCHAR level) {
        std::lock_guard<std::mutex> lock(lock_);
        filter_.store(on ? kEnabled | level : 0);
    }
    void Write(UCHAR level, const wchar_t* text) {
        const unsigned filter = filter_.load();
        if (!(filter & kEnabled) || (level != 0 && level > (filter & 0xFF))) return;
        std::wstring line = std::to_wstring(level) + L": " + text;
        if (line.size() < 2 || line.compare(line.size() - 2, 2, L"\r\n") != 0) line += L"\r\n";
        int n = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
        // Counted in before the handle is read: a stop that took the handle away after
        // this read waits for the count to drop before it closes the file.
        writers_.fetch_add(1);
        if (HANDLE file = open_.load()) {
            DWORD written = 0;
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
        writers_.fetch_sub(1);
    }
    void Stop() {
        std::lock_guard<std::mutex> lock(lock_);
        filter_.store(0);
        open_.store(nullptr);
        while (writers_.load() != 0) ::SwitchToThread();
        file_.reset();
        marker_.reset();
    }

private:
    static constexpr unsigned kEnabled = 0x100;
    std::mutex lock_;  // start, enable and stop
    OwnedHandle file_;
    OwnedHandle marker_;
    std::atomic<HANDLE> open_{nullptr};  // file_ while writes may use it
    std::atomic<unsigned> filter_{0};    // kEnabled | level, or 0
    std::atomic<int> writers_{0};
};

std::wstring NameInBlock(const win::BYTE* block, ULONG offsetField) {
    ULONG size, offset;
    std::memcpy(&size, block + win::etp::BufferSize, sizeof size);
    std::memcpy(&offset, block + offsetField, sizeof offset);
    std::wstring name;
    for (ULONG at = offset; offset != 0 && at + 1 < size; at += 2) {
        wchar_t c;
        std::memcpy(&c, block + at, 2);
        if (c == 0) break;
        name += c;
    }
    return name;
}

class Win32Etw : public win::EventTracing {
public:
    Win32Etw() : wine_(RunningUnderWine()) {}

    win::ULONG EventRegister(const win::GUID& provider, win::REGHANDLE* out) override {
        ::GUID g = ToGuid(provider);
        REGHANDLE h = 0;
        ULONG s = ::EventRegister(&g, nullptr, nullptr, &h);
        if (s == ERROR_SUCCESS) *out = h;
        return s;
    }
    win::ULONG EventUnregister(win::REGHANDLE handle) override { return ::EventUnregister(handle); }
    win::ULONG EventWriteString(win::REGHANDLE handle, win::BYTE level, win::ULONGLONG keyword,
                                const wchar_t* text) override {
        if (wine_) file_.Write(level, text);
        return ::EventWriteString(handle, level, keyword, text);
    }
    win::ULONG StartTraceW(win::TRACEHANDLE* out, const wchar_t* sessionName, win::BYTE* properties) override {
        static_assert(sizeof(EVENT_TRACE_PROPERTIES) == win::etp::kSize);
        if (wine_) {
            DWORD s = file_.Start(NameInBlock(properties, win::etp::LogFileNameOffset), sessionName);
            if (s == ERROR_SUCCESS) *out = kWineSession;
            return s;
        }
        TRACEHANDLE h = 0;
        ULONG s = ::StartTraceW(&h, sessionName, reinterpret_cast<EVENT_TRACE_PROPERTIES*>(properties));
        if (s == ERROR_SUCCESS) *out = h;
        return s;
    }
    win::ULONG EnableTraceEx2(win::TRACEHANDLE session, const win::GUID& provider, win::ULONG controlCode,
                              win::BYTE level, win::ULONGLONG matchAny, win::ULONGLONG matchAll,
                              win::ULONG timeout) override {
        if (wine_) {
            if (session != kWineSession) return ERROR_INVALID_HANDLE;
            file_.Enable(controlCode == EVENT_CONTROL_CODE_ENABLE_PROVIDER, level);
            return ERROR_SUCCESS;
        }
        ::GUID g = ToGuid(provider);
        return ::EnableTraceEx2(session, &g, controlCode, level, matchAny, matchAll, timeout, nullptr);
    }
    win::ULONG ControlTraceW(win::TRACEHANDLE session, const wchar_t* sessionName, win::BYTE* properties,
                             win::ULONG controlCode) override {
        if (wine_) {
            if (controlCode == EVENT_TRACE_CONTROL_STOP) file_.Stop();
            return ERROR_SUCCESS;
        }
        return ::ControlTraceW(session, sessionName, reinterpret_cast<EVENT_TRACE_PROPERTIES*>(properties),
                               controlCode);
    }

private:
    static constexpr win::TRACEHANDLE kWineSession = 0x57494E45;
    bool wine_;
    WineTraceFile file_;
};

}  // namespace

win::EventTracing& EventTracing() {
    static Win32Etw instance;
    return instance;
}

}  // namespace win32
