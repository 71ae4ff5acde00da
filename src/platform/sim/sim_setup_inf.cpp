#include "platform/sim/sim_setup_inf.h"

#include <algorithm>
#include <cwctype>

namespace sim {
namespace {

std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return s;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// A field as written: its characters, and which of them came from inside quotes (those
// survive trimming).
struct RawField {
    std::wstring text;
    std::vector<bool> quoted;
    std::wstring Trimmed() const {
        std::size_t b = 0, e = text.size();
        while (b < e && !quoted[b] && IsBlank(text[b])) ++b;
        while (e > b && !quoted[e - 1] && IsBlank(text[e - 1])) --e;
        return text.substr(b, e - b);
    }
};

InfText::Line ParseLine(const std::wstring& line) {
    InfText::Line out;
    std::vector<RawField> fields(1);
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const wchar_t c = line[i];
        if (inQuotes) {
            if (c == L'"') {
                if (i + 1 < line.size() && line[i + 1] == L'"') {  // "" is a literal quote
                    fields.back().text += L'"';
                    fields.back().quoted.push_back(true);
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                fields.back().text += c;
                fields.back().quoted.push_back(true);
            }
        } else if (c == L'"') {
            inQuotes = true;
        } else if (c == L';') {
            break;
        } else if (c == L'=' && !out.hasKey && fields.size() == 1) {
            out.hasKey = true;
            out.key = fields.back().Trimmed();
            fields.back() = RawField{};
        } else if (c == L',') {
            fields.emplace_back();
        } else {
            fields.back().text += c;
            fields.back().quoted.push_back(false);
        }
    }
    for (const auto& f : fields) out.fields.push_back(f.Trimmed());
    return out;
}

// Whether a name matches a file-search pattern ('*' any run, '?' one character), without
// regard to case.
bool Matches(const std::wstring& name, const std::wstring& pattern) {
    std::size_t n = 0, p = 0, star = std::wstring::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = n;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

std::wstring Folder(const std::wstring& path) {
    auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash);
}

std::wstring BareName(const std::wstring& path) {
    auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool InfText::Parse(const std::wstring& text, InfText* out, win::DWORD* error) {
    InfText inf;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::size_t b = 0;
        while (b < line.size() && IsBlank(line[b])) ++b;
        if (b == line.size() || line[b] == L';') continue;
        if (line[b] == L'[') {
            auto close = line.find(L']', b);
            std::wstring name = line.substr(b + 1, close == std::wstring::npos ? std::wstring::npos : close - b - 1);
            inf.sections.push_back({name, {}});
            continue;
        }
        InfText::Line parsed = ParseLine(line.substr(b));
        if (!parsed.hasKey && parsed.fields.size() == 1 && parsed.fields[0].empty()) continue;  // a quoted-free comment
        if (inf.sections.empty()) {
            *error = win::ERROR_EXPECTED_SECTION_NAME;
            return false;
        }
        inf.sections.back().lines.push_back(std::move(parsed));
    }
    *out = std::move(inf);
    return true;
}

std::wstring SimSetupInf::Key(const std::wstring& path) { return Upper(path); }

std::wstring SimSetupInf::FullPath(const std::wstring& path) const {
    if (path.find(L'\\') != std::wstring::npos) return path;
    return windowsDirectory_ + L"\\INF\\" + path;
}

void SimSetupInf::SetWindowsDirectory(std::wstring path) {
    std::lock_guard<std::mutex> lock(lock_);
    windowsDirectory_ = std::move(path);
}

std::wstring SimSetupInf::WindowsDirectory() const {
    std::lock_guard<std::mutex> lock(lock_);
    return windowsDirectory_;
}

void SimSetupInf::AddFile(const std::wstring& path, std::wstring text) {
    std::lock_guard<std::mutex> lock(lock_);
    std::wstring full = FullPath(path);
    files_[Key(full)] = File{full, std::move(text)};
}

bool SimSetupInf::Exists(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(lock_);
    return files_.contains(Key(FullPath(path)));
}

std::vector<std::wstring> SimSetupInf::InfFolder() const {
    std::lock_guard<std::mutex> lock(lock_);
    const std::wstring folder = Key(windowsDirectory_ + L"\\INF");
    std::vector<std::wstring> names;
    for (const auto& [key, file] : files_)
        if (Folder(key) == folder) names.push_back(BareName(file.path));
    return names;
}

void SimSetupInf::SetUninstallLeavesPnf(bool leaves) {
    std::lock_guard<std::mutex> lock(lock_);
    uninstallLeavesPnf_ = leaves;
}

win::DWORD SimSetupInf::SetupOpenInfFileW(const wchar_t* fileName, win::DWORD style, win::HINF* inf) {
    if (auto e = faults_.Check("SetupOpenInfFileW")) return e;
    if (fileName == nullptr || inf == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = files_.find(Key(FullPath(fileName)));
    if (it == files_.end()) return win::ERROR_FILE_NOT_FOUND;
    InfText parsed;
    win::DWORD error = win::ERROR_SUCCESS;
    if (!InfText::Parse(it->second.text, &parsed, &error)) return error;
    if (style & win::INF_STYLE_WIN4) {
        // A Windows 4 INF names itself in [Version] Signature; any other text is refused.
        bool signed_ = false;
        for (const auto& section : parsed.sections) {
            if (Upper(section.name) != L"VERSION") continue;
            for (const auto& line : section.lines) {
                if (!line.hasKey || Upper(line.key) != L"SIGNATURE" || line.fields.empty()) continue;
                const std::wstring sig = Upper(line.fields[0]);
                signed_ = sig == L"$WINDOWS NT$" || sig == L"$CHICAGO$" || sig == L"$WINDOWS 95$";
                break;
            }
            break;
        }
        if (!signed_) return win::ERROR_WRONG_INF_STYLE;
    }
    const std::uint64_t h = handles_.Open("inf");
    open_[h] = std::move(parsed);
    *inf = static_cast<win::HINF>(h);
    return win::ERROR_SUCCESS;
}

void SimSetupInf::SetupCloseInfFile(win::HINF inf) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(inf);
    if (handles_.Close(h, "inf")) open_.erase(h);
}

win::DWORD SimSetupInf::SetupFindFirstLineW(win::HINF inf, const wchar_t* section, const wchar_t* key,
                                            win::INFCONTEXT* context) {
    if (auto e = faults_.Check("SetupFindFirstLineW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(inf));
    if (it == open_.end() || section == nullptr || context == nullptr) return win::ERROR_INVALID_HANDLE;
    const std::wstring wantSection = Upper(section);
    // Sections of one name written twice read as one, in file order.
    for (std::uint32_t s = 0; s < it->second.sections.size(); ++s) {
        const auto& sec = it->second.sections[s];
        if (Upper(sec.name) != wantSection) continue;
        for (std::uint32_t l = 0; l < sec.lines.size(); ++l) {
            const auto& line = sec.lines[l];
            if (key != nullptr && (!line.hasKey || Upper(line.key) != Upper(key))) continue;
            *context = win::INFCONTEXT{it->first, it->first, s, l};
            return win::ERROR_SUCCESS;
        }
    }
    return win::ERROR_LINE_NOT_FOUND;
}

win::DWORD SimSetupInf::SetupGetStringFieldW(const win::INFCONTEXT& context, win::DWORD field, wchar_t* buffer,
                                             win::DWORD size, win::DWORD* required) {
    if (auto e = faults_.Check("SetupGetStringFieldW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(context.inf);
    if (it == open_.end() || context.section >= it->second.sections.size() ||
        context.line >= it->second.sections[context.section].lines.size())
        return win::ERROR_INVALID_HANDLE;
    const auto& line = it->second.sections[context.section].lines[context.line];
    std::wstring value;
    if (field == 0) {
        if (!line.hasKey) return win::ERROR_INVALID_PARAMETER;
        value = line.key;
    } else {
        if (field > line.fields.size()) return win::ERROR_INVALID_PARAMETER;
        value = line.fields[field - 1];
    }
    const auto needed = static_cast<win::DWORD>(value.size() + 1);
    if (required != nullptr) *required = needed;
    if (buffer == nullptr) return win::ERROR_SUCCESS;
    if (size < needed) return win::ERROR_INSUFFICIENT_BUFFER;
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = L'\0';
    return win::ERROR_SUCCESS;
}

win::DWORD SimSetupInf::SetupUninstallOEMInfW(const wchar_t* infFileName, win::DWORD flags) {
    if (auto e = faults_.Check("SetupUninstallOEMInfW")) return e;
    if (infFileName == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    const std::wstring inf = windowsDirectory_ + L"\\INF\\" + infFileName;
    auto it = files_.find(Key(inf));
    if (it == files_.end()) return win::ERROR_FILE_NOT_FOUND;
    // Without the force flag only a package no device uses goes; the model has no devices.
    (void)flags;
    files_.erase(it);
    if (!uninstallLeavesPnf_) {
        std::wstring pnf = Key(inf);
        if (pnf.size() > 4 && pnf.ends_with(L".INF")) files_.erase(pnf.substr(0, pnf.size() - 4) + L".PNF");
    }
    return win::ERROR_SUCCESS;
}

win::DWORD SimSetupInf::GetWindowsDirectoryW(wchar_t* buffer, win::UINT size, win::UINT* length) {
    if (auto e = faults_.Check("GetWindowsDirectoryW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const auto chars = static_cast<win::UINT>(windowsDirectory_.size());
    if (buffer == nullptr || size < chars + 1) {
        *length = chars + 1;
        return win::ERROR_INSUFFICIENT_BUFFER;
    }
    std::copy(windowsDirectory_.begin(), windowsDirectory_.end(), buffer);
    buffer[chars] = L'\0';
    *length = chars;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSetupInf::FindFirstFileW(const wchar_t* pattern, win::HANDLE* find, std::wstring* name) {
    if (auto e = faults_.Check("FindFirstFileW")) return e;
    if (pattern == nullptr) return win::ERROR_PATH_NOT_FOUND;
    std::lock_guard<std::mutex> lock(lock_);
    const std::wstring folder = Key(Folder(pattern));
    const std::wstring want = Key(BareName(pattern));
    const std::wstring windows = Key(windowsDirectory_);
    bool folderExists = folder == windows || folder == windows + L"\\INF";
    Search search;
    for (const auto& [key, file] : files_) {
        if (key.size() > folder.size() && key.starts_with(folder) && key[folder.size()] == L'\\') folderExists = true;
        if (Folder(key) == folder && Matches(BareName(key), want)) search.names.push_back(BareName(file.path));
    }
    if (!folderExists) return win::ERROR_PATH_NOT_FOUND;
    if (search.names.empty()) return win::ERROR_FILE_NOT_FOUND;
    *name = search.names[0];
    search.next = 1;
    const std::uint64_t h = handles_.Open("find");
    searches_[h] = std::move(search);
    *find = static_cast<win::HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimSetupInf::FindNextFileW(win::HANDLE find, std::wstring* name) {
    if (auto e = faults_.Check("FindNextFileW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = searches_.find(static_cast<std::uint64_t>(find));
    if (it == searches_.end()) return win::ERROR_INVALID_HANDLE;
    if (it->second.next >= it->second.names.size()) return win::ERROR_NO_MORE_FILES;
    *name = it->second.names[it->second.next++];
    return win::ERROR_SUCCESS;
}

void SimSetupInf::FindClose(win::HANDLE find) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(find);
    if (handles_.Close(h, "find")) searches_.erase(h);
}

win::DWORD SimSetupInf::DeleteFileW(const wchar_t* path) {
    if (auto e = faults_.Check("DeleteFileW")) return e;
    if (path == nullptr) return win::ERROR_PATH_NOT_FOUND;
    std::lock_guard<std::mutex> lock(lock_);
    return files_.erase(Key(path)) == 1 ? win::ERROR_SUCCESS : win::ERROR_FILE_NOT_FOUND;
}

}  // namespace sim
