#include "settings/settings_store.h"

#include <array>
#include <string>

#include "platform/handles.h"
#include "log/trace_log.h"
#include "common/process_state.h"

namespace tavo {

namespace {
struct RecordsState {
    SharedRecord<PalmSettings> livePalmSettings;
    SharedRecord<ForcepadSettings> liveForcepadSettings;
    SharedRecord<PalmSettings> palmDefaults;
};
ProcessWide<RecordsState> records;
}  // namespace

SharedRecord<PalmSettings>& livePalmSettings = records->livePalmSettings;
SharedRecord<ForcepadSettings>& liveForcepadSettings = records->liveForcepadSettings;
SharedRecord<PalmSettings>& palmDefaults = records->palmDefaults;

const char* SyncModeName(int mode) {
    switch (mode) {
        case SYNC_READ: return "SYNC_READ";
        case SYNC_WRITE: return "SYNC_WRITE";
        case SYNC_READ_LAST: return "SYNC_READ_LAST";
        case SYNC_WRITE_LAST: return "SYNC_WRITE_LAST";
        default: return "Unknow Sync Mode";
    }
}

const char* PalmLevelName(std::int32_t level) {
    switch (level) {
        case 0: return "None/Minimal";
        case 1: return "Low";
        case 2: return "Medium";
        case 3: return "High";
        case 4: return "Custom";
        case 5: return "Dynamic Palm";
        default: return "Unknow Palm Level";
    }
}

namespace {

bool IsUserMode(int mode) { return mode == SYNC_READ || mode == SYNC_WRITE; }

// Field access to a caller's own record, shaped like SharedRecord's.
template <typename Record>
struct PlainAccess {
    Record& record;
    std::int32_t Get(std::size_t n) const { return Field(record, n); }
    void Set(std::size_t n, std::int32_t v) { Field(record, n) = v; }
};

struct SyncTexts {
    const char* userNameFail;
    const char* pathLine;
    const char* readLine;
    const char* saveLine;
};

constexpr SyncTexts kPalmTexts{
    "SyncTouchpadSettings::Get User Name fail\n",
    "SyncTouchpadSettings(%s)::Registry Path : %ws\n",
    "SyncTouchpadSettings::Read Registry\n",
    "SyncTouchpadSettings::Save Registry\n",
};
constexpr SyncTexts kForcepadTexts{
    "SyncForcepadSettings::Get User Name fail\n",
    "SyncForcepadSettings(%s)::Registry Path : %ws\n",
    "SyncForcepadSettings::Read Registry\n",
    "SyncForcepadSettings::Save Registry\n",
};

// The key a mode works on, below HKLM. A user's path is refused, rather than opened, when
// the console has no named user: the path would end in the separator, which the registry
// resolves to the settings key itself, so the user modes would act on the values in force.
// A path that does not fit the path buffer is refused the same way.
// A pinned user names the key instead of the console's user; *userOut receives the name used.
bool SettingsPath(int mode, const SyncTexts& texts, std::wstring* path, const std::wstring* pinned,
                  std::wstring* userOut) {
    *path = kSettingsKeyPath;
    if (!IsUserMode(mode)) return true;
    std::array<wchar_t, kUserNameChars> user{};
    if (pinned != nullptr) {
        if (pinned->empty() || pinned->size() >= user.size()) {
            TraceLog(texts.userNameFail);
            return false;
        }
        pinned->copy(user.data(), pinned->size());
    } else if (GetCurrectUserName(user) == 0 || user[0] == L'\0') {
        TraceLog(texts.userNameFail);
        return false;
    }
    if (userOut) *userOut = user.data();
    path->append(L"\\").append(user.data());
    if (path->size() >= kSettingsPathChars) {
        TraceLog(texts.userNameFail);
        return false;
    }
    return true;
}

// Opens the key, then reads or writes every field in layout order. Returns the open result.
template <typename Record, typename Access>
win::LSTATUS Transfer(int mode, const std::wstring& path, const SyncTexts& texts, Access& access) {
    win::UniqueHKey key;
    win::LSTATUS status = win::Reg().RegCreateKeyExW(win::HKEY_LOCAL_MACHINE, path.c_str(),
                                                     win::REG_OPTION_NON_VOLATILE, kSettingsKeyAccess, key.put(),
                                                     nullptr);
    if (status != static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) return status;
    const auto& fields = RecordLayout<Record>::fields;
    if (mode == SYNC_READ || mode == SYNC_READ_LAST) {
        for (std::size_t i = 0; i < fields.size(); ++i) access.Set(i, ReadRegistryDword(key.get(), fields[i].valueName));
        TraceLog(texts.readLine);
    } else if (mode == SYNC_WRITE || mode == SYNC_WRITE_LAST) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            // A value that cannot be written is skipped; the rest are still written.
            win::DWORD data = static_cast<win::DWORD>(access.Get(i));
            win::Reg().RegSetValueExW(key.get(), fields[i].valueName, win::REG_DWORD,
                                      reinterpret_cast<const win::BYTE*>(&data), sizeof data);
        }
        TraceLog(texts.saveLine);
    }
    return status;
}

