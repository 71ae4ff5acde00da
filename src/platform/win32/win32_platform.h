// The real Windows backend of the seam.
#pragma once

namespace win32 {

// Installs the Win32 facets as the process's platform.
void InstallPlatform();

// True when running under Wine (ntdll exports wine_get_version).
bool RunningUnderWine();

}  // namespace win32
