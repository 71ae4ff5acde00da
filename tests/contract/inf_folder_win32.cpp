#include "platform/setup_inf.h"
#include "contract/inf_folder.h"
#include "platform/win32/win32_common.h"

#include <cstdlib>

namespace contract {

void WriteInfFolderFile(const std::wstring& name, const std::string& text) {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring path = std::wstring(windows) + L"\\INF\\" + name;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) std::abort();
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!ok || written != text.size()) std::abort();
}

}  // namespace contract
