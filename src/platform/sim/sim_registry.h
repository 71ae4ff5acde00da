// A model of the Windows registry: typed values with their exact bytes, keys created on
// demand, subkeys enumerated in case-insensitive name order and values in creation order,
// access rights checked per handle, keys that vanish under an open handle, and change
// notification: a registration's event is set at the first change its filter names (values
// set or deleted: REG_NOTIFY_CHANGE_LAST_SET; subkeys created or deleted:
// REG_NOTIFY_CHANGE_NAME), whoever makes it, tests' set-up included. Data written identical
// to what is stored changes nothing, as Wine has it. Closing the key, or deleting it, sets
// the event and ends the registration. Only asynchronous registration is modelled.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_text.h"
#include "platform/registry.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_sync.h"

namespace sim {

struct RegValue {
    std::wstring name;
    win::DWORD type = win::REG_NONE;
    std::vector<win::BYTE> data;
};

class SimRegistry : public win::Registry {
public:
    // With the events that change notifications set (none: notification is refused).
    SimRegistry(FaultPlan& faults, HandleTable& handles, SimSync* sync = nullptr);
    ~SimRegistry() override;

    win::LSTATUS RegOpenKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD options, win::DWORD sam,
                               win::HKEY* out) override;
    win::LSTATUS RegCreateKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD options, win::DWORD sam,
                                 win::HKEY* out, win::DWORD* disposition) override;
    win::LSTATUS RegCloseKey(win::HKEY key) override;
    win::LSTATUS RegQueryValueExW(win::HKEY key, const wchar_t* name, win::DWORD* type, win::BYTE* data,
                                  win::DWORD* cbData) override;
    win::LSTATUS RegSetValueExW(win::HKEY key, const wchar_t* name, win::DWORD type, const win::BYTE* data,
                                win::DWORD cbData) override;
    win::LSTATUS RegEnumKeyExW(win::HKEY key, win::DWORD index, wchar_t* name, win::DWORD* cchName) override;
    win::LSTATUS RegEnumValueW(win::HKEY key, win::DWORD index, wchar_t* name, win::DWORD* cchName,
                               win::DWORD* type, win::BYTE* data, win::DWORD* cbData) override;
    win::LSTATUS RegQueryInfoKeyW(win::HKEY key, win::DWORD* subKeys, win::DWORD* maxSubKeyLen, win::DWORD* values,
                                  win::DWORD* maxValueNameLen, win::DWORD* maxValueLen) override;
    win::LSTATUS RegDeleteValueW(win::HKEY key, const wchar_t* name) override;
    win::LSTATUS RegDeleteTreeW(win::HKEY key, const wchar_t* subKey) override;
    win::LSTATUS RegNotifyChangeKeyValue(win::HKEY key, bool watchSubtree, win::DWORD filter, win::HANDLE event,
                                         bool asynchronous) override;

    // ---- set-up and inspection for tests (full paths start with the root's name) ----
    // Imports ".reg" text (platform/reg_text.h): all of it is parsed first, so a malformed
    // text throws tavo::RegTextError, naming fileName and the line, and changes nothing.
    void Import(std::wstring_view regText, std::string_view fileName = "(.reg text)");
    // Carries out what a parsed text asks for, in order.
    void Apply(const std::vector<tavo::RegOperation>& operations);
    void SetDword(std::wstring_view keyPath, std::wstring_view name, win::DWORD value);
    void SetString(std::wstring_view keyPath, std::wstring_view name, std::wstring_view value,
                   win::DWORD type = win::REG_SZ);
    void SetRaw(std::wstring_view keyPath, std::wstring_view name, win::DWORD type, std::vector<win::BYTE> data);
    bool KeyExists(std::wstring_view keyPath) const;
    void DeleteKey(std::wstring_view keyPath);
    std::optional<RegValue> Value(std::wstring_view keyPath, std::wstring_view name) const;
    std::optional<win::DWORD> Dword(std::wstring_view keyPath, std::wstring_view name) const;
    std::vector<std::wstring> SubKeys(std::wstring_view keyPath) const;
    // Registrations waiting for a change.
    int PendingNotifications() const;
    // Keys whose access is refused for writes (ERROR_ACCESS_DENIED on open or create with
    // any write right), modelling an ACL.
    void DenyWrite(std::wstring_view keyPath);

    // ---- the whole registry, for comparing one run with another ----
    // A value's place: "<root or HIVE:file>\key\path" and ":name", folded to upper case.
    // Values of a hive file are placed under the file whether it is mounted or not.
    std::map<std::wstring, RegValue> Snapshot() const;
    // Sees every value as it is stored (identical data included), deleted, or dropped with
    // its key, with its place and new content (none: gone); called under the registry's
    // lock, so it must not call back into the registry.
    using WriteHook = std::function<void(const std::wstring& place, const std::optional<RegValue>& content)>;
    void SetWriteHook(WriteHook hook);

    // ---- hives: files of keys mounted under HKEY_USERS, as the profile service does ----
    // Fills the hive file (created empty when new) from ".reg" text whose sections start at
    // HKEY_CURRENT_USER, as a user's exported settings read. The hive may be mounted or not.
    void ImportHive(std::wstring_view file, std::wstring_view regText);
    void ImportHive(std::wstring_view file, const std::vector<tavo::RegOperation>& operations);
    // Mounts the hive file at keyPath (a new key directly under a root); false when the
    // path is taken or its parent is missing.
    bool LoadHive(std::wstring_view keyPath, std::wstring_view file);
    // Detaches what LoadHive mounted; the contents stay in the file. Keys still open under
    // it keep working on the detached contents.
    bool UnloadHive(std::wstring_view keyPath);
    // The key on a mounted hive's root that the profile service hands out as hProfile:
    // opened and closed on the service's side, so no injected fault of the caller's registry
    // calls applies. Counted as kind "HKEY". None when nothing is mounted there.
    win::HKEY OpenHiveRoot(std::wstring_view keyPath);
    bool CloseHiveRoot(win::HKEY key);

