// HID class facet (hid.dll and the device-interface half of setupapi): the interfaces of
// an interface class, opening a collection by its device path, and the collection's
// attributes, capabilities and feature reports.
//
// Device information sets come from DeviceManager::SetupDiGetClassDevsW with
// DIGCF_DEVICEINTERFACE and are destroyed there; this facet walks their interfaces.
#pragma once

#include "platform/platform.h"

namespace win {

class HidDevices {
public:
    virtual ~HidDevices() = default;

    virtual void HidD_GetHidGuid(GUID* out) = 0;
    // ERROR_NO_MORE_ITEMS past the last interface of interfaceClass in the set.
    virtual DWORD SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& interfaceClass, DWORD index,
                                              SP_DEVICE_INTERFACE_DATA* out) = 0;
    // The detail's DevicePath, into pathChars characters including the terminator. A path
    // that does not fit gives ERROR_INSUFFICIENT_BUFFER and *requiredChars, and leaves
    // devicePath untouched. requiredChars may be null.
    virtual DWORD SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, const SP_DEVICE_INTERFACE_DATA& iface,
                                                   wchar_t* devicePath, DWORD pathChars, DWORD* requiredChars) = 0;

    // CreateFileW(path, access, share, no security, creation, flags, no template).
    virtual DWORD CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD creation, DWORD flags,
                              HANDLE* out) = 0;
    virtual DWORD CloseHandle(HANDLE handle) = 0;

    // attributes->Size must be 12.
    virtual DWORD HidD_GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) = 0;
    virtual DWORD HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* out) = 0;
    virtual DWORD HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) = 0;
    // HIDP_STATUS_* results, as hid.dll returns them.
    virtual NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) = 0;
    // *length: in, the capacity of caps; out, how many were stored.
    virtual NTSTATUS HidP_GetValueCaps(DWORD reportType, HIDP_VALUE_CAPS* caps, USHORT* length,
                                       PHIDP_PREPARSED_DATA data) = 0;
    // report[0] is the report id. HidD_GetFeature fills the buffer in place.
    virtual DWORD HidD_SetFeature(HANDLE device, const BYTE* report, ULONG length) = 0;
    virtual DWORD HidD_GetFeature(HANDLE device, BYTE* report, ULONG length) = 0;
};

inline HidDevices& Hid() { return *P().hid; }

}  // namespace win
