// A model of the device manager and the HID class: device nodes of setup classes with
// their properties and node state, HID collections (each its own device node of the HID
// class, as Windows enumerates them) with attributes, feature value capabilities, an
// open-access policy and, behind the vendor report, a firmware model. Device information
// sets are snapshots taken when the set is created, as in Windows.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/devices.h"
#include "platform/hid.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_touchpad_firmware.h"

namespace sim {

// A device node as the device manager shows it.
struct Device {
    win::GUID setupClass = win::GUID_DEVCLASS_MOUSE;
    std::wstring description;               // SPDRP_DEVICEDESC; empty: the device has none
    std::vector<std::wstring> hardwareIds;  // SPDRP_HARDWAREID, most specific first
    std::wstring manufacturer;              // SPDRP_MFG
    win::DWORD status = win::DN_DRIVER_LOADED | win::DN_STARTED | win::DN_DISABLEABLE;
    win::DWORD problem = 0;
    // A property's bytes exactly as stored, in place of the text above: what a driver wrote
    // need not be terminated, nor whole characters long.
    std::map<win::DWORD, std::vector<win::BYTE>> rawProperties;
};

// One feature value capability of a collection.
struct FeatureValue {
    win::BYTE reportId = 0;
    win::USHORT usagePage = 0xFF00;
    win::USHORT usage = 0x0001;
    win::USHORT bitSize = 16;
    win::USHORT reportCount = 1;
    win::LONG logicalMin = 0;
    win::LONG logicalMax = 0xFFFF;
    win::LONG physicalMin = 0;
    win::LONG physicalMax = 0;
};

// A HID collection: its device node (class HIDClass) and its interface.
struct HidInterface {
    std::wstring path;
    std::vector<std::wstring> hardwareIds;
    std::map<win::DWORD, std::vector<win::BYTE>> rawProperties;  // as Device's
    std::wstring description = L"HID-compliant vendor-defined device";
    win::USHORT vendorId = 0;
    win::USHORT productId = 0;
    win::USHORT versionNumber = 0x0100;
    win::USHORT usagePage = 0xFF00;
    win::USHORT usage = 0x0001;
    std::vector<FeatureValue> featureValues;
    // 0: one report id byte plus the largest feature report's data.
    win::USHORT featureReportByteLength = 0;
    // The data access CreateFileW grants. The system opens keyboard and mouse collections
    // exclusively, so for them only an open without data access (0) succeeds.
    win::DWORD grantableAccess = win::GENERIC_READ | win::GENERIC_WRITE;
    // Answers the feature reports; none: every feature report stalls.
    std::shared_ptr<TouchpadFirmware> firmware;
    // The collection is removed once it has been opened this many times (-1: never).
    int vanishAfterOpens = -1;
};

class SimDevices : public win::HidDevices, public win::DeviceManager {
public:
    SimDevices(FaultPlan& faults, HandleTable& handles);
    ~SimDevices() override;

    // ---- HidDevices ----
    void HidD_GetHidGuid(win::GUID* out) override;
    win::DWORD SetupDiEnumDeviceInterfaces(win::HDEVINFO set, const win::GUID& interfaceClass, win::DWORD index,
                                           win::SP_DEVICE_INTERFACE_DATA* out) override;
    win::DWORD SetupDiGetDeviceInterfaceDetailW(win::HDEVINFO set, const win::SP_DEVICE_INTERFACE_DATA& iface,
                                                wchar_t* devicePath, win::DWORD pathChars,
                                                win::DWORD* requiredChars) override;
    win::DWORD CreateFileW(const wchar_t* path, win::DWORD access, win::DWORD share, win::DWORD creation,
                           win::DWORD flags, win::HANDLE* out) override;
    win::DWORD CloseHandle(win::HANDLE handle) override;
    win::DWORD HidD_GetAttributes(win::HANDLE device, win::HIDD_ATTRIBUTES* attributes) override;
    win::DWORD HidD_GetPreparsedData(win::HANDLE device, win::PHIDP_PREPARSED_DATA* out) override;
    win::DWORD HidD_FreePreparsedData(win::PHIDP_PREPARSED_DATA data) override;
    win::NTSTATUS HidP_GetCaps(win::PHIDP_PREPARSED_DATA data, win::HIDP_CAPS* caps) override;
    win::NTSTATUS HidP_GetValueCaps(win::DWORD reportType, win::HIDP_VALUE_CAPS* caps, win::USHORT* length,
                                    win::PHIDP_PREPARSED_DATA data) override;
    win::DWORD HidD_SetFeature(win::HANDLE device, const win::BYTE* report, win::ULONG length) override;
    win::DWORD HidD_GetFeature(win::HANDLE device, win::BYTE* report, win::ULONG length) override;

