#include "monitors/toggle_flag.h"

#include "common/registry_paths.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "settings/settings_records.h"
#include "settings/settings_store.h"

namespace tavo {

std::int32_t RegRead_AABB() {
    std::int32_t result = 0;
    win::UniqueHKey key;
    if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, kSettingsKeyAccess, key.put()) ==
        static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) {
        win::DWORD type = 0;
        std::uint32_t value = 0;
        win::DWORD size = sizeof value;
        const win::LSTATUS status =
            win::Reg().RegQueryValueExW(key.get(), kValueAABB, &type, reinterpret_cast<win::BYTE*>(&value), &size);
        // A short DWORD would leave bytes of the buffer unwritten: count it as unreadable too.
        result = (status == static_cast<win::LSTATUS>(win::ERROR_SUCCESS) && type == win::REG_DWORD &&
                  size == sizeof value)
                     ? static_cast<std::int32_t>(value)
                     : -1;
    }
    key.reset();
    TraceLog("RegRead_AABB::Read AABB = %d\r\n", static_cast<int>(result));
    return result;
}

}  // namespace tavo
