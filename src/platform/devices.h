// Device manager facet (setupapi device information sets and cfgmgr32): the present
// devices of a setup class, their registry properties and their device-node state.
#pragma once

#include "platform/platform.h"

namespace win {

class DeviceManager {
public:
    virtual ~DeviceManager() = default;

    // SetupDiGetClassDevsW(classGuid, no enumerator, no window, flags). With
    // DIGCF_DEVICEINTERFACE classGuid is an interface class (walked through HidDevices),
    // otherwise a setup class; DIGCF_ALLCLASSES ignores it. An empty set is a success.
    virtual DWORD SetupDiGetClassDevsW(const GUID& classGuid, DWORD flags, HDEVINFO* out) = 0;
    // ERROR_NO_MORE_ITEMS past the last element.
    virtual DWORD SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* out) = 0;
    // Sizes in bytes. A property that does not fit gives ERROR_INSUFFICIENT_BUFFER and
    // *required, and leaves buffer untouched; a property the device lacks gives
    // ERROR_INVALID_DATA. regType and required may be null.
    virtual DWORD SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, const SP_DEVINFO_DATA& device, DWORD property,
                                                    DWORD* regType, BYTE* buffer, DWORD size, DWORD* required) = 0;
    virtual DWORD SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;
    // CONFIGRET results (CR_SUCCESS ...), as cfgmgr32 returns them.
    virtual CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problem, DEVINST node, DWORD flags) = 0;
};

inline DeviceManager& Devices() { return *P().devices; }

}  // namespace win
