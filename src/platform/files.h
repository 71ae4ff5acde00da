// Shell and file-system facet (shell32, shlwapi): where a user's folders are, and whether a
// path exists.
#pragma once

#include <string>

#include "platform/platform.h"

namespace win {

class Files {
public:
    virtual ~Files() = default;

    // SHGetFolderPathW(no window, csidl, token, flags, MAX_PATH buffer): the folder of the
    // user the token belongs to (null token: the calling account, here LocalSystem). The
    // result never exceeds MAX_PATH - 1 characters. Returns the HRESULT; S_OK with *path
    // set, anything else leaves *path untouched. A token that is not open gives
    // HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE).
    virtual HRESULT SHGetFolderPathW(int csidl, HANDLE token, DWORD flags, std::wstring* path) = 0;

    // PathFileExistsW: ERROR_SUCCESS when the file or folder exists, otherwise the last
    // error Windows leaves (ERROR_FILE_NOT_FOUND; ERROR_PATH_NOT_FOUND when a parent folder
    // is missing).
    virtual DWORD PathFileExistsW(const wchar_t* path) = 0;
};

inline Files& Fs() { return *P().files; }

}  // namespace win
