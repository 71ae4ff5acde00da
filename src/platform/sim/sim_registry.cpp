#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <functional>
#include <stdexcept>

namespace sim {

namespace {

std::wstring Fold(std::wstring_view s) {
    std::wstring out(s);
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

// Names compared as the registry compares them, without building folded copies: lookups
// run on every query.
bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towupper(static_cast<wint_t>(a[i])) != std::towupper(static_cast<wint_t>(b[i]))) return false;
    return true;
}

constexpr win::DWORD kWriteRights = win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY;

std::vector<std::wstring_view> SplitPath(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

struct SimRegistry::Key {
    std::wstring name;
    std::weak_ptr<Key> parent;  // none for a root and for a hive file's top key
    std::map<std::wstring, std::shared_ptr<Key>> children;  // by folded name: Windows' order
    std::vector<RegValue> values;                           // creation order
    bool deleted = false;
    bool denyWrite = false;
    bool mountedHive = false;  // the root of a hive file that is mounted somewhere

    RegValue* FindValue(std::wstring_view n) {
        for (auto& v : values)
            if (SameName(v.name, n)) return &v;
        return nullptr;
    }
    void MarkDeleted() {
        deleted = true;
        for (auto& [n, c] : children) c->MarkDeleted();
    }
};

SimRegistry::SimRegistry(FaultPlan& faults, HandleTable& handles, SimSync* sync)
    : faults_(faults), handles_(handles), sync_(sync) {
    for (win::HKEY root : {win::HKEY_CLASSES_ROOT, win::HKEY_CURRENT_USER, win::HKEY_LOCAL_MACHINE, win::HKEY_USERS}) {
        auto key = std::make_shared<Key>();
        roots_[static_cast<std::uint64_t>(root)] = key;
    }
}

SimRegistry::~SimRegistry() = default;

std::shared_ptr<SimRegistry::Key> SimRegistry::Root(win::HKEY root) const {
    auto it = roots_.find(static_cast<std::uint64_t>(root));
    return it == roots_.end() ? nullptr : it->second;
}

std::shared_ptr<SimRegistry::Key> SimRegistry::Resolve(win::HKEY key, win::DWORD* access) const {
    if (auto root = Root(key)) {
        *access = win::KEY_ALL_ACCESS;
        return root;
    }
    auto it = open_.find(static_cast<std::uint64_t>(key));
    if (it == open_.end()) return nullptr;
    *access = it->second.access;
    return it->second.key;
}

std::shared_ptr<SimRegistry::Key> SimRegistry::Walk(std::shared_ptr<Key> from, std::wstring_view path, bool create,
                                                    bool* created) {
    if (created) *created = false;
    for (auto part : SplitPath(path)) {
        std::wstring folded = Fold(part);
        auto it = from->children.find(folded);
        if (it == from->children.end()) {
            if (!create) return nullptr;
            auto child = std::make_shared<Key>();
            child->name = std::wstring(part);
            child->parent = from;
            child->denyWrite = false;
            from->children[folded] = child;
            Changed(from, win::REG_NOTIFY_CHANGE_NAME);
            if (created) *created = true;
            from = child;
        } else {
            from = it->second;
        }
    }
    return from;
}

namespace {
struct RootName {
    const wchar_t* name;
    win::HKEY key;
};
constexpr RootName kRoots[] = {{L"HKEY_LOCAL_MACHINE", win::HKEY_LOCAL_MACHINE}, {L"HKLM", win::HKEY_LOCAL_MACHINE},
                               {L"HKEY_USERS", win::HKEY_USERS},                 {L"HKU", win::HKEY_USERS},
                               {L"HKEY_CURRENT_USER", win::HKEY_CURRENT_USER},   {L"HKCU", win::HKEY_CURRENT_USER},
                               {L"HKEY_CLASSES_ROOT", win::HKEY_CLASSES_ROOT},   {L"HKCR", win::HKEY_CLASSES_ROOT}};

bool SplitRoot(std::wstring_view fullPath, win::HKEY* root, std::wstring_view* rest) {
    std::size_t slash = fullPath.find(L'\\');
    std::wstring head = Fold(fullPath.substr(0, slash));
    for (const auto& r : kRoots) {
        if (head == r.name) {
            *root = r.key;
            *rest = slash == std::wstring_view::npos ? std::wstring_view{} : fullPath.substr(slash + 1);
            return true;
        }
    }
    return false;
}
}  // namespace

std::shared_ptr<SimRegistry::Key> SimRegistry::WalkPath(std::wstring_view fullPath, bool create) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::HKEY root;
    std::wstring_view rest;
    if (!SplitRoot(fullPath, &root, &rest)) throw std::invalid_argument("registry path without a root key");
    return Walk(Root(root), rest, create, nullptr);
}

std::shared_ptr<SimRegistry::Key> SimRegistry::FindPath(std::wstring_view fullPath) const {
    return const_cast<SimRegistry*>(this)->WalkPath(fullPath, false);
}

win::HKEY SimRegistry::NewHandle(std::shared_ptr<Key> key, win::DWORD access) {
    std::uint64_t h = handles_.Open("HKEY");
    open_[h] = Open{std::move(key), access};
    return static_cast<win::HKEY>(h);
}

win::LSTATUS SimRegistry::RegOpenKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD, win::DWORD sam,
                                        win::HKEY* out) {
    if (auto e = faults_.Check("RegOpenKeyExW")) return static_cast<win::LSTATUS>(e);
    if (out == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto base = Resolve(root, &access);
    if (!base) return win::ERROR_INVALID_HANDLE;
    if (base->deleted) return win::ERROR_KEY_DELETED;
    auto key = Walk(base, subKey ? subKey : L"", false, nullptr);
    if (!key) return win::ERROR_FILE_NOT_FOUND;
    if (key->denyWrite && (sam & kWriteRights)) return win::ERROR_ACCESS_DENIED;
    *out = NewHandle(key, sam);
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegCreateKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD, win::DWORD sam,
                                          win::HKEY* out, win::DWORD* disposition) {
    if (auto e = faults_.Check("RegCreateKeyExW")) return static_cast<win::LSTATUS>(e);
    if (out == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto base = Resolve(root, &access);
    if (!base) return win::ERROR_INVALID_HANDLE;
    if (base->deleted) return win::ERROR_KEY_DELETED;
    // Windows limits every key name to 255 characters.
    for (auto part : SplitPath(subKey ? subKey : L""))
        if (part.size() > 255) return win::ERROR_INVALID_PARAMETER;
    auto existing = Walk(base, subKey ? subKey : L"", false, nullptr);
    if (!existing) {
        if (!(access & win::KEY_CREATE_SUB_KEY)) return win::ERROR_ACCESS_DENIED;
        // A refused ancestor refuses the creation of anything below it.
        auto probe = base;
        for (auto part : SplitPath(subKey ? subKey : L"")) {
            if (probe->denyWrite) return win::ERROR_ACCESS_DENIED;
            auto it = probe->children.find(Fold(part));
            if (it == probe->children.end()) break;
            probe = it->second;
        }
        if (probe->denyWrite) return win::ERROR_ACCESS_DENIED;
    } else if (existing->denyWrite && (sam & kWriteRights)) {
        return win::ERROR_ACCESS_DENIED;
    }
    bool created = false;
    auto key = Walk(base, subKey ? subKey : L"", true, &created);
    *out = NewHandle(key, sam);
    if (disposition) *disposition = created ? win::REG_CREATED_NEW_KEY : win::REG_OPENED_EXISTING_KEY;
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegCloseKey(win::HKEY key) {
    if (auto e = faults_.Check("RegCloseKey")) return static_cast<win::LSTATUS>(e);
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (Root(key)) return win::ERROR_SUCCESS;
    auto it = open_.find(static_cast<std::uint64_t>(key));
    if (it == open_.end()) return win::ERROR_INVALID_HANDLE;
    open_.erase(it);
    handles_.Close(static_cast<std::uint64_t>(key), "HKEY");
    EndRegistrations(static_cast<std::uint64_t>(key));
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegQueryValueExW(win::HKEY hkey, const wchar_t* name, win::DWORD* type, win::BYTE* data,
                                           win::DWORD* cbData) {
    if (auto e = faults_.Check("RegQueryValueExW")) return static_cast<win::LSTATUS>(e);
    if (data != nullptr && cbData == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
    RegValue* v = key->FindValue(name ? name : L"");
    if (!v) return win::ERROR_FILE_NOT_FOUND;
    win::DWORD size = static_cast<win::DWORD>(v->data.size());
    if (type) *type = v->type;
    if (data != nullptr && *cbData < size) {
        *cbData = size;
        return win::ERROR_MORE_DATA;
    }
    if (data != nullptr && size) std::memcpy(data, v->data.data(), size);
    if (cbData) *cbData = size;
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegSetValueExW(win::HKEY hkey, const wchar_t* name, win::DWORD type, const win::BYTE* data,
                                         win::DWORD cbData) {
    if (auto e = faults_.Check("RegSetValueExW")) return static_cast<win::LSTATUS>(e);
    if (data == nullptr && cbData != 0) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_SET_VALUE)) return win::ERROR_ACCESS_DENIED;
    if (Store(key, name ? name : L"", type, std::vector<win::BYTE>(data, data + cbData)))
        Changed(key, win::REG_NOTIFY_CHANGE_LAST_SET);
    return win::ERROR_SUCCESS;
}

bool SimRegistry::Store(const std::shared_ptr<Key>& key, std::wstring_view name, win::DWORD type,
                        std::vector<win::BYTE> data) {
    if (writeHook_) writeHook_(PlaceOf(*key) + L":" + Fold(name), RegValue{std::wstring(name), type, data});
    if (RegValue* v = key->FindValue(name)) {
        if (v->type == type && v->data == data) return false;
        v->type = type;
        v->data = std::move(data);
    } else {
        key->values.push_back(RegValue{std::wstring(name), type, std::move(data)});
    }
    return true;
}

void SimRegistry::Changed(const std::shared_ptr<Key>& key, win::DWORD filter) {
    std::function<bool(const Key&)> below = [&](const Key& from) {
        for (const auto& [f, child] : from.children)
            if (child == key || below(*child)) return true;
        return false;
    };
    std::erase_if(registrations_, [&](const Registration& r) {
        if (!(r.filter & filter)) return false;
        if (r.key != key && !(r.subtree && below(*r.key))) return false;
        sync_->Signal(r.event);
        return true;
    });
}

void SimRegistry::EndRegistrations(std::uint64_t handle) {
    std::erase_if(registrations_, [&](const Registration& r) {
        if (r.handle != handle && !r.key->deleted) return false;
        sync_->Signal(r.event);
        return true;
    });
}

win::LSTATUS SimRegistry::RegNotifyChangeKeyValue(win::HKEY hkey, bool watchSubtree, win::DWORD filter,
                                                  win::HANDLE event, bool asynchronous) {
    if (auto e = faults_.Check("RegNotifyChangeKeyValue")) return static_cast<win::LSTATUS>(e);
    if (!asynchronous) throw std::logic_error("sim: synchronous registry notification would block the caller");
    if (sync_ == nullptr) return win::ERROR_NOT_SUPPORTED;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_NOTIFY)) return win::ERROR_ACCESS_DENIED;
    if (filter == 0 || (filter & ~0xFu)) return win::ERROR_INVALID_PARAMETER;
    SimSync::Ref ref = sync_->Reference(event, "Event");
    if (!ref) return win::ERROR_INVALID_HANDLE;
    registrations_.push_back(Registration{static_cast<std::uint64_t>(hkey), key, watchSubtree, filter, ref});
    return win::ERROR_SUCCESS;
}

int SimRegistry::PendingNotifications() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return static_cast<int>(registrations_.size());
}

win::LSTATUS SimRegistry::RegEnumKeyExW(win::HKEY hkey, win::DWORD index, wchar_t* name, win::DWORD* cchName) {
    if (auto e = faults_.Check("RegEnumKeyExW")) return static_cast<win::LSTATUS>(e);
    if (name == nullptr || cchName == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_ENUMERATE_SUB_KEYS)) return win::ERROR_ACCESS_DENIED;
    if (index >= key->children.size()) return win::ERROR_NO_MORE_ITEMS;
    auto it = key->children.begin();
    std::advance(it, index);
    const std::wstring& n = it->second->name;
    if (*cchName < n.size() + 1) return win::ERROR_MORE_DATA;
    std::copy(n.begin(), n.end(), name);
    name[n.size()] = L'\0';
    *cchName = static_cast<win::DWORD>(n.size());
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegEnumValueW(win::HKEY hkey, win::DWORD index, wchar_t* name, win::DWORD* cchName,
                                        win::DWORD* type, win::BYTE* data, win::DWORD* cbData) {
    if (auto e = faults_.Check("RegEnumValueW")) return static_cast<win::LSTATUS>(e);
    if (name == nullptr || cchName == nullptr || (data != nullptr && cbData == nullptr))
        return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
    if (index >= key->values.size()) return win::ERROR_NO_MORE_ITEMS;
    const RegValue& v = key->values[index];
    if (*cchName < v.name.size() + 1) return win::ERROR_MORE_DATA;
    win::DWORD size = static_cast<win::DWORD>(v.data.size());
    if (data != nullptr && *cbData < size) {
        *cbData = size;
        return win::ERROR_MORE_DATA;
    }
    std::copy(v.name.begin(), v.name.end(), name);
    name[v.name.size()] = L'\0';
    *cchName = static_cast<win::DWORD>(v.name.size());
    if (type) *type = v.type;
    if (data != nullptr && size) std::memcpy(data, v.data.data(), size);
    if (cbData) *cbData = size;
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegQueryInfoKeyW(win::HKEY hkey, win::DWORD* subKeys, win::DWORD* maxSubKeyLen,
                                           win::DWORD* values, win::DWORD* maxValueNameLen, win::DWORD* maxValueLen) {
    if (auto e = faults_.Check("RegQueryInfoKeyW")) return static_cast<win::LSTATUS>(e);
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_QUERY_VALUE)) return win::ERROR_ACCESS_DENIED;
    win::DWORD maxSub = 0, maxName = 0, maxData = 0;
    for (const auto& [f, c] : key->children) maxSub = std::max<win::DWORD>(maxSub, static_cast<win::DWORD>(c->name.size()));
    for (const auto& v : key->values) {
        maxName = std::max<win::DWORD>(maxName, static_cast<win::DWORD>(v.name.size()));
        maxData = std::max<win::DWORD>(maxData, static_cast<win::DWORD>(v.data.size()));
    }
    if (subKeys) *subKeys = static_cast<win::DWORD>(key->children.size());
    if (maxSubKeyLen) *maxSubKeyLen = maxSub;
    if (values) *values = static_cast<win::DWORD>(key->values.size());
    if (maxValueNameLen) *maxValueNameLen = maxName;
    if (maxValueLen) *maxValueLen = maxData;
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegDeleteValueW(win::HKEY hkey, const wchar_t* name) {
    if (auto e = faults_.Check("RegDeleteValueW")) return static_cast<win::LSTATUS>(e);
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto key = Resolve(hkey, &access);
    if (!key) return win::ERROR_INVALID_HANDLE;
    if (key->deleted) return win::ERROR_KEY_DELETED;
    if (!(access & win::KEY_SET_VALUE)) return win::ERROR_ACCESS_DENIED;
    const std::wstring_view n = name ? name : L"";
    auto it = std::find_if(key->values.begin(), key->values.end(), [&](const RegValue& v) { return SameName(v.name, n); });
    if (it == key->values.end()) return win::ERROR_FILE_NOT_FOUND;
    if (writeHook_) writeHook_(PlaceOf(*key) + L":" + Fold(n), std::nullopt);
    key->values.erase(it);
    Changed(key, win::REG_NOTIFY_CHANGE_LAST_SET);
    return win::ERROR_SUCCESS;
}

win::LSTATUS SimRegistry::RegDeleteTreeW(win::HKEY hkey, const wchar_t* subKey) {
    if (auto e = faults_.Check("RegDeleteTreeW")) return static_cast<win::LSTATUS>(e);
    std::lock_guard<std::recursive_mutex> lock(lock_);
    win::DWORD access;
    auto base = Resolve(hkey, &access);
    if (!base) return win::ERROR_INVALID_HANDLE;
    if (base->deleted) return win::ERROR_KEY_DELETED;
    if (subKey == nullptr || *subKey == 0) {
        Dropped(*base);
        for (auto& [f, c] : base->children) c->MarkDeleted();
        const bool hadChildren = !base->children.empty(), hadValues = !base->values.empty();
        base->children.clear();
        base->values.clear();
        EndRegistrations(0);
        if (hadChildren) Changed(base, win::REG_NOTIFY_CHANGE_NAME);
        if (hadValues) Changed(base, win::REG_NOTIFY_CHANGE_LAST_SET);
        return win::ERROR_SUCCESS;
    }
    auto parts = SplitPath(subKey);
    auto parent = base;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = parent->children.find(Fold(parts[i]));
        if (it == parent->children.end()) return win::ERROR_FILE_NOT_FOUND;
        parent = it->second;
    }
    if (parts.empty()) return win::ERROR_FILE_NOT_FOUND;
    auto it = parent->children.find(Fold(parts.back()));
    if (it == parent->children.end()) return win::ERROR_FILE_NOT_FOUND;
    Dropped(*it->second);
    it->second->MarkDeleted();
    parent->children.erase(it);
    EndRegistrations(0);
    Changed(parent, win::REG_NOTIFY_CHANGE_NAME);
    return win::ERROR_SUCCESS;
}

