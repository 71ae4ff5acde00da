// Removal of installed copies of the software-component driver package whose version is not
// the one recorded in the settings key: once per process, after the first logon.
#pragma once

#include <mutex>
#include <string>

namespace tavo {

// The work item queued at logon. The caller passes the process's cleanup lock, which
// serialises runs; only the first run does the work.
void ProcessUninstallOldDriverThread(std::mutex& cleanupLock);

// The settings key's "Version" into *version (empty when missing); false only when the key
// cannot be opened.
bool GetDriverVersion(std::wstring* version);

// True when the INF (a bare name is looked up in the INF folder) is a copy of the component
// package; *version then holds its DriverVer version, upper-cased.
bool ReadComponentInfVersion(const wchar_t* infFileName, std::wstring* version);

// Uninstalls every OEM copy of the package whose version differs from currentVersion
// (compared without regard to case) and deletes its precompiled .pnf. Returns 0 for an
// empty currentVersion, else 1.
int DeleteOldDriver(std::wstring currentVersion);

// Set once a run has finished, found version or not; never cleared in a process. Read it
// only while no run is going on.
bool UninstallOldDriverDone();

}  // namespace tavo
