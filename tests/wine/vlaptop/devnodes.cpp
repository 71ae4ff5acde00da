#include "devnodes.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

#include <cwctype>
#include <memory>

namespace vlaptop {
namespace {

const GUID kHidInterface = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct DevInfoDeleter {
    void operator()(void* set) const { ::SetupDiDestroyDeviceInfoList(set); }
};
using DevInfo = std::unique_ptr<void, DevInfoDeleter>;

DevInfo NewSet(const GUID* setupClass) {
    HDEVINFO set = ::SetupDiCreateDeviceInfoList(setupClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) throw WinError("SetupDiCreateDeviceInfoList", ::GetLastError());
    return DevInfo(set);
}

// The node of that instance id in a set of its own; false when there is none.
bool OpenNode(const std::wstring& instanceId, DevInfo* set, SP_DEVINFO_DATA* data) {
    *set = NewSet(nullptr);
    *data = SP_DEVINFO_DATA{};
    data->cbSize = sizeof *data;
    return ::SetupDiOpenDeviceInfoW(set->get(), instanceId.c_str(), nullptr, 0, data) != FALSE;
}

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

void SetProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, const std::wstring& bytesAsText,
                 const char* what) {
    if (!::SetupDiSetDeviceRegistryPropertyW(set, data, property, reinterpret_cast<const BYTE*>(bytesAsText.data()),
                                             static_cast<DWORD>(bytesAsText.size() * sizeof(wchar_t))))
        throw WinError(what, ::GetLastError());
}

}  // namespace

std::wstring HidChildInstanceId(const std::wstring& instanceId) {
    const std::size_t slash = instanceId.find(L'\\');
    return L"HID" + instanceId.substr(slash == std::wstring::npos ? 0 : slash);
}

std::wstring DriverInfName(const std::wstring& instanceId) {
    DevInfo set;
    SP_DEVINFO_DATA data;
    if (!OpenNode(instanceId, &set, &data)) return {};
    HKEY raw = ::SetupDiOpenDevRegKey(set.get(), &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (raw == INVALID_HANDLE_VALUE) return {};
    Key key(raw);
    wchar_t name[MAX_PATH] = {};
    DWORD size = sizeof name - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return name;
}

WinError::WinError(const std::string& what, DWORD code)
    : std::runtime_error(what + " failed (Windows error " + std::to_string(code) + ")"), code_(code) {}

Key& Key::operator=(Key&& other) noexcept {
    if (this != &other) {
        if (key_) ::RegCloseKey(key_);
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

Key::~Key() {
    if (key_) ::RegCloseKey(key_);
}

HKEY* Key::put() {
    if (key_) ::RegCloseKey(key_);
    key_ = nullptr;
    return &key_;
}

std::wstring CreateRootNode(const RootNode& node, const std::function<void(HKEY)>& parameters) {
    DevInfo set = NewSet(&node.setupClass);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiCreateDeviceInfoW(set.get(), node.deviceName.c_str(), &node.setupClass,
                                    node.description.empty() ? nullptr : node.description.c_str(), nullptr,
                                    DICD_GENERATE_ID, &data))
        throw WinError("SetupDiCreateDeviceInfo " + Narrow(node.deviceName), ::GetLastError());
    std::wstring ids;
    for (const auto& id : node.hardwareIds) ids += id + L'\0';
    ids += L'\0';
    SetProperty(set.get(), &data, SPDRP_HARDWAREID, ids, "SetupDiSetDeviceRegistryProperty(SPDRP_HARDWAREID)");
    if (!node.description.empty())
        SetProperty(set.get(), &data, SPDRP_DEVICEDESC, node.description + L'\0',
                    "SetupDiSetDeviceRegistryProperty(SPDRP_DEVICEDESC)");
    if (!node.manufacturer.empty())
        SetProperty(set.get(), &data, SPDRP_MFG, node.manufacturer + L'\0', "SetupDiSetDeviceRegistryProperty(SPDRP_MFG)");
    if (!::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &data))
        throw WinError("DIF_REGISTERDEVICE " + Narrow(node.deviceName), ::GetLastError());
    wchar_t id[MAX_DEVICE_ID_LEN];
    if (!::SetupDiGetDeviceInstanceIdW(set.get(), &data, id, MAX_DEVICE_ID_LEN, nullptr)) {
        const DWORD e = ::GetLastError();
        ::SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data);
        throw WinError("SetupDiGetDeviceInstanceId", e);
    }
    if (parameters) {
        try {
            HKEY raw = ::SetupDiCreateDevRegKeyW(set.get(), &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
            if (raw == INVALID_HANDLE_VALUE) throw WinError("SetupDiCreateDevRegKey(DIREG_DEV)", ::GetLastError());
            Key key(raw);
            parameters(key.get());
        } catch (...) {
            ::SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data);
            throw;
        }
    }
    return id;
}