// ---- test-side set-up and inspection ----

void SimRegistry::SetRaw(std::wstring_view keyPath, std::wstring_view name, win::DWORD type, std::vector<win::BYTE> data) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto key = WalkPath(keyPath, true);
    if (Store(key, name, type, std::move(data))) Changed(key, win::REG_NOTIFY_CHANGE_LAST_SET);
}

void SimRegistry::SetDword(std::wstring_view keyPath, std::wstring_view name, win::DWORD value) {
    std::vector<win::BYTE> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    SetRaw(keyPath, name, win::REG_DWORD, std::move(bytes));
}

void SimRegistry::SetString(std::wstring_view keyPath, std::wstring_view name, std::wstring_view value,
                            win::DWORD type) {
    std::wstring text(value);
    const auto* p = reinterpret_cast<const win::BYTE*>(text.c_str());
    SetRaw(keyPath, name, type, std::vector<win::BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t)));
}

bool SimRegistry::KeyExists(std::wstring_view keyPath) const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return FindPath(keyPath) != nullptr;
}

void SimRegistry::DeleteKey(std::wstring_view keyPath) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    std::size_t slash = keyPath.rfind(L'\\');
    if (slash == std::wstring_view::npos) return;
    auto parent = WalkPath(keyPath.substr(0, slash), false);
    if (!parent) return;
    auto it = parent->children.find(Fold(keyPath.substr(slash + 1)));
    if (it == parent->children.end()) return;
    Dropped(*it->second);
    it->second->MarkDeleted();
    parent->children.erase(it);
    EndRegistrations(0);
    Changed(parent, win::REG_NOTIFY_CHANGE_NAME);
}

