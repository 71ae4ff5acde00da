#include "platform/sim/machine.h"

#include <algorithm>
#include <thread>

namespace sim {

void SimConsole::Write(std::wstring_view text) {
    std::lock_guard<std::mutex> lock(lock_);
    text_.append(text);
}

std::wstring SimConsole::Text() const {
    std::lock_guard<std::mutex> lock(lock_);
    return text_;
}

void SimConsole::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    text_.clear();
}

win::DWORD SimSystem::GetModuleFileNameW(wchar_t* buffer, win::DWORD size, win::DWORD* length) {
    if (auto e = faults_.Check("GetModuleFileNameW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (size == 0) return win::ERROR_INSUFFICIENT_BUFFER;
    if (modulePath_.size() + 1 > size) {
        // Windows fills the buffer with the cut, terminated path and reports the overflow.
        std::copy_n(modulePath_.begin(), size - 1, buffer);
        buffer[size - 1] = L'\0';
        *length = size;
        return win::ERROR_INSUFFICIENT_BUFFER;
    }
    std::copy(modulePath_.begin(), modulePath_.end(), buffer);
    buffer[modulePath_.size()] = L'\0';
    *length = static_cast<win::DWORD>(modulePath_.size());
    return win::ERROR_SUCCESS;
}

void SimSystem::Sleep(win::DWORD milliseconds) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        sleeps_.push_back(milliseconds);
    }
    std::this_thread::yield();
}

void SimSystem::ExitProcess(win::DWORD code) { throw ProcessExit{code}; }

void SimSystem::OutputDebugStringW(const wchar_t* text) {
    std::lock_guard<std::mutex> lock(lock_);
    debugStrings_.emplace_back(text);
}

std::vector<std::wstring> SimSystem::DebugStrings() const {
    std::lock_guard<std::mutex> lock(lock_);
    return debugStrings_;
}

void SimSystem::SetModulePath(std::wstring path) {
    std::lock_guard<std::mutex> lock(lock_);
    modulePath_ = std::move(path);
}

std::vector<win::DWORD> SimSystem::Sleeps() const {
    std::lock_guard<std::mutex> lock(lock_);
    return sleeps_;
}

Machine::Machine() = default;
Machine::~Machine() {
    // Work still running on real threads may use any facet: end it before members go.
    threads.Join();
    if (win::P().registry == &registry) win::SetPlatform(win::Platform{});
}

void Machine::Install() {
    win::Platform p;
    p.registry = &registry;
    p.scm = &scm;
    p.etw = &etw;
    p.console = &console;
    p.system = &system;
    p.hid = &devices;
    p.devices = &devices;
    p.sessions = &sessions;
    p.files = &files;
    p.threads = &threads;
    p.security = &security;
    p.rpc = &rpc;
    p.setupInf = &setupInf;
    win::SetPlatform(p);
}

}  // namespace sim
