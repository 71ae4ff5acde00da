#include "contract/contract_platform.h"
#include "platform/win32/win32_platform.h"

namespace contract {

void InstallPlatform() { win32::InstallPlatform(); }
void UninstallPlatform() {}

}  // namespace contract
