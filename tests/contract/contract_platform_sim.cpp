#include <cstdlib>
#include <memory>

#include "contract/contract_platform.h"
#include "platform/sim/machine.h"

namespace contract {
namespace {
std::unique_ptr<sim::Machine> g_machine;
}

void InstallPlatform() {
    g_machine = std::make_unique<sim::Machine>();
    g_machine->Install();
    // Threads start when they are made, as on Windows, and run up to their first wait.
    g_machine->threads.SetMode(sim::SimThreads::Mode::Inline);
    // The running program's own file exists, as it does on Windows.
    wchar_t self[win::MAX_PATH];
    win::DWORD length = 0;
    if (g_machine->system.GetModuleFileNameW(self, win::MAX_PATH, &length) == win::ERROR_SUCCESS)
        g_machine->files.AddFile(std::wstring(self, length));
}

void UninstallPlatform() {
    // Everything a case opened must have been closed again.
    if (g_machine && g_machine->handles.OpenCount() != 0) std::abort();
    g_machine.reset();
}

void MakeFolder(const std::wstring& path) { g_machine->files.AddFolder(path); }
void MakeFile(const std::wstring& path) { g_machine->files.AddFile(path); }
void RemovePath(const std::wstring& path) { g_machine->files.Remove(path); }
bool UnderWine() { return false; }

}  // namespace contract