std::optional<RegValue> SimRegistry::Value(std::wstring_view keyPath, std::wstring_view name) const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto key = FindPath(keyPath);
    if (!key) return std::nullopt;
    if (RegValue* v = key->FindValue(name)) return *v;
    return std::nullopt;
}

std::optional<win::DWORD> SimRegistry::Dword(std::wstring_view keyPath, std::wstring_view name) const {
    auto v = Value(keyPath, name);
    if (!v || v->type != win::REG_DWORD || v->data.size() != 4) return std::nullopt;
    win::DWORD d;
    std::memcpy(&d, v->data.data(), 4);
    return d;
}

std::vector<std::wstring> SimRegistry::SubKeys(std::wstring_view keyPath) const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    std::vector<std::wstring> out;
    if (auto key = FindPath(keyPath))
        for (const auto& [f, c] : key->children) out.push_back(c->name);
    return out;
}

void SimRegistry::DenyWrite(std::wstring_view keyPath) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    WalkPath(keyPath, true)->denyWrite = true;
}

void SimRegistry::Import(std::wstring_view regText, std::string_view fileName) {
    Apply(tavo::ParseRegText(regText, fileName));
}

void SimRegistry::Apply(const std::vector<tavo::RegOperation>& operations) {
    using Kind = tavo::RegOperation::Kind;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (const auto& op : operations) {
        switch (op.kind) {
            case Kind::CreateKey: WalkPath(op.key, true); break;
            case Kind::DeleteKey: DeleteKey(op.key); break;
            case Kind::SetValue:
                if (op.quoted)
                    SetString(op.key, op.name, op.text);
                else
                    SetRaw(op.key, op.name, op.type, op.data);
                break;
            case Kind::DeleteValue: {
                auto key = WalkPath(op.key, true);
                std::wstring f = Fold(op.name);
                if (writeHook_ && key->FindValue(op.name)) writeHook_(PlaceOf(*key) + L":" + f, std::nullopt);
                if (std::erase_if(key->values, [&](const RegValue& v) { return Fold(v.name) == f; }))
                    Changed(key, win::REG_NOTIFY_CHANGE_LAST_SET);
                break;
            }
        }
    }
}

