#include "registry_toggle_key.h"

#include <windows.h>

#include "unique_handle.h"

namespace kvr {
namespace {

constexpr wchar_t kSettingsKey[] = L"System\\CurrentControlSet\\Control\\Brindlex_PTP";
constexpr wchar_t kToggleValue[] = L"AABB";
constexpr REGSAM kReadWrite = 0x2001F;  // KEY_READ | KEY_WRITE

// Opens, never creates: without the driver package's key the agent writes nothing.
UniqueKey OpenSettingsKey() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, kReadWrite, key.put()) != ERROR_SUCCESS) return {};
    return key;
}

}  // namespace

StoredToggle RegistryToggleKey::Read() {
    const UniqueKey key = OpenSettingsKey();
    if (!key) return {};
    StoredToggle stored{true, false, 0, 0};
    DWORD type = 0, size = sizeof(stored.value);
    // A 4-byte buffer: a longer value fails with ERROR_MORE_DATA and counts as unusable.
    if (RegQueryValueExW(key.get(), kToggleValue, nullptr, &type, reinterpret_cast<BYTE*>(&stored.value), &size) ==
        ERROR_SUCCESS) {
        stored.queried = true;
        stored.type = type;
    }
    return stored;
}

bool RegistryToggleKey::Write(std::int32_t state) {
    const UniqueKey key = OpenSettingsKey();
    if (!key) return false;
    const DWORD data = static_cast<DWORD>(state);
    RegSetValueExW(key.get(), kToggleValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    return true;
}

}  // namespace kvr