    // ---- DeviceManager ----
    win::DWORD SetupDiGetClassDevsW(const win::GUID& classGuid, win::DWORD flags, win::HDEVINFO* out) override;
    win::DWORD SetupDiEnumDeviceInfo(win::HDEVINFO set, win::DWORD index, win::SP_DEVINFO_DATA* out) override;
    win::DWORD SetupDiGetDeviceRegistryPropertyW(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device,
                                                 win::DWORD property, win::DWORD* regType, win::BYTE* buffer,
                                                 win::DWORD size, win::DWORD* required) override;
    win::DWORD SetupDiDestroyDeviceInfoList(win::HDEVINFO set) override;
    win::CONFIGRET CM_Get_DevNode_Status(win::DWORD* status, win::DWORD* problem, win::DEVINST node,
                                         win::DWORD flags) override;

    // ---- set-up and inspection for tests ----
    // Nodes are enumerated in the order they were added.
    win::DEVINST Add(Device device);
    win::DEVINST AddHid(HidInterface hid);
    // Device Manager's yellow bang: DN_HAS_PROBLEM with the problem number, not started.
    // A HID collection that is not started loses its interface: present-interface sets
    // leave it out and its path no longer opens. CM_PROB_DISABLED is a disabled node.
    void SetProblem(win::DEVINST node, win::DWORD problem);
    // Surprise removal: the node leaves every later set, opens fail, open handles go dead.
    void Unplug(win::DEVINST node);
    // The unplugged node is back, its firmware restarted with the table it had (no read
    // request outstanding); handles opened before the removal stay dead.
    void Replug(win::DEVINST node);
    int OpenCount(std::wstring_view path) const;  // successful CreateFileW calls
    int OpenDeviceFiles() const;                  // device files not yet closed

private:
    struct Node {
        win::DEVINST id;
        Device device;
        std::optional<HidInterface> hid;
        std::wstring pathKey;  // the collection's path in upper case, as opens compare it
        bool present = true;
        int opens = 0;
        int plugs = 0;  // how often it came back: handles of an earlier presence are dead
    };
    struct Set {
        std::vector<std::shared_ptr<Node>> elements;
        bool interfaces = false;
        win::GUID interfaceClass{};
    };
    struct File {
        std::shared_ptr<Node> node;
        win::DWORD access;
        int plugs;  // the node's when the file was opened
    };
    const Set* FindSet(win::HDEVINFO set) const;
    // The open collection behind a device handle, or the error the call fails with.
    win::DWORD Collection(win::HANDLE device, std::shared_ptr<Node>* node) const;
    static win::USHORT FeatureLength(const HidInterface& hid);
    win::DWORD FeatureTarget(win::HANDLE device, const win::BYTE* report, win::ULONG length,
                             std::shared_ptr<Node>* node) const;

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<Node>> nodes_;
    win::DEVINST nextNode_ = 1;
    std::map<std::uint64_t, Set> sets_;
    std::map<std::uint64_t, File> files_;
    std::map<std::uint64_t, std::shared_ptr<Node>> preparsed_;
    std::map<std::wstring, int> opensByPath_;  // by upper-case path
};

}  // namespace sim