// ---- comparing runs -----------------------------------------------------------------------

std::wstring SimRegistry::PlaceOf(const Key& key) const {
    std::vector<std::shared_ptr<const Key>> owners;  // keeps the chain alive while it is read
    std::vector<const Key*> chain{&key};
    for (auto up = key.parent.lock(); up; up = up->parent.lock()) {
        owners.push_back(up);
        chain.push_back(up.get());
    }
    const Key* top = chain.back();
    // Hive files first: while one is imported it stands in for HKEY_CURRENT_USER.
    std::wstring place;
    for (const auto& [file, hive] : hives_)
        if (hive.get() == top) place = L"HIVE:" + file;
    if (place.empty())
        for (const auto& [h, root] : roots_)
            if (root.get() == top)
                for (const auto& r : kRoots)
                    if (static_cast<std::uint64_t>(r.key) == h) {
                        place = r.name;
                        break;
                    }
    if (place.empty()) return {};
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) place += L"\\" + Fold((*it)->name);
    return place;
}

void SimRegistry::Dropped(const Key& key) {
    if (!writeHook_) return;
    const std::wstring place = PlaceOf(key);
    for (const auto& v : key.values) writeHook_(place + L":" + Fold(v.name), std::nullopt);
    for (const auto& [f, c] : key.children)
        if (!c->mountedHive) Dropped(*c);
}

