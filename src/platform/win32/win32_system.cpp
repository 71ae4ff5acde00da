#include "platform/console.h"
#include "platform/system.h"
#include "platform/win32/win32_common.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace win32 {
namespace {

class Win32Console : public win::Console {
public:
    void Write(std::wstring_view text) override {
        HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
        if (IsConsole(out)) {
            // A real console takes UTF-16 directly.
            std::lock_guard<std::mutex> lock(lock_);
            DWORD written = 0;
            if (::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return;
        }
        // A pipe or file gets UTF-8 with "\n" as "\r\n", as the C runtime's text mode writes
        // it, in one write of its own: in console mode every traced line comes here, from
        // every thread, and a lock held across the write made RPC calls queue behind it. A
        // synchronous handle keeps each write whole.
        int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
        if (n <= 0) return;
        std::string bytes(static_cast<std::size_t>(n), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                              nullptr);
        std::string line;
        line.reserve(bytes.size() + 8);
        for (char c : bytes) {
            if (c == '\n') line += '\r';
            line += c;
        }
        DWORD written = 0;
        ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    // Asked once per standard output handle: under Wine GetConsoleMode is a round trip to
    // the wineserver, which every process's calls share, and this runs for every traced line.
    bool IsConsole(HANDLE out) {
        if (checked_.load() != out) {
            DWORD mode = 0;
            console_.store(::GetConsoleMode(out, &mode) != FALSE);
            checked_.store(out);
        }
        return console_.load();
    }

    std::mutex lock_;  // console writes only
    std::atomic<HANDLE> checked_{nullptr};
    std::atomic<bool> console_{false};
};

class Win32System : public win::System {
public:
    win::DWORD GetModuleFileNameW(wchar_t* buffer, win::DWORD size, win::DWORD* length) override {
        ::SetLastError(ERROR_SUCCESS);
        DWORD n = ::GetModuleFileNameW(nullptr, buffer, size);
        if (n == 0) return ::GetLastError();
        DWORD error = ::GetLastError();
        *length = n;
        return n >= size ? (error ? error : ERROR_INSUFFICIENT_BUFFER) : ERROR_SUCCESS;
    }
    win::DWORD GetCurrentDirectoryW(win::DWORD size, wchar_t* buffer, win::DWORD* length) override {
        // Read into a buffer of its own, so a directory that does not fit leaves the
        // caller's untouched whatever the system writes.
        DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
        if (needed == 0) return FailureOr(FALSE);
        std::wstring path(needed, L'\0');
        DWORD n = ::GetCurrentDirectoryW(needed, path.data());
        if (n == 0) return FailureOr(FALSE);
        if (n >= needed) return ERROR_INSUFFICIENT_BUFFER;  // it grew meanwhile
        if (n + 1 > size) {
            *length = n + 1;
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memcpy(buffer, path.data(), (n + 1) * sizeof(wchar_t));
        *length = n;
        return ERROR_SUCCESS;
    }
    void Sleep(win::DWORD milliseconds) override { ::Sleep(milliseconds); }
    [[noreturn]] void ExitProcess(win::DWORD code) override { std::exit(static_cast<int>(code)); }
    void OutputDebugStringW(const wchar_t* text) override { ::OutputDebugStringW(text); }
};

}  // namespace

win::Console& Console() {
    static Win32Console instance;
    return instance;
}

win::System& System() {
    static Win32System instance;
    return instance;
}

}  // namespace win32
