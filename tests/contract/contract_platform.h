// The contract tests run the same cases against the simulated machine (natively) and
// against the real Win32 backend (under Wine). Each build supplies these two hooks.
#pragma once

namespace contract {

// Installs the platform under test; called before every case.
void InstallPlatform();
// Releases what InstallPlatform set up; called after every case.
void UninstallPlatform();

}  // namespace contract
