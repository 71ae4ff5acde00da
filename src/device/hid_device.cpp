#include "device/hid_device.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>

#include "device/feature_report.h"
#include "device/system_probes.h"
#include "platform/devices.h"
#include "platform/hid.h"
#include "log/trace_log.h"

namespace tavo {
namespace {

// The interface detail buffer is 1024 bytes: 4 bytes of header, the rest UTF-16 path.
constexpr win::DWORD kDetailPathChars = (1024 - 4) / 2;
// Device property buffers are 520 bytes of UTF-16.
constexpr std::size_t kPropertyChars = 260;
constexpr win::DWORD kAccessTries[] = {win::GENERIC_READ | win::GENERIC_WRITE, win::GENERIC_READ, win::GENERIC_WRITE,
                                       0};

template <typename T, std::size_t N>
bool OneOf(T value, const T (&set)[N]) {
    return std::find(std::begin(set), std::end(set), value) != std::end(set);
}

// Copies at most kHidIdChars - 1 characters and terminates.
void CopyId(wchar_t* to, const wchar_t* from) {
    const std::size_t n = std::min(std::wcslen(from), kHidIdChars - 1);
    std::copy_n(from, n, to);
    to[n] = L'\0';
}

// The first string of the interface's hardware ids, or empty.
void ReadHardwareId(win::HDEVINFO set, win::DWORD index, wchar_t* out) {
    out[0] = L'\0';
    win::SP_DEVINFO_DATA device{};
    if (win::Devices().SetupDiEnumDeviceInfo(set, index, &device) != win::ERROR_SUCCESS) return;
    // The spare last character stays NUL, so the first string ends inside the buffer.
    wchar_t ids[kPropertyChars + 1] = {};
    if (win::Devices().SetupDiGetDeviceRegistryPropertyW(set, device, win::SPDRP_HARDWAREID, nullptr,
                                                         reinterpret_cast<win::BYTE*>(ids),
                                                         kPropertyChars * sizeof(wchar_t),
                                                         nullptr) != win::ERROR_SUCCESS)
        return;
    CopyId(out, ids);
}

// Whether the open collection is the touchpad; logs the ranges of each vendor report value.
bool Qualifies(win::HANDLE device) {
    win::HIDD_ATTRIBUTES attributes{12, 0, 0, 0};
    if (win::Hid().HidD_GetAttributes(device, &attributes) != win::ERROR_SUCCESS ||
        !OneOf(attributes.VendorID, kTavoVendorIds) || !OneOf(attributes.ProductID, kTavoProductIds))
        return false;
    win::UniquePreparsedData preparsed;
    if (win::Hid().HidD_GetPreparsedData(device, preparsed.put()) != win::ERROR_SUCCESS) return false;
    win::HIDP_CAPS caps{};
    if (win::Hid().HidP_GetCaps(preparsed.get(), &caps) != win::HIDP_STATUS_SUCCESS) return false;
    if (caps.NumberFeatureValueCaps == 0) return false;
    std::vector<win::HIDP_VALUE_CAPS> values(caps.NumberFeatureValueCaps, win::HIDP_VALUE_CAPS{});
    win::USHORT n = caps.NumberFeatureValueCaps;
    if (win::Hid().HidP_GetValueCaps(win::HidP_Feature, values.data(), &n, preparsed.get()) !=
        win::HIDP_STATUS_SUCCESS)
        return false;
    bool found = false;
    for (std::size_t i = 0; i < std::min<std::size_t>(n, values.size()); ++i) {
        if (values[i].ReportID != kFeatureReportId) continue;
        found = true;
        TraceLog("Device Logical  (%d, %d)\r\n", values[i].LogicalMin, values[i].LogicalMax);
        TraceLog("Device Physical (%d, %d)\r\n", values[i].PhysicalMin, values[i].PhysicalMax);
    }
    return found;
}

}  // namespace

int HID_GetDevice(wchar_t (*paths)[kHidIdChars], wchar_t (*hardwareIds)[kHidIdChars], int* count) {
    win::GUID hidGuid{};
    win::Hid().HidD_GetHidGuid(&hidGuid);
    win::UniqueDevInfo set;
    if (win::Devices().SetupDiGetClassDevsW(hidGuid, win::DIGCF_PRESENT | win::DIGCF_DEVICEINTERFACE, set.put()) !=
        win::ERROR_SUCCESS) {
        TraceLog("HID_GetDevice::SetupDiGetClassDevs fail\n");
        return 0;
    }
    auto path = std::make_unique<wchar_t[]>(kDetailPathChars);
    win::SP_DEVICE_INTERFACE_DATA iface{};
    for (win::DWORD i = 0; *count < kHidMaxDevices &&
                           win::Hid().SetupDiEnumDeviceInterfaces(set.get(), hidGuid, i, &iface) == win::ERROR_SUCCESS;
         ++i) {
        if (win::Hid().SetupDiGetDeviceInterfaceDetailW(set.get(), iface, path.get(), kDetailPathChars, nullptr) !=
            win::ERROR_SUCCESS)
            continue;
        if (std::wcslen(path.get()) >= kHidIdChars) continue;
        std::wcscpy(paths[*count], path.get());
        ReadHardwareId(set.get(), i, hardwareIds[*count]);
        ++*count;
    }
    // Also logged at exactly kHidMaxDevices, when nothing was left out.
    if (*count >= kHidMaxDevices) TraceLog("HID_GetDevice::Too many HID device!\n");
    return 1;
}

win::UniqueDeviceHandle OpenHidDevice(const wchar_t* path, win::DWORD* grantedAccess) {
    win::UniqueDeviceHandle device;
    for (win::DWORD access : kAccessTries) {
        if (win::Hid().CreateFileW(path, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0,
                                   device.put()) == win::ERROR_SUCCESS) {
            if (grantedAccess) *grantedAccess = access;
            break;
        }
    }
    return device;
}

int ScanTavoHidDevice(TavoTouchpad* touchpad) {
    struct Tables {
        wchar_t paths[kHidMaxDevices][kHidIdChars];
        wchar_t hardwareIds[kHidMaxDevices][kHidIdChars];
    };
    // 128 KiB: too much for a thread-pool stack. Only the first `count` entries are ever
    // written and read, so the rest is left as allocated rather than zeroed on every scan.
    auto tables = std::make_unique_for_overwrite<Tables>();
    int count = 0;
    int selected = -1;

    GetPSTDeivce();
    ApplyWin11Rule(RefreshWinOSInfo());

    if (!HID_GetDevice(tables->paths, tables->hardwareIds, &count)) {
        TraceLog("ScanTavoHidDevice::HID_GetDevice fail\r\n");
        return 0;
    }
    TraceLog("ScanTavoHidDevice::Hid Device Count = %d\r\n", count);

    for (int i = 0; i < count; ++i) {
        win::UniqueDeviceHandle device = OpenHidDevice(tables->paths[i], nullptr);
        if (!device) continue;
        if (Qualifies(device.get())) selected = i;  // a later collection replaces an earlier one
    }
    if (count == 0 || selected < 0) {
        TraceLog("ScanTavoHidDevice::Error: Cannot found any Tavo HID Device\r\n");
        return 0;
    }

    win::UniqueDeviceHandle reopened = OpenHidDevice(tables->paths[selected], nullptr);
    TraceLog("ScanTavoHidDevice::HID Device Select Index = %d, HID Handle = 0x%x\r\n", selected,
             static_cast<unsigned>(static_cast<std::uint64_t>(reopened.get())));
    TraceLog("ScanTavoHidDevice::HID Device Select Index = %d, Hwid = %ws\r\n", selected,
             tables->hardwareIds[selected]);
    touchpad->handle = std::move(reopened);
    CopyId(touchpad->hardwareId, tables->hardwareIds[selected]);
    return 1;
}

}  // namespace tavo
