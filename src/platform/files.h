// Shell and file-system facet (shell32, shlwapi): where a user's folders are, and whether a
// path exists.
#pragma once

#include <string>

#include "platform/platform.h"

namespace win {

// FindFirstChangeNotificationW filters.
inline constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x00000001;
inline constexpr DWORD FILE_NOTIFY_CHANGE_DIR_NAME = 0x00000002;
inline constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x00000010;
inline constexpr DWORD ERROR_DIRECTORY = 267;  // a file where a folder was asked for

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

    // FindFirstChangeNotificationW(folder, subtree, filter): a waitable handle (see
    // Synchronization) that is signalled at the first change the filter names and stays so
    // until re-armed with FindNextChangeNotification. Own it with UniqueChangeNotification.
    // *out is untouched on failure (Windows' INVALID_HANDLE_VALUE).
    virtual DWORD FindFirstChangeNotificationW(const wchar_t* path, bool watchSubtree, DWORD filter,
                                               HANDLE* out) = 0;
    virtual DWORD FindNextChangeNotification(HANDLE handle) = 0;
    virtual DWORD FindCloseChangeNotification(HANDLE handle) = 0;
};

inline Files& Fs() { return *P().files; }

}  // namespace win
