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
}

void UninstallPlatform() {
    // Everything a case opened must have been closed again.
    if (g_machine && g_machine->handles.OpenCount() != 0) std::abort();
    g_machine.reset();
}

}  // namespace contract
