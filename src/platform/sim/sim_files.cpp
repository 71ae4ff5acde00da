#include "platform/sim/sim_files.h"

#include <algorithm>
#include <cwctype>

namespace sim {

SimFiles::SimFiles(FaultPlan& faults, HandleTable& handles, SimSessions& sessions, SimSync& sync)
    : faults_(faults), handles_(handles), sessions_(sessions), sync_(sync) {}

namespace {
constexpr char kChangeNotification[] = "ChangeNotification";
std::wstring ParentOf(const std::wstring& key) {
    auto cut = key.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : key.substr(0, cut);
}
}  // namespace

win::DWORD SimFiles::FindFirstChangeNotificationW(const wchar_t* path, bool watchSubtree, win::DWORD filter,
                                                  win::HANDLE* out) {
    if (auto e = faults_.Check("FindFirstChangeNotificationW")) return e;
    if (out == nullptr || filter == 0) return win::ERROR_INVALID_PARAMETER;
    if (path == nullptr || *path == L'\0') return win::ERROR_PATH_NOT_FOUND;
    const std::wstring key = Key(path);
    const bool driveRoot = key.size() == 3 && key[1] == L':' && key[2] == L'\\';
    std::lock_guard<std::mutex> lock(lock_);
    if (!driveRoot && !folders_.contains(key)) {
        if (files_.contains(key)) return win::ERROR_DIRECTORY;
        const std::wstring parent = ParentOf(key);
        const bool parentExists = (parent.size() == 2 && parent[1] == L':') || folders_.contains(parent);
        return parentExists ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
    }
    const win::HANDLE h = sync_.NewWaitable(kChangeNotification, true);
    watches_[static_cast<std::uint64_t>(h)] = Watch{key, watchSubtree, filter, sync_.Reference(h, kChangeNotification)};
    *out = h;
    return win::ERROR_SUCCESS;
}

win::DWORD SimFiles::FindNextChangeNotification(win::HANDLE handle) {
    if (auto e = faults_.Check("FindNextChangeNotification")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = watches_.find(static_cast<std::uint64_t>(handle));
    if (it == watches_.end()) return win::ERROR_INVALID_HANDLE;
    sync_.Reset(handle, kChangeNotification);
    if (it->second.kept) {
        it->second.kept = false;
        sync_.Signal(it->second.object);
    }
    return win::ERROR_SUCCESS;
}

win::DWORD SimFiles::FindCloseChangeNotification(win::HANDLE handle) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!watches_.erase(static_cast<std::uint64_t>(handle))) return win::ERROR_INVALID_HANDLE;
    sync_.CloseWaitable(handle, kChangeNotification);
    return win::ERROR_SUCCESS;
}

int SimFiles::Watches() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(watches_.size());
}

void SimFiles::Notify(const std::vector<std::pair<std::wstring, bool>>& names) {
    for (const auto& [name, folder] : names) {
        const std::wstring parent = ParentOf(name);
        for (auto& [h, w] : watches_) {
            if (!(w.filter & (folder ? win::FILE_NOTIFY_CHANGE_DIR_NAME : win::FILE_NOTIFY_CHANGE_FILE_NAME))) continue;
            if (parent != w.folder && !(w.subtree && parent.starts_with(w.folder + L"\\"))) continue;
            if (sync_.IsSignalled(w.object)) {
                w.kept = true;
            } else {
                sync_.Signal(w.object);
            }
        }
    }
}

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
    Notify(AddLocked(Key(path), true));
}

void SimFiles::AddFile(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(lock_);
    Notify(AddLocked(Key(path), false));
}

std::vector<std::pair<std::wstring, bool>> SimFiles::AddLocked(const std::wstring& key, bool folder) {
    std::vector<std::pair<std::wstring, bool>> added;
    for (auto cut = key.rfind(L'\\'); cut != std::wstring::npos && cut > 2; cut = key.rfind(L'\\', cut - 1))
        if (folders_.insert(key.substr(0, cut)).second) added.emplace_back(key.substr(0, cut), true);
    std::reverse(added.begin(), added.end());  // outermost first, as they would be made
    if ((folder ? folders_ : files_).insert(key).second) added.emplace_back(key, folder);
    return added;
}

void SimFiles::Remove(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring key = Key(path);
    auto below = [&](const std::wstring& k) { return k == key || k.starts_with(key + L"\\"); };
    std::vector<std::pair<std::wstring, bool>> removed;
    for (const auto& f : folders_)
        if (below(f)) removed.emplace_back(f, true);
    for (const auto& f : files_)
        if (below(f)) removed.emplace_back(f, false);
    std::erase_if(folders_, below);
    std::erase_if(files_, below);
    Notify(removed);
}

bool SimFiles::IsFile(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(lock_);
    return files_.contains(Key(path));
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