std::map<std::wstring, RegValue> SimRegistry::Snapshot() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    std::map<std::wstring, RegValue> out;
    std::function<void(const Key&, const std::wstring&)> walk = [&](const Key& key, const std::wstring& place) {
        for (const auto& v : key.values) out[place + L":" + Fold(v.name)] = v;
        for (const auto& [f, c] : key.children)
            if (!c->mountedHive) walk(*c, place + L"\\" + f);
    };
    for (const auto& [h, root] : roots_) walk(*root, PlaceOf(*root));
    for (const auto& [file, hive] : hives_) walk(*hive, L"HIVE:" + file);
    return out;
}

void SimRegistry::SetWriteHook(WriteHook hook) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    writeHook_ = std::move(hook);
}

// ---- hives ------------------------------------------------------------------------------

void SimRegistry::ImportHive(std::wstring_view file, std::wstring_view regText) {
    ImportHive(file, tavo::ParseRegText(regText, "(.reg text of a user hive)"));
}

void SimRegistry::ImportHive(std::wstring_view file, const std::vector<tavo::RegOperation>& operations) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto& hive = hives_[Fold(file)];
    if (!hive) hive = std::make_shared<Key>();
    // The import addresses HKEY_CURRENT_USER; point that root at the hive meanwhile.
    const auto hkcu = static_cast<std::uint64_t>(win::HKEY_CURRENT_USER);
    struct Restore {
        std::map<std::uint64_t, std::shared_ptr<Key>>& roots;
        std::uint64_t slot;
        std::shared_ptr<Key> saved;
        ~Restore() { roots[slot] = saved; }
    } restore{roots_, hkcu, roots_[hkcu]};
    roots_[hkcu] = hive;
    Apply(operations);
}

