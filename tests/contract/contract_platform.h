// The contract tests run the same cases against the simulated machine (natively) and
// against the real Win32 backend (under Wine). Each build supplies these hooks.
#pragma once

#include <string>

namespace contract {

// Installs the platform under test; called before every case.
void InstallPlatform();
// Releases what InstallPlatform set up; called after every case.
void UninstallPlatform();

// What another program does to the file system while a case watches: make a folder (its
// parent exists), make an empty file, remove an empty folder or a file.
void MakeFolder(const std::wstring& path);
void MakeFile(const std::wstring& path);
void RemovePath(const std::wstring& path);

// Whether the platform is Wine, for the few cases where Wine is known to differ from
// Windows, which the simulated machine follows.
bool UnderWine();

}  // namespace contract
