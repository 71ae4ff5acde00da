#include "platform/devices.h"
#include "platform/win32/win32_common.h"

#include <cfgmgr32.h>
#include <setupapi.h>

namespace win32 {
namespace {

inline HDEVINFO Set(win::HDEVINFO h) { return Raw<void>(h); }

SP_DEVINFO_DATA ToDevInfo(const win::SP_DEVINFO_DATA& d) {
    SP_DEVINFO_DATA out{};
    out.cbSize = sizeof out;
    out.ClassGuid = ToGuid(d.ClassGuid);
    out.DevInst = d.DevInst;
    out.Reserved = static_cast<ULONG_PTR>(d.Reserved);
    return out;
}

class Win32Devices : public win::DeviceManager {
public:
    win::DWORD SetupDiGetClassDevsW(const win::GUID& classGuid, win::DWORD flags, win::HDEVINFO* out) override {
        const ::GUID g = ToGuid(classGuid);
        HDEVINFO set = ::SetupDiGetClassDevsW(&g, nullptr, nullptr, flags);
        if (set == INVALID_HANDLE_VALUE) return ::GetLastError();
        *out = Wrap<win::HDEVINFO>(set);
        return ERROR_SUCCESS;
    }
    win::DWORD SetupDiEnumDeviceInfo(win::HDEVINFO set, win::DWORD index, win::SP_DEVINFO_DATA* out) override {
        SP_DEVINFO_DATA d{};
        d.cbSize = sizeof d;
        if (!::SetupDiEnumDeviceInfo(Set(set), index, &d)) return ::GetLastError();
        std::memcpy(&out->ClassGuid, &d.ClassGuid, sizeof d.ClassGuid);
        out->DevInst = d.DevInst;
        out->Reserved = static_cast<std::uint64_t>(d.Reserved);
        return ERROR_SUCCESS;
    }
    win::DWORD SetupDiGetDeviceRegistryPropertyW(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device,
                                                 win::DWORD property, win::DWORD* regType, win::BYTE* buffer,
                                                 win::DWORD size, win::DWORD* required) override {
        SP_DEVINFO_DATA d = ToDevInfo(device);
        DWORD type = 0, need = 0;
        if (!::SetupDiGetDeviceRegistryPropertyW(Set(set), &d, property, &type, buffer, size, &need)) {
            const DWORD e = ::GetLastError();
            if (required && e == ERROR_INSUFFICIENT_BUFFER) *required = need;
            return e;
        }
        if (regType) *regType = type;
        if (required) *required = need;
        return ERROR_SUCCESS;
    }
    win::DWORD SetupDiDestroyDeviceInfoList(win::HDEVINFO set) override {
        return LastErrorOr(::SetupDiDestroyDeviceInfoList(Set(set)));
    }
    win::CONFIGRET CM_Get_DevNode_Status(win::DWORD* status, win::DWORD* problem, win::DEVINST node,
                                         win::DWORD flags) override {
        ULONG s = 0, p = 0;
        const CONFIGRET r = ::CM_Get_DevNode_Status(&s, &p, node, flags);
        if (r == CR_SUCCESS) {
            *status = s;
            *problem = p;
        }
        return r;
    }
};

}  // namespace

win::DeviceManager& DeviceManager() {
    static Win32Devices instance;
    return instance;
}

}  // namespace win32
