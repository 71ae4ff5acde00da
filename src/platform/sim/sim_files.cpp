#include "platform/sim/sim_files.h"

#include <cwctype>

namespace sim {

SimFiles::SimFiles(FaultPlan& faults, HandleTable& handles, SimSessions& sessions)
    : faults_(faults), handles_(handles), sessions_(sessions) {}

win::HRESULT SimFiles::SHGetFolderPathW(int csidl, win::HANDLE token, win::DWORD flags, std::wstring* path) {
    if (auto e = faults_.Check("SHGetFolderPathW")) return win::HRESULT_FROM_WIN32(e);
    if (path == nullptr) return win::E_INVALIDARG;
    if ((csidl & ~win::CSIDL_FLAG_MASK) != win::CSIDL_LOCAL_APPDATA) return win::E_INVALIDARG;
    std::wstring folder;
    if (token == win::HANDLE{}) {
        folder = kSystemLocalAppData;
    } else {
        auto user = sessions_.TokenUser(token);
        if (!user) return win::HRESULT_FROM_WIN32(win::ERROR_INVALID_HANDLE);
        folder = user->localAppData;
    }
    // The shell fills a MAX_PATH buffer; a longer folder cannot be reported.
    if (folder.size() >= win::MAX_PATH) return win::HRESULT_FROM_WIN32(win::ERROR_FILENAME_EXCED_RANGE);
    if (csidl & win::CSIDL_FLAG_CREATE) AddFolder(folder);
    *path = folder;
    return win::S_OK;
}

win::DWORD SimFiles::PathFileExistsW(const wchar_t* path) {
    if (auto e = faults_.Check("PathFileExistsW")) return e;
    if (path == nullptr || *path == L'\0') return win::ERROR_PATH_NOT_FOUND;
    std::wstring p(path);
    // The shell refuses anything that does not fit its MAX_PATH buffers.
    if (p.size() >= win::MAX_PATH) return win::ERROR_FILENAME_EXCED_RANGE;
    std::wstring key = Key(p);
    const bool driveRoot = key.size() == 3 && key[1] == L':' && key[2] == L'\\';
    std::lock_guard<std::mutex> lock(lock_);
    if (driveRoot || folders_.contains(key)) return win::ERROR_SUCCESS;
    // A file named with a trailing separator is not found.
    if (files_.contains(key) && p.back() != L'\\') return win::ERROR_SUCCESS;
    auto cut = key.rfind(L'\\');
    std::wstring parent = cut == std::wstring::npos ? std::wstring() : key.substr(0, cut);
    // A drive root always exists.
    bool parentExists = parent.size() == 2 && parent[1] == L':' ? true : folders_.contains(parent);
    return parentExists ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
}

void SimFiles::AddFolder(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(lock_);
    AddLocked(Key(path), true);
}

void SimFiles::AddFile(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(lock_);
    AddLocked(Key(path), false);
}

void SimFiles::AddLocked(const std::wstring& key, bool folder) {
    (folder ? folders_ : files_).insert(key);
    for (auto cut = key.rfind(L'\\'); cut != std::wstring::npos && cut > 2; cut = key.rfind(L'\\', cut - 1))
        folders_.insert(key.substr(0, cut));
}

void SimFiles::Remove(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring key = Key(path);
    auto below = [&](const std::wstring& k) { return k == key || k.starts_with(key + L"\\"); };
    std::erase_if(folders_, below);
    std::erase_if(files_, below);
}

bool SimFiles::Exists(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring key = Key(path);
    return folders_.contains(key) || files_.contains(key);
}

std::wstring SimFiles::Key(const std::wstring& path) {
    std::wstring k = path;
    while (k.size() > 3 && k.back() == L'\\') k.pop_back();
    for (auto& c : k) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return k;
}

}  // namespace sim