template <typename Access>
int SyncPalm(int mode, Access& access, bool* transferred) {
    if (transferred) *transferred = false;
    std::wstring path;
    if (!SettingsPath(mode, kPalmTexts, &path, nullptr, nullptr)) return 0;
    TraceLog(kPalmTexts.pathLine, SyncModeName(mode), path.c_str());
    if (Transfer<PalmSettings>(mode, path, kPalmTexts, access) != static_cast<win::LSTATUS>(win::ERROR_SUCCESS))
        return IsUserMode(mode) ? 1 : 0;
    if (transferred) *transferred = true;
    const std::int32_t level = access.Get(0);
    TraceLog("Palm Check Option = %s(%d); Up=%d, Down=%d, Left=%d, Right=%d\n", PalmLevelName(level), level,
             access.Get(1), access.Get(2), access.Get(3), access.Get(4));
    return 1;
}

template <typename Access>
int SyncForcepad(int mode, Access& access, bool* transferred, const std::wstring* pinned = nullptr,
                 std::wstring* userOut = nullptr) {
    if (transferred) *transferred = false;
    TraceLog("Enter ==> SyncForcepadSettings\n");
    std::wstring path;
    std::wstring user;
    if (!SettingsPath(mode, kForcepadTexts, &path, pinned, &user)) return 0;
    TraceLog(kForcepadTexts.pathLine, SyncModeName(mode), path.c_str());
    const bool opened =
        Transfer<ForcepadSettings>(mode, path, kForcepadTexts, access) == static_cast<win::LSTATUS>(win::ERROR_SUCCESS);
    TraceLog("Exit <== SyncForcepadSettings\n");
    if (!opened) return IsUserMode(mode) ? 1 : 0;
    if (transferred) *transferred = true;
    if (userOut) *userOut = std::move(user);
    return 1;
}

}  // namespace

int SyncTouchpadSettings(int mode, PalmSettings& record, bool* transferred) {
    PlainAccess<PalmSettings> access{record};
    return SyncPalm(mode, access, transferred);
}

int SyncForcepadSettings(int mode, ForcepadSettings& record, bool* transferred) {
    PlainAccess<ForcepadSettings> access{record};
    return SyncForcepad(mode, access, transferred);
}

bool ReadUserForcepadSettings(ForcepadSettings& record, std::wstring* user) {
    user->clear();
    PlainAccess<ForcepadSettings> access{record};
    bool read = false;
    SyncForcepad(SYNC_READ, access, &read, nullptr, user);
    return read;
}

bool WriteUserForcepadSettings(const std::wstring& user, ForcepadSettings& record) {
    PlainAccess<ForcepadSettings> access{record};
    bool written = false;
    SyncForcepad(SYNC_WRITE, access, &written, &user, nullptr);
    return written;
}

int SyncTouchpadSettings(int mode, SharedRecord<PalmSettings>& record) { return SyncPalm(mode, record, nullptr); }

int SyncForcepadSettings(int mode, SharedRecord<ForcepadSettings>& record) {
    return SyncForcepad(mode, record, nullptr);
}

}  // namespace tavo