private:
    struct Key;
    struct Open {
        std::shared_ptr<Key> key;
        win::DWORD access;
    };
    std::shared_ptr<Key> Root(win::HKEY root) const;
    std::shared_ptr<Key> Resolve(win::HKEY key, win::DWORD* access) const;
    std::shared_ptr<Key> Walk(std::shared_ptr<Key> from, std::wstring_view path, bool create, bool* created);
    std::shared_ptr<Key> WalkPath(std::wstring_view fullPath, bool create);
    std::shared_ptr<Key> FindPath(std::wstring_view fullPath) const;
    win::HKEY NewHandle(std::shared_ptr<Key> key, win::DWORD access);
    // Under lock_: a change of this kind happened in key; fires the registrations it concerns.
    void Changed(const std::shared_ptr<Key>& key, win::DWORD filter);
    // Under lock_: fires the registrations on deleted keys, and those made through handle.
    void EndRegistrations(std::uint64_t handle);
    // Under lock_: the place prefix of a key ("" for a key no longer in the tree).
    std::wstring PlaceOf(const Key& key) const;
    // Under lock_: tells the write hook that every value at and below key goes.
    void Dropped(const Key& key);
    // Under lock_: stores a value, telling whether anything changed.
    bool Store(const std::shared_ptr<Key>& key, std::wstring_view name, win::DWORD type, std::vector<win::BYTE> data);

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::recursive_mutex lock_;
    std::map<std::uint64_t, std::shared_ptr<Key>> roots_;
    std::map<std::uint64_t, Open> open_;
    std::map<std::wstring, std::shared_ptr<Key>> hives_;  // by folded file name
    SimSync* sync_;
    WriteHook writeHook_;
    struct Registration {
        std::uint64_t handle;  // the key handle it was made through
        std::shared_ptr<Key> key;
        bool subtree;
        win::DWORD filter;
        SimSync::Ref event;
    };
    std::vector<Registration> registrations_;
};

}  // namespace sim
