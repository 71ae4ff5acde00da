#include "platform/hid.h"
#include "platform/win32/win32_common.h"

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <vector>

namespace win32 {
namespace {

inline HANDLE H(win::HANDLE h) { return Raw<void>(h); }
inline HDEVINFO Set(win::HDEVINFO h) { return Raw<void>(h); }
inline PHIDP_PREPARSED_DATA Pre(win::PHIDP_PREPARSED_DATA p) { return Raw<_HIDP_PREPARSED_DATA>(p); }
inline DWORD Ok(BOOLEAN ok) { return ok ? ERROR_SUCCESS : ::GetLastError(); }

class Win32Hid : public win::HidDevices {
public:
    void HidD_GetHidGuid(win::GUID* out) override {
        ::GUID g;
        ::HidD_GetHidGuid(&g);
        std::memcpy(out, &g, sizeof *out);
    }
    win::DWORD SetupDiEnumDeviceInterfaces(win::HDEVINFO set, const win::GUID& interfaceClass, win::DWORD index,
                                           win::SP_DEVICE_INTERFACE_DATA* out) override {
        const ::GUID g = ToGuid(interfaceClass);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(Set(set), nullptr, &g, index, &data)) return ::GetLastError();
        std::memcpy(&out->InterfaceClassGuid, &data.InterfaceClassGuid, sizeof data.InterfaceClassGuid);
        out->Flags = data.Flags;
        out->Reserved = static_cast<std::uint64_t>(data.Reserved);
        return ERROR_SUCCESS;
    }
    win::DWORD SetupDiGetDeviceInterfaceDetailW(win::HDEVINFO set, const win::SP_DEVICE_INTERFACE_DATA& iface,
                                                wchar_t* devicePath, win::DWORD pathChars,
                                                win::DWORD* requiredChars) override {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        const ::GUID g = ToGuid(iface.InterfaceClassGuid);
        data.InterfaceClassGuid = g;
        data.Flags = iface.Flags;
        data.Reserved = static_cast<ULONG_PTR>(iface.Reserved);
        // The detail: a DWORD header, then the path. cbSize is the structure's own size.
        const DWORD bytes = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + pathChars * sizeof(WCHAR);
        std::vector<BYTE> buffer(std::max<DWORD>(bytes, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        DWORD required = 0;
        if (!::SetupDiGetDeviceInterfaceDetailW(Set(set), &data, detail, bytes, &required, nullptr)) {
            const DWORD e = ::GetLastError();
            if (requiredChars && e == ERROR_INSUFFICIENT_BUFFER)
                *requiredChars = (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
            return e;
        }
        const std::size_t n = wcsnlen(detail->DevicePath, pathChars);
        if (n >= pathChars) return ERROR_INSUFFICIENT_BUFFER;
        std::copy_n(detail->DevicePath, n + 1, devicePath);
        return ERROR_SUCCESS;
    }
    win::DWORD CreateFileW(const wchar_t* path, win::DWORD access, win::DWORD share, win::DWORD creation,
                           win::DWORD flags, win::HANDLE* out) override {
        HANDLE h = ::CreateFileW(path, access, share, nullptr, creation, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD CloseHandle(win::HANDLE handle) override { return LastErrorOr(::CloseHandle(H(handle))); }
    win::DWORD HidD_GetAttributes(win::HANDLE device, win::HIDD_ATTRIBUTES* attributes) override {
        HIDD_ATTRIBUTES a{};
        a.Size = attributes->Size;
        if (!::HidD_GetAttributes(H(device), &a)) return ::GetLastError();
        attributes->VendorID = a.VendorID;
        attributes->ProductID = a.ProductID;
        attributes->VersionNumber = a.VersionNumber;
        return ERROR_SUCCESS;
    }
    win::DWORD HidD_GetPreparsedData(win::HANDLE device, win::PHIDP_PREPARSED_DATA* out) override {
        PHIDP_PREPARSED_DATA p = nullptr;
        if (!::HidD_GetPreparsedData(H(device), &p)) return ::GetLastError();
        *out = Wrap<win::PHIDP_PREPARSED_DATA>(p);
        return ERROR_SUCCESS;
    }
    win::DWORD HidD_FreePreparsedData(win::PHIDP_PREPARSED_DATA data) override {
        return Ok(::HidD_FreePreparsedData(Pre(data)));
    }
    win::NTSTATUS HidP_GetCaps(win::PHIDP_PREPARSED_DATA data, win::HIDP_CAPS* caps) override {
        HIDP_CAPS c{};
        const NTSTATUS s = ::HidP_GetCaps(Pre(data), &c);
        if (s != HIDP_STATUS_SUCCESS) return s;
        *caps = win::HIDP_CAPS{c.Usage,
                               c.UsagePage,
                               c.InputReportByteLength,
                               c.OutputReportByteLength,
                               c.FeatureReportByteLength,
                               c.NumberLinkCollectionNodes,
                               c.NumberInputButtonCaps,
                               c.NumberInputValueCaps,
                               c.NumberInputDataIndices,
                               c.NumberOutputButtonCaps,
                               c.NumberOutputValueCaps,
                               c.NumberOutputDataIndices,
                               c.NumberFeatureButtonCaps,
                               c.NumberFeatureValueCaps,
                               c.NumberFeatureDataIndices};
        return s;
    }
    win::NTSTATUS HidP_GetValueCaps(win::DWORD reportType, win::HIDP_VALUE_CAPS* caps, win::USHORT* length,
                                    win::PHIDP_PREPARSED_DATA data) override {
        std::vector<HIDP_VALUE_CAPS> real(*length);
        USHORT n = *length;
        const NTSTATUS s =
            ::HidP_GetValueCaps(static_cast<HIDP_REPORT_TYPE>(reportType), real.data(), &n, Pre(data));
        if (s != HIDP_STATUS_SUCCESS && s != HIDP_STATUS_BUFFER_TOO_SMALL) return s;
        n = std::min<USHORT>(n, *length);
        for (USHORT i = 0; i < n; ++i) {
            const HIDP_VALUE_CAPS& v = real[i];
            caps[i] = win::HIDP_VALUE_CAPS{v.UsagePage,  v.ReportID,   v.LinkCollection, v.BitSize,
                                           v.ReportCount, v.LogicalMin, v.LogicalMax,     v.PhysicalMin,
                                           v.PhysicalMax, v.IsRange ? v.Range.UsageMin : v.NotRange.Usage};
        }
        *length = n;
        return s;
    }
    win::DWORD HidD_SetFeature(win::HANDLE device, const win::BYTE* report, win::ULONG length) override {
        // HidD_SetFeature does not write to the buffer; its prototype is merely not const.
        return Ok(::HidD_SetFeature(H(device), const_cast<win::BYTE*>(report), length));
    }
    win::DWORD HidD_GetFeature(win::HANDLE device, win::BYTE* report, win::ULONG length) override {
        return Ok(::HidD_GetFeature(H(device), report, length));
    }
};

}  // namespace

win::HidDevices& HidDevices() {
    static Win32Hid instance;
    return instance;
}

}  // namespace win32
