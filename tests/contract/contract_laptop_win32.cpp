// Under Wine the laptop is made in the prefix before the tests (tests/contract/laptop_prefix.sh
// puts the installer at C:\vlaptop). Unplugging and plugging run the installer's commands;
// the record and the refusals are read and written where the pad's driver keeps them, in the
// volatile "Firmware" key and the "Device Parameters" of its node: an installer run costs
// about a second under Wine, a registry read a millisecond.
#include "contract/contract_laptop.h"
#include "platform/devices.h"
#include "platform/handles.h"
#include "platform/hid.h"
#include "wine/vlaptop/firmware_record.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>

namespace contract {
namespace {

constexpr wchar_t kInstaller[] = L"C:\\vlaptop\\vlaptop.exe";

// Runs the installer; its standard output. A failure ends the tests: nothing after it would
// mean anything.
std::string Installer(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) std::abort();
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = write;
    start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring command = std::wstring(L"\"") + kInstaller + L"\" " + arguments;
    if (!::CreateProcessW(kInstaller, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
        std::fprintf(stderr, "contract: %ls is missing (error %lu): run the laptop_prefix fixture first\n", kInstaller,
                     ::GetLastError());
        std::exit(1);
    }
    ::CloseHandle(write);
    std::string out;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n) out.append(buffer, n);
    ::CloseHandle(read);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    if (code != 0) {
        std::fprintf(stderr, "contract: vlaptop %ls failed (exit %lu)\n", arguments.c_str(), code);
        std::exit(1);
    }
    return out;
}

// Whether a present HID interface has the pad's ids and usage page.
bool PadPresent() {
    const auto& pad = tavo::laptops::HidNamed(Laptop(), "vendor");
    win::UniqueDevInfo set;
    if (win::Devices().SetupDiGetClassDevsW(win::GUID_DEVINTERFACE_HID, win::DIGCF_PRESENT | win::DIGCF_DEVICEINTERFACE,
                                            set.put()))
        return false;
    win::SP_DEVICE_INTERFACE_DATA iface{};
    for (win::DWORD i = 0; !win::Hid().SetupDiEnumDeviceInterfaces(set.get(), win::GUID_DEVINTERFACE_HID, i, &iface); ++i) {
        wchar_t path[512];
        if (win::Hid().SetupDiGetDeviceInterfaceDetailW(set.get(), iface, path, 512, nullptr)) continue;
        win::UniqueDeviceHandle device;
        if (win::Hid().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0,
                                   device.put()))
            continue;
        win::HIDD_ATTRIBUTES a{12, 0, 0, 0};
        win::UniquePreparsedData preparsed;
        win::HIDP_CAPS caps{};
        if (!win::Hid().HidD_GetAttributes(device.get(), &a) && a.VendorID == pad.vendorId &&
            a.ProductID == pad.productId && !win::Hid().HidD_GetPreparsedData(device.get(), preparsed.put()) &&
            win::Hid().HidP_GetCaps(preparsed.get(), &caps) == win::HIDP_STATUS_SUCCESS &&
            caps.UsagePage == pad.usagePage)
            return true;
    }
    return false;
}

// The pad's "Device Parameters": its node is the installer's entry named "vendor".
HKEY PadParameters() {
    // Read each time: a plugged-in pad is a new node.
    const std::wstring key = [] {
        HKEY hid = nullptr;
        std::wstring found;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TavoVirtualLaptop\\Hid", 0, KEY_READ, &hid) == 0) {
            wchar_t sub[64];
            for (DWORD i = 0; found.empty(); ++i) {
                DWORD chars = 64;
                if (::RegEnumKeyExW(hid, i, sub, &chars, nullptr, nullptr, nullptr, nullptr) != 0) break;
                wchar_t name[64] = {}, id[256] = {};
                DWORD size = sizeof name - sizeof(wchar_t), idSize = sizeof id - sizeof(wchar_t);
                if (::RegGetValueW(hid, sub, L"Name", RRF_RT_REG_SZ, nullptr, name, &size) == 0 &&
                    std::wstring(name) == L"vendor" &&
                    ::RegGetValueW(hid, sub, L"InstanceId", RRF_RT_REG_SZ, nullptr, id, &idSize) == 0)
                    found = std::wstring(L"System\\CurrentControlSet\\Enum\\") + id + L"\\Device Parameters";
            }
            ::RegCloseKey(hid);
        }
        return found;
    }();
    HKEY parameters = nullptr;
    if (key.empty() || ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &parameters) != 0) {
        std::fprintf(stderr, "contract: the pad's Device Parameters are not there: run the laptop_prefix fixture\n");
        std::exit(1);
    }
    return parameters;
}

}  // namespace

const tavo::laptops::LaptopSheet& Laptop() {
    static const tavo::laptops::LaptopSheet sheet =
        tavo::laptops::LoadLaptopFile(tavo::laptops::FindLaptopFile(kLaptopFile));
    return sheet;
}

void InstallLaptop() {
    // Once a run: the prefix's device manager brings the pad back a moment after its server starts.
    static const bool present = [] {
        for (int i = 0; i < 150; ++i) {
            if (PadPresent()) return true;
            ::Sleep(100);
        }
        return false;
    }();
    if (!present) {
        std::fprintf(stderr, "contract: the virtual laptop's pad is not in this prefix: run the laptop_prefix fixture\n");
        std::exit(1);
    }
}

std::vector<std::string> TakePadReports() {
    HKEY parameters = PadParameters();
    std::vector<std::uint8_t> data(512 * 1024);
    DWORD size = static_cast<DWORD>(data.size());
    if (::RegGetValueW(parameters, L"Firmware", L"Reports", RRF_RT_REG_BINARY, nullptr, data.data(), &size) != 0) size = 0;
    data.resize(size);
    HKEY live = nullptr;
    if (::RegOpenKeyExW(parameters, L"Firmware", 0, KEY_SET_VALUE, &live) == 0) {
        ::RegSetValueExW(live, L"Reports", 0, REG_BINARY, nullptr, 0);
        ::RegCloseKey(live);
    }
    ::RegCloseKey(parameters);
    std::vector<std::string> lines;
    for (const auto& report : vlaptop::DecodeRecord(data)) lines.push_back(vlaptop::FormatReport(report));
    return lines;
}

// The driver reads "RefuseAll" afresh for every report.
void RefusePadReports(bool all) {
    HKEY parameters = PadParameters();
    const DWORD value = all ? 1 : 0;
    ::RegSetValueExW(parameters, L"RefuseAll", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ::RegCloseKey(parameters);
}

void UnplugPad() { Installer(L"unplug --hid vendor"); }
void PlugPad() { Installer(L"plug --hid vendor"); }

}  // namespace contract
