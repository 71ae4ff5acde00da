// A model of the shell folders and of the file system's paths: the folders and files that
// exist (case-insensitive, as NTFS names are looked up), and each user's local
// application-data folder, resolved through the sessions' tokens.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_sessions.h"

namespace sim {

class SimFiles : public win::Files {
public:
    SimFiles(FaultPlan& faults, HandleTable& handles, SimSessions& sessions);

    win::HRESULT SHGetFolderPathW(int csidl, win::HANDLE token, win::DWORD flags, std::wstring* path) override;
    win::DWORD PathFileExistsW(const wchar_t* path) override;

    // ---- set-up and inspection for tests ----
    // A folder or file exists with every folder above it.
    void AddFolder(const std::wstring& path);
    void AddFile(const std::wstring& path);
    // Removes the path and everything below it.
    void Remove(const std::wstring& path);
    bool Exists(const std::wstring& path) const;

    // What a null token resolves to: the service runs as LocalSystem.
    static constexpr wchar_t kSystemLocalAppData[] = L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local";

private:
    static std::wstring Key(const std::wstring& path);
    void AddLocked(const std::wstring& path, bool folder);

    FaultPlan& faults_;
    HandleTable& handles_;
    SimSessions& sessions_;
    mutable std::mutex lock_;
    std::set<std::wstring> folders_;  // upper-case, no trailing separator
    std::set<std::wstring> files_;
};

}  // namespace sim
