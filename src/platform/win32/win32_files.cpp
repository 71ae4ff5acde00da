#include "platform/files.h"
#include "platform/win32/win32_common.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace win32 {
namespace {

class Win32Files : public win::Files {
public:
    win::HRESULT SHGetFolderPathW(int csidl, win::HANDLE token, win::DWORD flags, std::wstring* path) override {
        WCHAR buffer[MAX_PATH] = {};
        HRESULT hr = ::SHGetFolderPathW(nullptr, csidl, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(token)),
                                        flags, buffer);
        // S_FALSE (folder missing) is reported as it is, without a path.
        if (hr != S_OK) return hr;
        buffer[MAX_PATH - 1] = L'\0';
        path->assign(buffer);
        return S_OK;
    }

    win::DWORD PathFileExistsW(const wchar_t* path) override {
        ::SetLastError(ERROR_SUCCESS);
        if (::PathFileExistsW(path)) return ERROR_SUCCESS;
        DWORD e = ::GetLastError();
        return e != ERROR_SUCCESS ? e : ERROR_FILE_NOT_FOUND;
    }

    win::DWORD FindFirstChangeNotificationW(const wchar_t* path, bool watchSubtree, win::DWORD filter,
                                            win::HANDLE* out) override {
        HANDLE h = ::FindFirstChangeNotificationW(path, watchSubtree, filter);
        if (h == INVALID_HANDLE_VALUE || h == nullptr) return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD FindNextChangeNotification(win::HANDLE handle) override {
        return FailureOr(::FindNextChangeNotification(Raw<void>(handle)));
    }
    win::DWORD FindCloseChangeNotification(win::HANDLE handle) override {
        return FailureOr(::FindCloseChangeNotification(Raw<void>(handle)));
    }
};

}  // namespace

win::Files& Files() {
    static Win32Files instance;
    return instance;
}

}  // namespace win32
