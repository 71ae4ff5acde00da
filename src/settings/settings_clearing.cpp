#include "settings/settings_clearing.h"

#include <string>
#include <vector>

#include "common/registry_paths.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "registry/registry_helpers.h"
#include "settings/settings_store.h"

namespace tavo {
namespace {

struct ClearTexts {
    const char* emptySlot;
    const char* tooLong;
    const char* path;
    const char* cleared;
};

constexpr ClearTexts kPalmTexts{"(%d) SubKeyName[%d] is NULL\n", "(%d) SubKeyName[%d] is too long, skipped\n",
                                "(%d) Path : %ws\n", "(%d) Path : %ws is Clear\n"};
constexpr ClearTexts kForcepadTexts{"[ClearAllForcepadSettings] (%d) SubKeyName[%d] is NULL\n",
                                    "[ClearAllForcepadSettings] (%d) SubKeyName[%d] is too long, skipped\n",
                                    "[ClearAllForcepadSettings] (%d) Path : %ws\n",
                                    "[ClearAllForcepadSettings] (%d) Path : %ws is Clear\n"};

template <typename Record>
int ClearAll(const Record& record, const ClearTexts& texts) {
    std::vector<std::wstring> names;
    {
        win::UniqueHKey settings;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, kSettingsKeyAccess,
                                     settings.put()) != static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            return 1;
        EnumerateSubKeys(settings.get(), &names);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        if (names[i].empty()) {
            TraceLog(texts.emptySlot, n, n - 1);
            continue;
        }
        const std::wstring path = std::wstring(kSettingsKeyPath) + L"\\" + names[i];
        if (path.size() >= kClearPathChars) {
            TraceLog(texts.tooLong, n, n - 1);
            continue;
        }
        TraceLog(texts.path, n, path.c_str());
        win::UniqueHKey key;
        if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, path.c_str(), 0, kSettingsKeyAccess, key.put()) !=
            static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            continue;
        for (const auto& field : RecordLayout<Record>::fields) {
            const win::DWORD data = static_cast<win::DWORD>(record.*(field.member));
            win::Reg().RegSetValueExW(key.get(), field.valueName, win::REG_DWORD,
                                      reinterpret_cast<const win::BYTE*>(&data), sizeof data);
        }
        TraceLog(texts.cleared, n, path.c_str());
    }
    return 1;
}

}  // namespace

int ClearAllPalmSettings(PalmSettings record) { return ClearAll(record, kPalmTexts); }

int ClearAllForcepadSettings(ForcepadSettings record) { return ClearAll(record, kForcepadTexts); }

}  // namespace tavo
