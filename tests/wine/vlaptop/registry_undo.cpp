#include "registry_undo.h"

#include <algorithm>
#include <cwchar>

namespace vlaptop {
namespace {

enum Kind : DWORD { kCreatedKey = 1, kValue = 2, kDeletedKey = 3 };

struct Root {
    const wchar_t* name;
    HKEY key;
};
const Root kRoots[] = {{L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                           {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                           {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                           {L"HKEY_USERS", HKEY_USERS}};

const wchar_t* RootName(HKEY root) {
    for (const auto& r : kRoots)
        if (r.key == root) return r.name;
    return L"";
}

HKEY RootNamed(const std::wstring& name) {
    for (const auto& r : kRoots)
        if (name == r.name) return r.key;
    throw WinError("the registry root " + Narrow(name), ERROR_INVALID_PARAMETER);
}

void Check(LSTATUS status, const std::string& what) {
    if (status != ERROR_SUCCESS) throw WinError(what, static_cast<DWORD>(status));
}

bool KeyExists(HKEY root, const std::wstring& path) {
    Key key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD size = sizeof text - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return text;
}

DWORD ReadDword(HKEY key, const wchar_t* name) {
    DWORD value = 0, size = sizeof value, type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

// A value's type and bytes; false when it does not exist.
bool ReadRaw(HKEY key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
    data->assign(size, 0);
    if (::RegQueryValueExW(key, name, nullptr, type, data->data(), &size) != ERROR_SUCCESS) return false;
    data->resize(size);
    return true;
}

void WriteString(HKEY key, const wchar_t* name, const std::wstring& text) {
    Check(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
          "writing the undo log");
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    Check(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
          "writing the undo log");
}

}  // namespace

HKEY RootOf(const std::wstring& fullPath, std::wstring* subPath) {
    const std::wstring canonical = tavo::RegRootName(fullPath);
    if (canonical.empty()) throw WinError("the registry root of " + Narrow(fullPath), ERROR_INVALID_PARAMETER);
    const std::size_t slash = fullPath.find(L'\\');
    *subPath = slash == std::wstring::npos ? std::wstring() : fullPath.substr(slash + 1);
    return RootNamed(canonical);
}

RegistryUndo::RegistryUndo(HKEY log) : log_(log) {}

Key RegistryUndo::NewEntry(DWORD kind, HKEY root, const std::wstring& path) {
    DWORD count = 0;
    Check(::RegQueryInfoKeyW(log_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
          "reading the undo log");
    wchar_t name[16];
    std::swprintf(name, 16, L"%06lu", static_cast<unsigned long>(count));
    Key entry;
    Check(::RegCreateKeyExW(log_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, entry.put(), nullptr),
          "writing the undo log");
    WriteDword(entry.get(), L"Kind", kind);
    WriteString(entry.get(), L"Root", RootName(root));
    WriteString(entry.get(), L"Path", path);
    return entry;
}

// The first missing level of the path is what creating it makes, and what undo deletes.
void RegistryUndo::NoteCreatedKey(HKEY root, const std::wstring& path) {
    std::size_t end = 0;
    while (end != std::wstring::npos) {
        end = path.find(L'\\', end + 1);
        const std::wstring prefix = path.substr(0, end);
        if (!KeyExists(root, prefix)) {
            NewEntry(kCreatedKey, root, prefix);
            return;
        }
    }
}

void RegistryUndo::NoteValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    Key key;
    const bool existed = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS &&
                         ReadRaw(key.get(), name.c_str(), &type, &data);
    Key entry = NewEntry(kValue, root, path);
    WriteString(entry.get(), L"Name", name);
    WriteDword(entry.get(), L"Existed", existed ? 1 : 0);
    if (existed) {
        WriteDword(entry.get(), L"Type", type);
        Check(::RegSetValueExW(entry.get(), L"Data", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
              "writing the undo log");
    }
}

void RegistryUndo::SetValue(const std::wstring& fullKey, const std::wstring& name, DWORD type,
                            const std::vector<std::uint8_t>& data) {
    std::wstring path;
    const HKEY root = RootOf(fullKey, &path);
    NoteCreatedKey(root, path);
    NoteValue(root, path, name);
    Key key;
    Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
          "creating " + Narrow(fullKey));
    Check(::RegSetValueExW(key.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
          "setting " + Narrow(fullKey) + " \"" + Narrow(name) + "\"");
}

void RegistryUndo::Apply(const tavo::RegOperation& op) {
    using K = tavo::RegOperation::Kind;
    std::wstring path;
    const HKEY root = RootOf(op.key, &path);
    switch (op.kind) {
    case K::CreateKey: {
        NoteCreatedKey(root, path);
        Key key;
        Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr),
              "creating " + Narrow(op.key));
        break;
    }
    case K::SetValue: {
        std::vector<std::uint8_t> data = op.data;
        if (op.type == REG_SZ && data.empty()) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(op.text.c_str());
            data.assign(bytes, bytes + (op.text.size() + 1) * sizeof(wchar_t));
        }
        SetValue(op.key, op.name, op.type, data);
        break;
    }
    case K::DeleteValue: {
        Key key;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | KEY_READ, key.put()) != ERROR_SUCCESS) break;
        NoteValue(root, path, op.name);
        const LSTATUS s = ::RegDeleteValueW(key.get(), op.name.c_str());
        if (s != ERROR_FILE_NOT_FOUND) Check(s, "deleting " + Narrow(op.key) + " \"" + Narrow(op.name) + "\"");
        break;
    }
    case K::DeleteKey: {
        Key key;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) break;
        Key entry = NewEntry(kDeletedKey, root, path);
        Key tree;
        Check(::RegCreateKeyExW(entry.get(), L"Tree", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, tree.put(), nullptr),
              "writing the undo log");
        Check(::RegCopyTreeW(key.get(), nullptr, tree.get()), "saving " + Narrow(op.key));
        key = Key();
        Check(::RegDeleteTreeW(root, path.c_str()), "deleting " + Narrow(op.key));
        break;
    }
    }
}

