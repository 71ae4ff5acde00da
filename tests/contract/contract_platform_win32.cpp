#include "contract/contract_platform.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace contract {

void InstallPlatform() { win32::InstallPlatform(); }
void UninstallPlatform() {}

void MakeFolder(const std::wstring& path) { ::CreateDirectoryW(path.c_str(), nullptr); }
void MakeFile(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}
bool UnderWine() { return win32::RunningUnderWine(); }
void RemovePath(const std::wstring& path) {
    if (!::RemoveDirectoryW(path.c_str())) ::DeleteFileW(path.c_str());
}

}  // namespace contract