void RemoveNode(const std::wstring& instanceId) {
    DevInfo set;
    SP_DEVINFO_DATA data;
    if (!OpenNode(instanceId, &set, &data)) return;
    if (!::SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &data))
        throw WinError("DIF_REMOVE " + Narrow(instanceId), ::GetLastError());
}

void InstallDriver(const std::wstring& instanceId, const std::wstring& infPath) {
    DevInfo set;
    SP_DEVINFO_DATA data;
    if (!OpenNode(instanceId, &set, &data)) throw WinError("SetupDiOpenDeviceInfo " + Narrow(instanceId), ::GetLastError());
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof params;
    if (!::SetupDiGetDeviceInstallParamsW(set.get(), &data, &params))
        throw WinError("SetupDiGetDeviceInstallParams", ::GetLastError());
    params.Flags |= DI_ENUMSINGLEINF;
    if (infPath.size() >= MAX_PATH) throw WinError("the INF path " + Narrow(infPath), ERROR_FILENAME_EXCED_RANGE);
    infPath.copy(params.DriverPath, infPath.size());
    params.DriverPath[infPath.size()] = 0;
    if (!::SetupDiSetDeviceInstallParamsW(set.get(), &data, &params))
        throw WinError("SetupDiSetDeviceInstallParams", ::GetLastError());
    if (!::SetupDiBuildDriverInfoList(set.get(), &data, SPDIT_COMPATDRIVER))
        throw WinError("SetupDiBuildDriverInfoList", ::GetLastError());
    if (!::SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set.get(), &data))
        throw WinError("DIF_SELECTBESTCOMPATDRV", ::GetLastError());
    if (!::SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set.get(), &data))
        throw WinError("DIF_INSTALLDEVICE", ::GetLastError());
}

Key OpenDeviceParameters(const std::wstring& instanceId, REGSAM access) {
    DevInfo set;
    SP_DEVINFO_DATA data;
    if (!OpenNode(instanceId, &set, &data)) return Key();
    HKEY raw = ::SetupDiOpenDevRegKey(set.get(), &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, access);
    return raw == INVALID_HANDLE_VALUE ? Key() : Key(raw);
}

std::vector<std::wstring> HidChildPaths(const std::wstring& instanceId) {
    std::vector<std::wstring> paths;
    const std::wstring child = Upper(HidChildInstanceId(instanceId));
    HDEVINFO raw = ::SetupDiGetClassDevsW(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (raw == INVALID_HANDLE_VALUE) return paths;
    DevInfo set(raw);
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kHidInterface, i, &iface)) break;
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE buffer[2048];
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiGetDeviceInterfaceDetailW(set.get(), &iface, detail, sizeof buffer, nullptr, &data)) continue;
        wchar_t id[MAX_DEVICE_ID_LEN];
        if (!::SetupDiGetDeviceInstanceIdW(set.get(), &data, id, MAX_DEVICE_ID_LEN, nullptr)) continue;
        if (Upper(id) == child) paths.push_back(detail->DevicePath);
    }
    return paths;
}

bool WaitForHidChild(const std::wstring& instanceId, bool present, DWORD timeoutMs) {
    const ULONGLONG until = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (HidChildPaths(instanceId).empty() != present) return true;
        if (::GetTickCount64() >= until) return false;
        ::Sleep(20);
    }
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace vlaptop
