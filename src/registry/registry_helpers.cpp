#include "registry/registry_helpers.h"

#include <algorithm>
#include <array>

#include "common/registry_paths.h"
#include "log/trace_format.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/sessions.h"

namespace tavo {

namespace {

// RegCreateKeyExW on path and one REG_DWORD; the open's status.
win::LSTATUS WriteDword(const std::wstring& path, const wchar_t* valueName, std::int32_t value) {
    win::UniqueHKey key;
    const win::LSTATUS status = win::Reg().RegCreateKeyExW(win::HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                                           kSettingsKeyAccess, key.put(), nullptr);
    if (status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) return status;
    const win::DWORD data = static_cast<win::DWORD>(value);
    win::Reg().RegSetValueExW(key.get(), valueName, win::REG_DWORD, reinterpret_cast<const win::BYTE*>(&data),
                              sizeof data);
    return status;
}

}  // namespace

std::int32_t ReadRegistryDword(win::HKEY key, const wchar_t* name) {
    win::DWORD type = win::REG_NONE;
    win::DWORD value = 0;
    win::DWORD size = sizeof value;
    if (win::Reg().RegQueryValueExW(key, name, &type, reinterpret_cast<win::BYTE*>(&value), &size) !=
        static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
        return -1;
    // A REG_DWORD stored with fewer than 4 bytes fills only part of the buffer.
    if (type != win::REG_DWORD || size != sizeof value) return -1;
    return static_cast<std::int32_t>(value);
}

std::wstring ReadRegistryString(win::HKEY key, const wchar_t* name) {
    std::array<wchar_t, kRegistryStringChars> buffer{};
    win::DWORD type = win::REG_NONE;
    win::DWORD size = static_cast<win::DWORD>(buffer.size() * sizeof(wchar_t));
    if (win::Reg().RegQueryValueExW(key, name, &type, reinterpret_cast<win::BYTE*>(buffer.data()), &size) !=
        static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
        return {};
    if (type != win::REG_SZ && type != win::REG_EXPAND_SZ && type != win::REG_MULTI_SZ) return {};
    // Stored strings need not be terminated: only the bytes the query returned count.
    std::size_t chars = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size());
    auto end = std::find(buffer.begin(), buffer.begin() + chars, L'\0');
    return std::wstring(buffer.begin(), end);
}

int GetCurrectUserName(std::span<wchar_t> userName) {
    if (!userName.empty()) userName[0] = L'\0';
    win::DWORD session = win::Wts().WTSGetActiveConsoleSessionId();
    if (session == win::kNoConsoleSession) {
        TraceLog("GetCurrectUserName::Get Active SessionId Fail\n");
        return 0;
    }
    std::wstring name;
    if (win::Wts().WTSQueryUserName(session, &name) != win::ERROR_SUCCESS || name.size() >= userName.size()) {
        TraceLog("GetCurrectUserName::Fail, Cannot Get Username\n");
        return 0;
    }
    TraceLog("GetCurrectUserName::%ws Success\n", name.c_str());
    std::copy(name.begin(), name.end(), userName.begin());
    userName[name.size()] = L'\0';
    return 1;
}

int EnumerateSubKeys(win::HKEY key, std::vector<std::wstring>* subKeyNames) {
    win::DWORD subKeys = 0;
    win::DWORD values = 0;
    win::Reg().RegQueryInfoKeyW(key, &subKeys, nullptr, &values, nullptr, nullptr);
    TraceLog("Number of subkeys: %d\n", static_cast<int>(subKeys));

    std::array<wchar_t, kSubKeyNameChars> name{};
    const win::DWORD subKeyCount = std::min<win::DWORD>(subKeys, kMaxEnumeratedNames);
    subKeyNames->assign(subKeyCount, std::wstring());
    for (win::DWORD i = 0; i < subKeyCount; ++i) {
        win::DWORD length = static_cast<win::DWORD>(name.size());  // in/out: reset for every index
        if (win::Reg().RegEnumKeyExW(key, i, name.data(), &length) != static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            continue;
        (*subKeyNames)[i].assign(name.data(), std::min<std::size_t>(length, name.size() - 1));
        TraceLog("(%d) %ws\n", static_cast<int>(i + 1), (*subKeyNames)[i].c_str());
    }

    TraceLog("Number of values: %d\n", static_cast<int>(values));
    const win::DWORD valueCount = std::min<win::DWORD>(values, kMaxEnumeratedNames);
    for (win::DWORD i = 0; i < valueCount; ++i) {
        win::DWORD length = static_cast<win::DWORD>(name.size());
        if (win::Reg().RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr) !=
            static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            continue;
        std::wstring valueName(name.data(), std::min<std::size_t>(length, name.size() - 1));
        TraceLog("(%d) %ws\n", static_cast<int>(i + 1), valueName.c_str());
    }
    return static_cast<int>(subKeyCount);
}


bool ChangeValueInRegistry(const wchar_t* valueName, std::int32_t value) {
    const std::wstring name = valueName != nullptr ? valueName : L"";
    TraceLog("[ChangeValueInRegistry] Enter ==> ChangeValueInRegistry()");
    TraceLog("[ChangeValueInRegistry] ValueName = %s, Value = %d", NarrowText(name).c_str(), value);

    std::array<wchar_t, kUserNameChars> user{};
    const int userResult = GetCurrectUserName(user);
    TraceLog("[ChangeValueInRegistry] GetCurrectUserName Result = %d", userResult);

    const std::wstring inForcePath = kSettingsKeyPath;
    const std::wstring userPath = inForcePath + L"\\" + user.data();
    TraceLog("[ChangeValueInRegistry] RegistryPath = %s", NarrowText(inForcePath).c_str());
    TraceLog("[ChangeValueInRegistry] RegistryPath_CurrentUser = %s", NarrowText(userPath).c_str());

    // An empty name would write the registry's default value of the key.
    if (!name.empty()) {
        win::LSTATUS status = WriteDword(inForcePath, name.c_str(), value);
        if (status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
            TraceLog("[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath Fail, nStatus = %d", status);

        // Without a named user the user path ends in the separator, which the registry
        // resolves to the settings key itself: the user write would land among the values
        // in force, even after their own write failed. There is no user to write for.
        if (user[0] != L'\0' && userPath.size() < kSettingsPathChars) {
            status = WriteDword(userPath, name.c_str(), value);
            if (status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
                TraceLog("[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath_CurrentUser Fail, nStatus = %d",
                         status);
        }
    }

    TraceLog("[ChangeValueInRegistry] <== Exit ChangeValueInRegistry(), Result = %d", 0);
    return false;
}

}  // namespace tavo