bool SimRegistry::LoadHive(std::wstring_view keyPath, std::wstring_view file) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const std::size_t slash = keyPath.rfind(L'\\');
    if (slash == std::wstring_view::npos) return false;
    auto parent = FindPath(keyPath.substr(0, slash));
    const std::wstring_view name = keyPath.substr(slash + 1);
    if (!parent || name.empty() || parent->children.contains(Fold(name))) return false;
    auto& hive = hives_[Fold(file)];
    if (!hive) hive = std::make_shared<Key>();
    if (hive->mountedHive) return false;
    hive->name = std::wstring(name);
    hive->mountedHive = true;
    parent->children[Fold(name)] = hive;
    return true;
}

bool SimRegistry::UnloadHive(std::wstring_view keyPath) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const std::size_t slash = keyPath.rfind(L'\\');
    if (slash == std::wstring_view::npos) return false;
    auto parent = FindPath(keyPath.substr(0, slash));
    if (!parent) return false;
    auto it = parent->children.find(Fold(keyPath.substr(slash + 1)));
    if (it == parent->children.end() || !it->second->mountedHive) return false;
    it->second->mountedHive = false;
    parent->children.erase(it);
    return true;
}

win::HKEY SimRegistry::OpenHiveRoot(std::wstring_view keyPath) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto key = FindPath(keyPath);
    if (!key || !key->mountedHive) return win::HKEY{};
    return NewHandle(key, win::KEY_ALL_ACCESS);
}

bool SimRegistry::CloseHiveRoot(win::HKEY key) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!open_.erase(static_cast<std::uint64_t>(key))) return false;
    handles_.Close(static_cast<std::uint64_t>(key), "HKEY");
    EndRegistrations(static_cast<std::uint64_t>(key));
    return true;
}

}  // namespace sim
