// Registry locations shared by the service's subsystems.
#pragma once

namespace tavo {

// The settings key under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kSettingsKeyPath[] = L"System\\CurrentControlSet\\Control\\Brindlex_PTP";

}  // namespace tavo
