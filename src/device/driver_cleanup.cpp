#include "device/driver_cleanup.h"

#include <array>
#include <cwctype>

#include "common/process_state.h"
#include "common/registry_paths.h"
#include "log/trace_format.h"
#include "log/trace_log.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/setup_inf.h"
#include "platform/system.h"
#include "registry/registry_helpers.h"

namespace tavo {
namespace {

struct DriverCleanupState {
    bool done = false;  // only touched under the cleanup lock
};
ProcessWide<DriverCleanupState> cleanupState;

constexpr int kVersionReads = 11;
constexpr win::DWORD kVersionReadPauseMs = 1000;
constexpr win::UINT kWindowsDirectoryChars = 520;
constexpr win::DWORD kInfFieldChars = 4096;
constexpr wchar_t kComponentCatalog[] = L"KVR_COMPONENT.CAT";

std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return s;
}

// A blank the registry's value or a quoted INF field may carry around the version, which
// neither writer means as part of it.
std::wstring TrimBlanks(const std::wstring& s) {
    constexpr wchar_t kBlanks[] = L" \t\r\n";
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::wstring::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// Field `field` of the first line `key` in [Version]; false when the line is missing or the
// field does not fit the buffer (a cut version would compare as some other version).
bool ReadVersionField(win::HINF inf, const wchar_t* key, win::DWORD field, std::wstring* value) {
    win::INFCONTEXT context;
    if (win::Inf().SetupFindFirstLineW(inf, L"Version", key, &context) != win::ERROR_SUCCESS) return false;
    std::array<wchar_t, kInfFieldChars> buffer{};
    win::DWORD required = 0;
    if (win::Inf().SetupGetStringFieldW(context, field, buffer.data(), kInfFieldChars, &required) !=
        win::ERROR_SUCCESS)
        return false;
    buffer.back() = L'\0';
    *value = buffer.data();
    return true;
}

// OEM12.INF -> OEM12.PNF: only the extension is replaced, so a name with "INF" inside its
// stem cannot turn into some other file's name.
bool PnfName(const std::wstring& infFileName, std::wstring* pnf) {
    std::wstring upper = Upper(infFileName);
    if (upper.size() < 3 + 4 || !upper.ends_with(L".INF")) return false;
    *pnf = upper.substr(0, upper.size() - 3) + L"PNF";
    return true;
}

}  // namespace

bool UninstallOldDriverDone() { return cleanupState->done; }

void ProcessUninstallOldDriverThread(std::mutex& cleanupLock) {
    TraceLog("KVRService::ProcessUninstallOldDriverThread++");
    {
        std::lock_guard<std::mutex> lock(cleanupLock);
        if (!cleanupState->done) {
            std::wstring version;
            for (int read = 0; read < kVersionReads && version.empty(); ++read) {
                win::Sys().Sleep(kVersionReadPauseMs);
                GetDriverVersion(&version);
            }
            if (!version.empty()) {
                TraceLog("DeleteOldDriver:: Now KVR_Component Version = %s\n", NarrowText(version).c_str());
                DeleteOldDriver(version);
            } else {
                TraceLog("DeleteOldDriver:: Cannot Get KVR_Component Version = %s\n", NarrowText(version).c_str());
            }
            cleanupState->done = true;
        }
    }
    TraceLog("KVRService::ProcessUninstallOldDriverThread--");
}

bool GetDriverVersion(std::wstring* version) {
    TraceLog("==> Enter GetDriverVersion");
    TraceLog("Read Reg Path = %S", kSettingsKeyPath);
    TraceLog("Read Reg Key  = %S", L"Version");
    bool result = false;
    win::UniqueHKey key;
    if (win::Reg().RegOpenKeyExW(win::HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, win::KEY_READ, key.put()) !=
        static_cast<win::LSTATUS>(win::ERROR_SUCCESS)) {
        version->clear();
        TraceLog("Read Reg Version Fail");
    } else {
        *version = ReadRegistryString(key.get(), L"Version");
        TraceLog("Read Reg Version = %S", version->c_str());
        result = true;
    }
    TraceLog("<== Exit GetDriverVersion (%d)", result ? 1 : 0);
    return result;
}

bool ReadComponentInfVersion(const wchar_t* infFileName, std::wstring* version) {
    win::UniqueInf inf;
    const win::DWORD error = win::Inf().SetupOpenInfFileW(infFileName, win::INF_STYLE_WIN4, inf.put());
    if (error != win::ERROR_SUCCESS) {
        TraceLog("SetupOpenInfFile : GetLastError = %d (%x)", static_cast<int>(error), error);
        return false;
    }
    std::wstring catalog;
    if (!ReadVersionField(inf.get(), L"CatalogFile", 1, &catalog) || Upper(catalog) != kComponentCatalog)
        return false;
    TraceLog("%S is KVR_component.inf", infFileName);
    std::wstring driverVersion;
    if (!ReadVersionField(inf.get(), L"DriverVer", 2, &driverVersion)) return false;
    driverVersion = Upper(driverVersion);
    TraceLog("%S : InfDataString = %S", infFileName, driverVersion.c_str());
    *version = driverVersion;
    return true;
}

int DeleteOldDriver(std::wstring currentVersion) {
    TraceLog("==> Enter DeleteOldDriver");
    TraceLog("Find & Delete KVR_Component.inf (!= %S)", currentVersion.c_str());
    // The INF's version is upper-cased as read; the registry's must be too, or a stored
    // lower-case letter would make the package in use look outdated. A blank on either side
    // would too, and the removal forces out the package in use. A version of blanks only
    // compares with nothing, like an empty one.
    const std::wstring current = Upper(TrimBlanks(currentVersion));
    if (current.empty()) {
        TraceLog("Cannot compare version with registry");
        TraceLog("<== Exit DeleteOldDriver");
        return 0;
    }

    std::array<wchar_t, kWindowsDirectoryChars> windows{};
    win::UINT length = 0;
    win::UniqueFind find;
    std::wstring infDirectory;
    std::wstring name;
    bool listed = false;
    if (win::Inf().GetWindowsDirectoryW(windows.data(), kWindowsDirectoryChars, &length) == win::ERROR_SUCCESS) {
        infDirectory = std::wstring(windows.data(), length) + L"\\INF";
        const std::wstring pattern = infDirectory + L"\\OEM*.INF";
        listed = win::Inf().FindFirstFileW(pattern.c_str(), find.put(), &name) == win::ERROR_SUCCESS;
    }
    if (!listed) {
        TraceLog("Cannot get inf path");
    } else {
        do {
            std::wstring infVersion;
            if (!ReadComponentInfVersion(name.c_str(), &infVersion)) continue;
            if (TrimBlanks(infVersion) == current) continue;
            TraceLog("Uninstall OEM Inf = %S\r\n", (infDirectory + L"\\" + name).c_str());
            const bool uninstalled =
                win::Inf().SetupUninstallOEMInfW(name.c_str(), win::SUOI_FORCEDELETE) == win::ERROR_SUCCESS;
            TraceLog("SetupUninstallOEMInf Result = %d\r\n", uninstalled ? 1 : 0);
            // Wine's uninstall leaves the precompiled copy behind, and a failed uninstall may too.
            std::wstring pnf;
            if (PnfName(name, &pnf)) {
                const bool deleted = win::Inf().DeleteFileW((infDirectory + L"\\" + pnf).c_str()) == win::ERROR_SUCCESS;
                TraceLog("DeletePNFResult = %d", deleted ? 1 : 0);
            }
        } while (win::Inf().FindNextFileW(find.get(), &name) == win::ERROR_SUCCESS);
        find.reset();
    }
    TraceLog("<== Exit DeleteOldDriver (%d)", 1);
    return 1;
}

}  // namespace tavo
