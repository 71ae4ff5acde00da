// A model of the shell folders and of the file system's paths: the folders and files that
// exist (case-insensitive, as NTFS names are looked up), and each user's local
// application-data folder, resolved through the sessions' tokens; and folder change
// notifications, signalled by whatever creates or removes a name below the watched folder
// (tests' set-up included): folders for FILE_NOTIFY_CHANGE_DIR_NAME, files for
// FILE_NOTIFY_CHANGE_FILE_NAME. Other filters are accepted and never signalled. A change
// that comes while the notification is signalled is kept, and the re-armed notification is
// signalled at once, as on Windows (Wine 8 drops it, and sees nothing below the watched
// folder's own entries).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_sessions.h"
#include "platform/sim/sim_sync.h"

namespace sim {

class SimFiles : public win::Files {
public:
    SimFiles(FaultPlan& faults, HandleTable& handles, SimSessions& sessions, SimSync& sync);

    win::HRESULT SHGetFolderPathW(int csidl, win::HANDLE token, win::DWORD flags, std::wstring* path) override;
    win::DWORD PathFileExistsW(const wchar_t* path) override;
    win::DWORD FindFirstChangeNotificationW(const wchar_t* path, bool watchSubtree, win::DWORD filter,
                                            win::HANDLE* out) override;
    win::DWORD FindNextChangeNotification(win::HANDLE handle) override;
    win::DWORD FindCloseChangeNotification(win::HANDLE handle) override;

    // ---- set-up and inspection for tests ----
    // A folder or file exists with every folder above it.
    void AddFolder(const std::wstring& path);
    void AddFile(const std::wstring& path);
    // Removes the path and everything below it.
    void Remove(const std::wstring& path);
    bool Exists(const std::wstring& path) const;
    bool IsFile(const std::wstring& path) const;
    // Change notifications open.
    int Watches() const;

    // What a null token resolves to: the service runs as LocalSystem.
    static constexpr wchar_t kSystemLocalAppData[] = L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local";

private:
    static std::wstring Key(const std::wstring& path);
    // Under lock_: adds the entry and its missing folders; returns the names that are new.
    std::vector<std::pair<std::wstring, bool>> AddLocked(const std::wstring& key, bool folder);
    // Signals the watches that a new or removed name concerns (folder: true for folders).
    void Notify(const std::vector<std::pair<std::wstring, bool>>& names);

    FaultPlan& faults_;
    HandleTable& handles_;
    SimSessions& sessions_;
    SimSync& sync_;
    struct Watch {
        std::wstring folder;  // its key
        bool subtree;
        win::DWORD filter;
        SimSync::Ref object;
        bool kept = false;  // a change came while signalled
    };
    mutable std::mutex lock_;
    std::set<std::wstring> folders_;  // upper-case, no trailing separator
    std::set<std::wstring> files_;
    std::map<std::uint64_t, Watch> watches_;
};

}  // namespace sim
