// vlaptop: makes the laptop of a laptop file in the Wine prefix it runs in, for the service's
// integration tests, and takes it away again. A test fixture: nothing of it ships.
#include "settings/driver_defaults.h"  // before <windows.h>

#include <windows.h>
#include <shlobj.h>
#include <wtsapi32.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "devnodes.h"
#include "firmware_record.h"
#include "laptops/laptop_file.h"
#include "registry_undo.h"
#include "report_descriptor.h"

namespace vlaptop {
namespace {

using tavo::laptops::HidSheet;
using tavo::laptops::LaptopSheet;

constexpr wchar_t kStateKey[] = L"Software\\TavoVirtualLaptop";
constexpr wchar_t kVersionKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Every virtual HID device carries this id last; the driver's INF names it.
constexpr wchar_t kDriverMatchId[] = L"ROOT\\TAVO_VIRTUAL_HID";
constexpr wchar_t kDriverService[] = L"tavovpad";
constexpr wchar_t kDriverFile[] = L"tavovpad.sys";
constexpr wchar_t kDriverInf[] = L"tavovpad.inf";
constexpr std::size_t kMaxFunctions = 512;  // the driver's table
constexpr DWORD kDeviceTimeoutMs = 30000;  // generous: a loaded machine slows Wine down
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kMouseClass = {0x4d36e96f, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr char kHelp[] =
    "Usage: vlaptop COMMAND [OPTIONS]\n"
    "\n"
    "Makes the laptop of a laptop file in the Wine prefix it runs in: each HID collection a\n"
    "virtual HID device of the tavovpad driver (the file's hardware ids on its root device\n"
    "node, a report descriptor built from its usages and feature values and, behind report\n"
    "0x0D, the firmware's function table), the mouse-class devices and the software component\n"
    "as device nodes without a driver, the registry of the file's .reg file, the Windows\n"
    "version and, when asked, the settings application's package folder for the console user.\n"
    "A test fixture: nothing of it ships.\n"
    "\n"
    "  install FILE [--windows 10|11] [--companion]\n"
    "                   make the laptop (FILE: a path, or a name in the laptops folder);\n"
    "                   --windows replaces the file's Windows version, --companion makes the\n"
    "                   package folder; each collection is read back through the system's\n"
    "                   HID parser and must give what the file says\n"
    "  remove           take away everything install made\n"
    "  table [--hid NAME]\n"
    "                   the firmware's function table, '*' after a value changed since install\n"
    "  reports [--hid NAME] [--clear]\n"
    "                   every report the firmware saw, oldest first: \"> \" sent to it, \"< \"\n"
    "                   fetched from it, \" refused\" after one it stalled; --clear then empties\n"
    "                   the record\n"
    "  refuse [--hid NAME] all|none|FUNCTION...\n"
    "                   stall every report, none, or requests to read or write the functions\n"
    "                   (0x03A1 ...); read afresh for each report, so it acts at once\n"
    "  unplug [--hid NAME]\n"
    "                   remove the device (DIF_REMOVE); its table and record are kept\n"
    "  plug [--hid NAME]\n"
    "                   bring an unplugged device back with the table it had\n"
    "  --help           this text\n"
    "\n"
    "--hid picks a collection by its name in the file; without it the commands act on every\n"
    "collection with firmware (table and reports then head each with \"[NAME]\").\n"
    "Exit codes: 0 done; 1 a Windows call failed (what install had made is taken away again);\n"
    "2 bad arguments, a bad laptop file or the wrong state (nothing was changed).\n";

// Bad input: refused before anything changes.
struct UsageError {
    std::string message;
};

// ---- registry helpers ---------------------------------------------------------------------

void Check(LSTATUS status, const std::string& what) {
    if (status != ERROR_SUCCESS) throw WinError(what, static_cast<DWORD>(status));
}

Key CreateKey(HKEY parent, const std::wstring& path, DWORD options = 0) {
    Key key;
    Check(::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
          "creating " + Narrow(path));
    return key;
}

Key OpenKey(HKEY parent, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS) {
    Key key;
    ::RegOpenKeyExW(parent, path.c_str(), 0, access, key.put());
    return key;
}

void SetBinary(HKEY key, const wchar_t* name, const std::vector<std::uint8_t>& data) {
    Check(::RegSetValueExW(key, name, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
          "writing " + Narrow(name));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
    Check(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
          "writing " + Narrow(name));
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    Check(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
          "writing " + Narrow(name));
}

std::vector<std::uint8_t> GetBinary(HKEY key, const wchar_t* name) {
    DWORD size = 0, type = 0;
    if (!key || ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    std::vector<std::uint8_t> data(size);
    if (::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return {};
    data.resize(size);
    return data;
}

std::wstring GetString(HKEY key, const wchar_t* name) {
    const std::vector<std::uint8_t> data = GetBinary(key, name);
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

DWORD GetDword(HKEY key, const wchar_t* name) {
    const std::vector<std::uint8_t> data = GetBinary(key, name);
    DWORD value = 0;
    if (data.size() == sizeof value) std::memcpy(&value, data.data(), sizeof value);
    return value;
}

std::vector<std::uint8_t> Bytes(const std::wstring& text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.c_str());
    return {p, p + (text.size() + 1) * sizeof(wchar_t)};
}

std::vector<std::uint8_t> Bytes(DWORD value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    return {p, p + sizeof value};
}

// ---- files --------------------------------------------------------------------------------

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void DeleteTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else if (!::DeleteFileW(child.c_str()))
                throw WinError("deleting " + Narrow(child), ::GetLastError());
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    if (!::RemoveDirectoryW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        throw WinError("deleting " + Narrow(path), ::GetLastError());
}

// The console user's package folder of the settings application, resolved as the service
// resolves it: through the console session's user token.
std::wstring CompanionFolder() {
    HANDLE token = nullptr;
    if (!::WTSQueryUserToken(::WTSGetActiveConsoleSessionId(), &token))
        throw WinError("WTSQueryUserToken for the console user", ::GetLastError());
    wchar_t folder[MAX_PATH] = {};
    const HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, token, SHGFP_TYPE_CURRENT, folder);
    ::CloseHandle(token);
    if (hr != S_OK) throw WinError("SHGetFolderPath(CSIDL_LOCAL_APPDATA)", static_cast<DWORD>(hr));
    return std::wstring(folder) + L"\\Packages\\" + tavo::kCompanionPackageFamilyName;
}

// Creates the folder's missing levels; returns the first it made (empty: it existed).
std::wstring MakeFolders(const std::wstring& path) {
    std::wstring first;
    for (std::size_t end = path.find(L'\\', 3); ; end = path.find(L'\\', end + 1)) {
        const std::wstring level = path.substr(0, end);
        if (!Exists(level)) {
            if (!::CreateDirectoryW(level.c_str(), nullptr)) throw WinError("creating " + Narrow(level), ::GetLastError());
            if (first.empty()) first = level;
        }
        if (end == std::wstring::npos) break;
    }
    return first;
}

// ---- the state: what install made, under the installer's own key --------------------------

struct HidNode {
    std::wstring stateKey;  // Hid\NN
    std::string name;
    bool hasFirmware = false;
    std::wstring instanceId;  // empty: unplugged
};

Key OpenState(REGSAM access = KEY_ALL_ACCESS) { return OpenKey(HKEY_LOCAL_MACHINE, kStateKey, access); }

std::vector<HidNode> HidNodes(HKEY state) {
    std::vector<HidNode> nodes;
    Key hid = OpenKey(state, L"Hid");
    for (const auto& sub : SubKeyNames(hid.get())) {
        Key k = OpenKey(hid.get(), sub, KEY_READ);
        nodes.push_back({L"Hid\\" + sub, Narrow(GetString(k.get(), L"Name")), GetDword(k.get(), L"HasFirmware") != 0,
                         GetString(k.get(), L"InstanceId")});
    }
    return nodes;
}

// The collections a command acts on: the one named, or those with firmware.
std::vector<HidNode> Targets(HKEY state, const std::optional<std::string>& name) {
    std::vector<HidNode> targets;
    for (auto& node : HidNodes(state))
        if (name ? node.name == *name : node.hasFirmware) targets.push_back(node);
    if (name && targets.empty()) throw UsageError{"the laptop has no collection named \"" + *name + "\""};
    if (targets.empty()) throw UsageError{"the laptop has no collection with firmware"};
    return targets;
}

// Its volatile "Firmware" key, where the driver keeps the table and the record.
Key LiveFirmware(const HidNode& node) {
    Key parameters = OpenDeviceParameters(node.instanceId, KEY_ALL_ACCESS);
    return parameters ? OpenKey(parameters.get(), L"Firmware") : Key();
}

// Makes the node of a collection from what the state holds for it (its "Parameters" copied
// to the node's "Device Parameters", the live key with the table and the record saved),
// gives it the driver and waits for its HID interface.
void PlugNode(HKEY state, const std::wstring& stateKey) {
    Key entry = OpenKey(state, stateKey);
    Key saved = OpenKey(entry.get(), L"Parameters");
    std::vector<std::wstring> ids;
    const std::vector<std::uint8_t> multi = GetBinary(entry.get(), L"HardwareIds");
    std::wstring all(multi.size() / sizeof(wchar_t), L'\0');
    if (!all.empty()) std::memcpy(all.data(), multi.data(), all.size() * sizeof(wchar_t));
    for (std::size_t at = 0; at < all.size() && all[at];) {
        const std::size_t end = all.find(L'\0', at);
        ids.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    const RootNode node{kHidClass, GetString(entry.get(), L"DeviceName"), ids, GetString(entry.get(), L"Description"),
                        L""};
    const std::wstring id = CreateRootNode(node, [&](HKEY parameters) {
        Check(::RegCopyTreeW(saved.get(), nullptr, parameters), "writing the Device Parameters");
        Key live = CreateKey(parameters, L"Firmware", REG_OPTION_VOLATILE);
        SetBinary(live.get(), L"Functions", GetBinary(saved.get(), L"Functions"));
        SetBinary(live.get(), L"Reports", GetBinary(entry.get(), L"SavedReports"));
    });
    SetString(entry.get(), L"InstanceId", id);
    InstallDriver(id, ProgramFolder() + L"\\" + kDriverInf);
    if (const std::wstring inf = DriverInfName(id); !inf.empty()) SetString(state, L"DriverInf", inf);
    if (!WaitForHidChild(id, true, kDeviceTimeoutMs))
        throw WinError("waiting for the HID device of " + Narrow(id), ERROR_TIMEOUT);
}

void UnplugNode(HKEY state, const HidNode& node) {
    Key entry = OpenKey(state, node.stateKey);
    {
        Key live = LiveFirmware(node);
        if (live) {
            Key saved = OpenKey(entry.get(), L"Parameters");
            SetBinary(saved.get(), L"Functions", GetBinary(live.get(), L"Functions"));
            SetBinary(entry.get(), L"SavedReports", GetBinary(live.get(), L"Reports"));
        }
    }
    RemoveNode(node.instanceId);
    SetString(entry.get(), L"InstanceId", L"");
    if (!WaitForHidChild(node.instanceId, false, kDeviceTimeoutMs))
        throw WinError("waiting for the HID device of " + Narrow(node.instanceId) + " to go", ERROR_TIMEOUT);
    // As on Windows, an unplugged collection's node is no longer listed as present.
    RemoveNode(HidChildInstanceId(node.instanceId));
}

// What installing the driver leaves beside the devices: its service, its image and the INF
// copy with its precompiled form (Wine's SetupUninstallOEMInf would leave the .pnf).
void RemoveDriver(const std::wstring& infCopy) {
    SC_HANDLE scm = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) throw WinError("OpenSCManager", ::GetLastError());
    if (SC_HANDLE service = ::OpenServiceW(scm, kDriverService, SERVICE_STOP | DELETE)) {
        SERVICE_STATUS status;
        ::ControlService(service, SERVICE_CONTROL_STOP, &status);
        const BOOL deleted = ::DeleteService(service);
        const DWORD error = ::GetLastError();
        ::CloseServiceHandle(service);
        if (!deleted && error != ERROR_SERVICE_MARKED_FOR_DELETE) {
            ::CloseServiceHandle(scm);
            throw WinError("DeleteService(tavovpad)", error);
        }
    }
    ::CloseServiceHandle(scm);
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    std::vector<std::wstring> files = {std::wstring(windows) + L"\\system32\\drivers\\" + kDriverFile};
    if (!infCopy.empty()) {
        const std::wstring inf = std::wstring(windows) + L"\\inf\\" + infCopy;
        files.push_back(inf);
        files.push_back(inf.substr(0, inf.size() - 4) + L".pnf");
    }
    for (const auto& file : files)
        if (!::DeleteFileW(file.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
            throw WinError("deleting " + Narrow(file), ::GetLastError());
}

// Takes away everything the state says install made; goes on past failures and reports
// the first.
void RemoveEverything() {
    Key state = OpenState();
    if (!state) return;
    std::optional<WinError> first;
    auto attempt = [&](auto&& step) {
        try {
            step();
        } catch (const WinError& e) {
            if (!first) first = e;
        }
    };
    for (const auto& node : HidNodes(state.get()))
        if (!node.instanceId.empty()) attempt([&] { UnplugNode(state.get(), node); });
    {
        Key nodes = OpenKey(state.get(), L"Nodes");
        for (DWORD i = 0;; ++i) {
            wchar_t name[64];
            DWORD chars = 64;
            if (::RegEnumValueW(nodes.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            const std::wstring id = GetString(nodes.get(), name);
            attempt([&] { RemoveNode(id); });
        }
    }
    if (const std::wstring folder = GetString(state.get(), L"CompanionFolder"); !folder.empty())
        attempt([&] { DeleteTree(folder); });
    attempt([&] {
        Key undo = OpenKey(state.get(), L"Undo");
        if (undo) RegistryUndo::Undo(undo.get());
    });
    const std::wstring infCopy = GetString(state.get(), L"DriverInf");
    attempt([&] { RemoveDriver(infCopy); });
    state = Key();
    attempt([] { Check(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey), "deleting the installer's state"); });
    if (first) throw *first;
}

// ---- commands -----------------------------------------------------------------------------

// Reads the collection back as a program sees it (attributes, capabilities, feature value
// capabilities through the system's HID parser) and throws unless it is what the file says.
void CheckCollection(const std::wstring& path, const HidSheet& hid) {
    HANDLE device = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) throw WinError("opening " + Narrow(path), ::GetLastError());
    std::string wrong;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    std::vector<HIDP_VALUE_CAPS> values;
    if (!::HidD_GetAttributes(device, &attributes) || !::HidD_GetPreparsedData(device, &preparsed) ||
        ::HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        wrong = "its attributes or capabilities cannot be read";
    } else {
        USHORT n = caps.NumberFeatureValueCaps;
        values.resize(n);
        if (n && ::HidP_GetValueCaps(HidP_Feature, values.data(), &n, preparsed) != HIDP_STATUS_SUCCESS) n = 0;
        values.resize(n);
    }
    if (preparsed) ::HidD_FreePreparsedData(preparsed);
    ::CloseHandle(device);
    auto differs = [&](const char* what, long got, long want) {
        if (wrong.empty() && got != want)
            wrong = std::string(what) + " reads " + std::to_string(got) + ", the file says " + std::to_string(want);
    };
    differs("the vendor id", attributes.VendorID, hid.vendorId);
    differs("the product id", attributes.ProductID, hid.productId);
    differs("the version number", attributes.VersionNumber, hid.versionNumber);
    differs("the usage page", caps.UsagePage, hid.usagePage);
    differs("the usage", caps.Usage, hid.usage);
    differs("the count of feature values", static_cast<long>(values.size()), static_cast<long>(hid.featureValues.size()));
    for (std::size_t i = 0; wrong.empty() && i < values.size(); ++i) {
        const HIDP_VALUE_CAPS& v = values[i];
        const auto& f = hid.featureValues[i];
        const std::string at = "feature value " + std::to_string(i) + ": ";
        differs((at + "report id").c_str(), v.ReportID, f.reportId);
        differs((at + "usage page").c_str(), v.UsagePage, f.usagePage);
        differs((at + "usage").c_str(), v.IsRange ? v.Range.UsageMin : v.NotRange.Usage, f.usage);
        differs((at + "bit size").c_str(), v.BitSize, f.bitSize);
        differs((at + "report count").c_str(), v.ReportCount, f.reportCount);
        differs((at + "logical minimum").c_str(), v.LogicalMin, f.logicalMin);
        differs((at + "logical maximum").c_str(), v.LogicalMax, f.logicalMax);
        differs((at + "physical minimum").c_str(), v.PhysicalMin, f.physicalMin);
        differs((at + "physical maximum").c_str(), v.PhysicalMax, f.physicalMax);
    }
    if (!wrong.empty()) throw WinError("reading back hid \"" + hid.name + "\" (" + wrong + ")", ERROR_INVALID_DATA);
}

std::wstring DeviceName(const HidSheet& hid) {
    wchar_t name[32];
    std::swprintf(name, 32, L"VID_%04X&PID_%04X", hid.vendorId, hid.productId);
    return name;
}

// Writes the parameters the driver reads into the state's copy, from which every plug of the
// node takes them.
void SaveParameters(HKEY entry, const HidSheet& hid, std::size_t index) {
    Key p = CreateKey(entry, L"Parameters");
    SetBinary(p.get(), L"ReportDescriptor", BuildReportDescriptor(hid));
    SetDword(p.get(), L"VendorID", hid.vendorId);
    SetDword(p.get(), L"ProductID", hid.productId);
    SetDword(p.get(), L"VersionNumber", hid.versionNumber);
    SetString(p.get(), L"Product", hid.description);
    SetString(p.get(), L"Manufacturer", L"Virtual laptop");
    wchar_t serial[8];
    std::swprintf(serial, 8, L"%04u", static_cast<unsigned>(index));
    SetString(p.get(), L"SerialNumber", serial);
    SetDword(p.get(), L"HasFirmware", hid.firmware ? 1 : 0);
    const auto table = hid.firmware ? EncodeTable(hid.firmware->functions) : std::vector<std::uint8_t>{};
    SetBinary(p.get(), L"Functions", table);
    SetBinary(entry, L"InitialFunctions", table);
    std::vector<std::uint8_t> refused;
    if (hid.firmware)
        for (std::uint16_t f : hid.firmware->refused) refused.insert(refused.end(), {static_cast<std::uint8_t>(f & 0xFF), static_cast<std::uint8_t>(f >> 8)});
    SetBinary(p.get(), L"Refused", refused);
    SetDword(p.get(), L"RefuseAll", 0);
}

int Install(const std::string& file, std::optional<int> windows, bool companion) {
    // Everything that can be refused is refused before the first change.
    LaptopSheet laptop;
    try {
        laptop = tavo::laptops::LoadLaptopFile(tavo::laptops::FindLaptopFile(file));
        for (const auto& hid : laptop.hid) {
            BuildReportDescriptor(hid);
            if (hid.firmware && hid.firmware->functions.size() > kMaxFunctions)
                throw UsageError{"hid \"" + hid.name + "\": the driver's table holds at most 512 functions"};
        }
    } catch (const tavo::laptops::LaptopFileError& e) {
        throw UsageError{e.what()};
    } catch (const DescriptorError& e) {
        throw UsageError{laptop.file + ": " + e.what()};
    }
    const tavo::laptops::WindowsSheet version = windows ? tavo::laptops::WindowsByName(*windows) : laptop.windows;
    for (const wchar_t* name : {kDriverFile, kDriverInf})
        if (!Exists(ProgramFolder() + L"\\" + name))
            throw UsageError{"the driver's " + Narrow(name) + " is not beside the installer in " + Narrow(ProgramFolder())};
    if (Key state = OpenState(KEY_READ))
        throw UsageError{"a laptop is already installed (" + Narrow(GetString(state.get(), L"File")) + "); remove it first"};
    const std::wstring folder = companion ? CompanionFolder() : std::wstring();

    Key state = CreateKey(HKEY_LOCAL_MACHINE, kStateKey);
    try {
        SetString(state.get(), L"File", Widen(laptop.file));
        Key undoLog = CreateKey(state.get(), L"Undo");
        RegistryUndo registry(undoLog.get());
        registry.SetValue(kVersionKey, L"ProductName", REG_SZ, Bytes(version.productName));
        registry.SetValue(kVersionKey, L"ReleaseId", REG_SZ, Bytes(version.releaseId));
        registry.SetValue(kVersionKey, L"CurrentBuild", REG_SZ, Bytes(version.currentBuild));
        registry.SetValue(kVersionKey, L"CurrentMajorVersionNumber", REG_DWORD, Bytes(version.major));
        registry.SetValue(kVersionKey, L"CurrentMinorVersionNumber", REG_DWORD, Bytes(version.minor));
        registry.SetValue(kVersionKey, L"UBR", REG_DWORD, Bytes(version.ubr));
        for (const auto& op : laptop.registry) registry.Apply(op);
        std::printf("laptop %s: %s\n", laptop.name.c_str(), laptop.description.c_str());
        std::printf("windows: build %s\n", Narrow(version.currentBuild).c_str());
        std::printf("registry: %zu operations from %s\n", laptop.registry.size(), laptop.registryFile.c_str());

        Key nodes = CreateKey(state.get(), L"Nodes");
        auto driverless = [&](const GUID& setupClass, const wchar_t* name, const tavo::laptops::DeviceSheet& d,
                              const char* what) {
            const std::wstring id = CreateRootNode({setupClass, name, d.hardwareIds, d.description, d.manufacturer});
            wchar_t slot[16];
            DWORD values = 0;
            ::RegQueryInfoKeyW(nodes.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr);
            std::swprintf(slot, 16, L"%02lu", static_cast<unsigned long>(values));
            SetString(nodes.get(), slot, id);
            std::printf("%s: %s (%s)\n", what, Narrow(id).c_str(), Narrow(d.description).c_str());
        };
        for (const auto& mouse : laptop.mice) driverless(kMouseClass, L"VLAPTOP_MOUSE", mouse, "mouse");
        if (laptop.softwareComponent) {
            GUID swc;
            std::memcpy(&swc, &tavo::kSoftwareComponentClass, sizeof swc);
            driverless(swc, L"VLAPTOP_SWC", *laptop.softwareComponent, "software component");
        }

        for (std::size_t i = 0; i < laptop.hid.size(); ++i) {
            const HidSheet& hid = laptop.hid[i];
            wchar_t slot[16];
            std::swprintf(slot, 16, L"Hid\\%02u", static_cast<unsigned>(i));
            Key entry = CreateKey(state.get(), slot);
            SetString(entry.get(), L"Name", Widen(hid.name));
            SetDword(entry.get(), L"HasFirmware", hid.firmware ? 1 : 0);
            SetString(entry.get(), L"DeviceName", DeviceName(hid));
            SetString(entry.get(), L"Description", hid.description);
            std::wstring ids;
            for (const auto& id : hid.hardwareIds) ids += id + L'\0';
            ids += std::wstring(kDriverMatchId) + L'\0' + L'\0';
            Check(::RegSetValueExW(entry.get(), L"HardwareIds", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(ids.data()),
                                   static_cast<DWORD>(ids.size() * sizeof(wchar_t))),
                  "writing the hardware ids");
            SaveParameters(entry.get(), hid, i);
            PlugNode(state.get(), slot);
            const HidNode node = {slot, hid.name, hid.firmware.has_value(), GetString(entry.get(), L"InstanceId")};
            for (const auto& path : HidChildPaths(node.instanceId)) {
                CheckCollection(path, hid);
                std::printf("hid %s: %s %s\n", hid.name.c_str(), Narrow(node.instanceId).c_str(), Narrow(path).c_str());
            }
        }
        if (companion) {
            const std::wstring made = MakeFolders(folder);
            if (!made.empty()) SetString(state.get(), L"CompanionFolder", made);
            std::printf("companion: %s\n", Narrow(folder).c_str());
        }
    } catch (...) {
        state = Key();
        try {
            RemoveEverything();
        } catch (const WinError& e) {
            std::fprintf(stderr, "vlaptop: while taking back the install: %s\n", e.what());
        }
        throw;
    }
    return 0;
}

void PrintHeader(const HidNode& node, std::size_t targets) {
    if (targets > 1) std::printf("[%s]\n", node.name.c_str());
}

int Table(const std::optional<std::string>& name) {
    Key state = OpenState();
    if (!state) throw UsageError{"no virtual laptop is installed"};
    const auto targets = Targets(state.get(), name);
    for (const auto& node : targets) {
        PrintHeader(node, targets.size());
        Key entry = OpenKey(state.get(), node.stateKey, KEY_READ);
        const auto initial = DecodeTable(GetBinary(entry.get(), L"InitialFunctions"));
        std::vector<std::uint8_t> data;
        if (node.instanceId.empty()) {
            std::printf("(unplugged)\n");
            data = GetBinary(OpenKey(entry.get(), L"Parameters", KEY_READ).get(), L"Functions");
        } else {
            data = GetBinary(LiveFirmware(node).get(), L"Functions");
        }
        for (const auto& [function, value] : DecodeTable(data)) {
            const auto was = initial.find(function);
            std::printf("0x%04X 0x%04X%s\n", function, value, was != initial.end() && was->second == value ? "" : " *");
        }
    }
    return 0;
}

int Reports(const std::optional<std::string>& name, bool clear) {
    Key state = OpenState();
    if (!state) throw UsageError{"no virtual laptop is installed"};
    const auto targets = Targets(state.get(), name);
    for (const auto& node : targets) {
        PrintHeader(node, targets.size());
        Key entry = OpenKey(state.get(), node.stateKey);
        Key live = node.instanceId.empty() ? Key() : LiveFirmware(node);
        const HKEY holder = live ? live.get() : entry.get();
        const wchar_t* value = live ? L"Reports" : L"SavedReports";
        for (const auto& report : DecodeRecord(GetBinary(holder, value))) std::printf("%s\n", FormatReport(report).c_str());
        if (clear) SetBinary(holder, value, {});
    }
    return 0;
}

int Refuse(const std::optional<std::string>& name, const std::vector<std::string>& what) {
    bool all = false;
    std::vector<std::uint8_t> functions;
    for (const auto& w : what) {
        if (w == "all" || w == "none") {
            if (what.size() != 1) throw UsageError{"refuse takes \"all\", \"none\" or functions, not a mix"};
            all = w == "all";
            continue;
        }
        char* end = nullptr;
        const unsigned long f = std::strtoul(w.c_str(), &end, 16);
        if (w.empty() || *end || f > 0xFFFF) throw UsageError{"refuse: \"" + w + "\" is not a 16-bit function (0x03A1)"};
        functions.insert(functions.end(), {static_cast<std::uint8_t>(f & 0xFF), static_cast<std::uint8_t>(f >> 8)});
    }
    Key state = OpenState();
    if (!state) throw UsageError{"no virtual laptop is installed"};
    for (const auto& node : Targets(state.get(), name)) {
        Key saved = OpenKey(OpenKey(state.get(), node.stateKey).get(), L"Parameters");
        Key live = node.instanceId.empty() ? Key() : OpenDeviceParameters(node.instanceId, KEY_ALL_ACCESS);
        for (HKEY k : {saved.get(), live.get()}) {
            if (!k) continue;
            SetBinary(k, L"Refused", functions);
            SetDword(k, L"RefuseAll", all ? 1 : 0);
        }
    }
    return 0;
}

int Plug(const std::optional<std::string>& name, bool plug) {
    Key state = OpenState();
    if (!state) throw UsageError{"no virtual laptop is installed"};
    const auto targets = Targets(state.get(), name);
    for (const auto& node : targets)
        if (node.instanceId.empty() == plug) continue;
        else if (plug)
            throw UsageError{"\"" + node.name + "\" is plugged in"};
        else
            throw UsageError{"\"" + node.name + "\" is unplugged already"};
    for (const auto& node : targets) {
        if (plug)
            PlugNode(state.get(), node.stateKey);
        else
            UnplugNode(state.get(), node);
        std::printf("%s %s\n", node.name.c_str(), plug ? "plugged in" : "unplugged");
    }
    return 0;
}

int Run(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Narrow(argv[i]));
    if (args.empty()) throw UsageError{"a command is needed; see --help"};
    const std::string command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    std::optional<std::string> hid, file;
    std::optional<int> windows;
    bool companion = false, clear = false;
    std::vector<std::string> rest;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
            return args[++i];
        };
        if (a == "--hid" && command != "install" && command != "remove")
            hid = value();
        else if (a == "--windows" && command == "install") {
            const std::string v = value();
            if (v != "10" && v != "11") throw UsageError{"--windows takes 10 or 11, not \"" + v + "\""};
            windows = std::stoi(v);
        } else if (a == "--companion" && command == "install")
            companion = true;
        else if (a == "--clear" && command == "reports")
            clear = true;
        else if (a.rfind("--", 0) == 0)
            throw UsageError{"\"" + a + "\" is not an option of " + command + "; see --help"};
        else
            rest.push_back(a);
    }
    auto noMore = [&] {
        if (!rest.empty()) throw UsageError{command + " takes no \"" + rest.front() + "\"; see --help"};
    };
    if (command == "install") {
        if (rest.size() != 1) throw UsageError{"install takes one laptop file; see --help"};
        return Install(rest.front(), windows, companion);
    }
    if (command == "remove") {
        noMore();
        if (!OpenState(KEY_READ)) throw UsageError{"no virtual laptop is installed"};
        RemoveEverything();
        std::printf("removed\n");
        return 0;
    }
    if (command == "table") return noMore(), Table(hid);
    if (command == "reports") return noMore(), Reports(hid, clear);
    if (command == "refuse") {
        if (rest.empty()) throw UsageError{"refuse takes all, none or functions; see --help"};
        return Refuse(hid, rest);
    }
    if (command == "unplug" || command == "plug") return noMore(), Plug(hid, command == "plug");
    throw UsageError{"unknown command \"" + command + "\"; see --help"};
}

}  // namespace
}  // namespace vlaptop

int wmain(int argc, wchar_t** argv) {
    try {
        return vlaptop::Run(argc, argv);
    } catch (const vlaptop::UsageError& e) {
        std::fprintf(stderr, "vlaptop: %s\n", e.message.c_str());
        return 2;
    } catch (const vlaptop::WinError& e) {
        std::fprintf(stderr, "vlaptop: %s\n", e.what());
        return 1;
    }
}
