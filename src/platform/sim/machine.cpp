#include "platform/sim/machine.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
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

win::DWORD SimSystem::GetCurrentDirectoryW(win::DWORD size, wchar_t* buffer, win::DWORD* length) {
    if (auto e = faults_.Check("GetCurrentDirectoryW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const auto needed = static_cast<win::DWORD>(currentDirectory_.size() + 1);
    if (needed > size || buffer == nullptr) {
        *length = needed;
        return win::ERROR_INSUFFICIENT_BUFFER;
    }
    std::copy(currentDirectory_.begin(), currentDirectory_.end(), buffer);
    buffer[currentDirectory_.size()] = L'\0';
    *length = needed - 1;
    return win::ERROR_SUCCESS;
}

void SimSystem::SetCurrentDirectory(std::wstring path) {
    std::lock_guard<std::mutex> lock(lock_);
    currentDirectory_ = std::move(path);
}

void SimSystem::DuringSleep(std::function<void(win::DWORD)> action) {
    std::lock_guard<std::mutex> lock(lock_);
    duringSleep_ = std::move(action);
}

void SimSystem::Sleep(win::DWORD milliseconds) {
    std::function<void(win::DWORD)> action;
    {
        std::lock_guard<std::mutex> lock(lock_);
        sleeps_.push_back(milliseconds);
        if (sleeps_.size() > kSleepLimit)
            throw std::logic_error("sim: more pauses than any scenario makes; a loop sleeps without end");
        action = duringSleep_;
    }
    if (action) action(milliseconds);
    if (threads_.CurrentMode() == SimThreads::Mode::RealThreads) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<win::DWORD>(milliseconds, 10)));
    } else {
        threads_.RunReady();
    }
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

Machine::Machine() {
    threads.OnShutdown([this] { sync.WakeAll(); });
    threads.AttachSync(&sync);
    sync.AttachSecurity(&security, [this] {
        const auto self = processes.Get(processes.GetCurrentProcessId());
        if (!self || !self->token) return false;
        auto held = self->token->privileges.find(L"SeTakeOwnershipPrivilege");
        return held != self->token->privileges.end() && held->second;
    });
}
Machine::~Machine() {
    // Items still waiting unwind while every facet is there to take back what they hold.
    threads.Shutdown();
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
    p.sync = &sync;
    p.processes = &processes;
    win::SetPlatform(p);
}

}  // namespace sim
