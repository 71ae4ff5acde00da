#include <cstdlib>
#include <memory>

#include "contract/contract_laptop.h"
#include "contract/contract_platform.h"
#include "laptops/sim_laptop.h"
#include "platform/sim/machine.h"
#include "wine/vlaptop/firmware_record.h"

namespace contract {
namespace {
std::unique_ptr<sim::Machine> g_machine;
win::DEVINST g_padNode = 0;
std::shared_ptr<sim::TouchpadFirmware> g_pad;
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
    g_pad.reset();
    g_machine.reset();
}

const tavo::laptops::LaptopSheet& Laptop() { return tavo::laptops::LaptopFile(kLaptopFile); }

void InstallLaptop() {
    // The installer makes the software component too; the registry is left to the cases.
    const auto built = tavo::laptops::Build(*g_machine, tavo::laptops::ToSim(Laptop()), {.softwareComponent = true});
    for (std::size_t i = 0; i < Laptop().hid.size(); ++i)
        if (Laptop().hid[i].name == "vendor") {
            g_padNode = built.hidNodes[i];
            g_pad = built.firmware[i];
        }
}

std::vector<std::string> TakePadReports() {
    std::vector<std::string> lines;
    for (const auto& r : g_pad->Reports())
        lines.push_back(vlaptop::FormatReport(
            {r.direction == sim::TouchpadFirmware::Direction::ToDevice, r.accepted, r.bytes}));
    g_pad->ClearReports();
    return lines;
}

void RefusePadReports(bool all) {
    for (const auto& [function, value] : g_pad->Values())
        if (all) g_pad->Refuse(function);
    if (!all) g_pad->AcceptAll();
}

void UnplugPad() { g_machine->devices.Unplug(g_padNode); }
void PlugPad() { g_machine->devices.Replug(g_padNode); }

void MakeFolder(const std::wstring& path) { g_machine->files.AddFolder(path); }
void MakeFile(const std::wstring& path) { g_machine->files.AddFile(path); }
void RemovePath(const std::wstring& path) { g_machine->files.Remove(path); }
bool UnderWine() { return false; }

}  // namespace contract