std::vector<std::wstring> SubKeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        if (::RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return names;
}

void RegistryUndo::Undo(HKEY log) {
    std::vector<std::wstring> entries = SubKeyNames(log);
    std::sort(entries.rbegin(), entries.rend());
    for (const auto& name : entries) {
        Key entry;
        if (::RegOpenKeyExW(log, name.c_str(), 0, KEY_READ, entry.put()) != ERROR_SUCCESS) continue;
        const HKEY root = RootNamed(ReadString(entry.get(), L"Root"));
        const std::wstring path = ReadString(entry.get(), L"Path");
        switch (ReadDword(entry.get(), L"Kind")) {
        case kCreatedKey: {
            const LSTATUS s = ::RegDeleteTreeW(root, path.c_str());
            if (s != ERROR_FILE_NOT_FOUND) Check(s, "deleting " + Narrow(path));
            break;
        }
        case kValue: {
            const std::wstring value = ReadString(entry.get(), L"Name");
            Key key;
            if (ReadDword(entry.get(), L"Existed")) {
                DWORD ignored;
                std::vector<BYTE> data;
                ReadRaw(entry.get(), L"Data", &ignored, &data);
                Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
                      "restoring " + Narrow(path));
                Check(::RegSetValueExW(key.get(), value.c_str(), 0, ReadDword(entry.get(), L"Type"), data.data(),
                                       static_cast<DWORD>(data.size())),
                      "restoring " + Narrow(path) + " \"" + Narrow(value) + "\"");
            } else if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
                const LSTATUS s = ::RegDeleteValueW(key.get(), value.c_str());
                if (s != ERROR_FILE_NOT_FOUND) Check(s, "deleting " + Narrow(path) + " \"" + Narrow(value) + "\"");
            }
            break;
        }
        case kDeletedKey: {
            Key tree, key;
            Check(::RegOpenKeyExW(entry.get(), L"Tree", 0, KEY_READ, tree.put()), "reading the undo log");
            Check(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  "restoring " + Narrow(path));
            Check(::RegCopyTreeW(tree.get(), nullptr, key.get()), "restoring " + Narrow(path));
            break;
        }
        }
        entry = Key();
        ::RegDeleteTreeW(log, name.c_str());
    }
}

}  // namespace vlaptop
