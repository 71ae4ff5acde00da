#include "platform/sim/sim_devices.h"

#include <algorithm>
#include <cwctype>

namespace sim {
namespace {

constexpr char kSetKind[] = "HDEVINFO";
constexpr char kFileKind[] = "DeviceFile";
constexpr char kPreparsedKind[] = "PreparsedData";

std::wstring Upper(std::wstring_view s) {
    std::wstring out(s);
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(c));
    return out;
}

template <typename H>
std::uint64_t Raw(H h) {
    return static_cast<std::uint64_t>(h);
}

// Property bytes as the device manager returns them: REG_SZ with its terminator,
// REG_MULTI_SZ with a terminator per string and one more at the end.
std::vector<win::BYTE> PropertyBytes(const std::vector<std::wstring>& strings, bool multi) {
    std::wstring text;
    for (const auto& s : strings) {
        text += s;
        text += L'\0';
        if (!multi) break;
    }
    if (multi) text += L'\0';
    auto p = reinterpret_cast<const win::BYTE*>(text.data());
    return std::vector<win::BYTE>(p, p + text.size() * sizeof(wchar_t));
}

}  // namespace

SimDevices::SimDevices(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}
SimDevices::~SimDevices() = default;

// ---- device manager ------------------------------------------------------------------

win::DWORD SimDevices::SetupDiGetClassDevsW(const win::GUID& classGuid, win::DWORD flags, win::HDEVINFO* out) {
    if (auto e = faults_.Check("SetupDiGetClassDevsW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    Set set;
    set.interfaces = (flags & win::DIGCF_DEVICEINTERFACE) != 0;
    set.interfaceClass = classGuid;
    for (const auto& node : nodes_) {
        if ((flags & win::DIGCF_PRESENT) && !node->present) continue;
        bool member;
        if (set.interfaces)
            // A collection that is not started (disabled, or failed) has no active interface,
            // and DIGCF_PRESENT lists active interfaces only.
            member = node->hid && classGuid == win::GUID_DEVINTERFACE_HID &&
                     (!(flags & win::DIGCF_PRESENT) || (node->device.status & win::DN_STARTED));
        else
            member = (flags & win::DIGCF_ALLCLASSES) || node->device.setupClass == classGuid;
        if (member) set.elements.push_back(node);
    }
    const std::uint64_t h = handles_.Open(kSetKind);
    sets_[h] = std::move(set);
    *out = static_cast<win::HDEVINFO>(h);
    return win::ERROR_SUCCESS;
}

const SimDevices::Set* SimDevices::FindSet(win::HDEVINFO set) const {
    auto it = sets_.find(Raw(set));
    return it == sets_.end() ? nullptr : &it->second;
}

win::DWORD SimDevices::SetupDiEnumDeviceInfo(win::HDEVINFO set, win::DWORD index, win::SP_DEVINFO_DATA* out) {
    if (auto e = faults_.Check("SetupDiEnumDeviceInfo")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Set* s = FindSet(set);
    if (!s) return win::ERROR_INVALID_HANDLE;
    if (index >= s->elements.size()) return win::ERROR_NO_MORE_ITEMS;
    const auto& node = s->elements[index];
    *out = win::SP_DEVINFO_DATA{node->device.setupClass, node->id, node->id};
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::SetupDiGetDeviceRegistryPropertyW(win::HDEVINFO set, const win::SP_DEVINFO_DATA& device,
                                                         win::DWORD property, win::DWORD* regType, win::BYTE* buffer,
                                                         win::DWORD size, win::DWORD* required) {
    if (auto e = faults_.Check("SetupDiGetDeviceRegistryPropertyW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Set* s = FindSet(set);
    if (!s) return win::ERROR_INVALID_HANDLE;
    auto it = std::find_if(s->elements.begin(), s->elements.end(),
                           [&](const auto& n) { return n->id == device.DevInst; });
    if (it == s->elements.end()) return win::ERROR_INVALID_PARAMETER;
    const Device& d = (*it)->device;
    std::vector<win::BYTE> data;
    win::DWORD type;
    switch (property) {
        case win::SPDRP_DEVICEDESC:
            data = PropertyBytes({d.description}, false);
            type = win::REG_SZ;
            if (d.description.empty()) data.clear();
            break;
        case win::SPDRP_HARDWAREID:
            data = PropertyBytes(d.hardwareIds, true);
            type = win::REG_MULTI_SZ;
            if (d.hardwareIds.empty()) data.clear();
            break;
        case win::SPDRP_MFG:
            data = PropertyBytes({d.manufacturer}, false);
            type = win::REG_SZ;
            if (d.manufacturer.empty()) data.clear();
            break;
        default:
            return win::ERROR_INVALID_DATA;
    }
    if (auto raw = d.rawProperties.find(property); raw != d.rawProperties.end()) data = raw->second;
    else if (data.empty()) return win::ERROR_INVALID_DATA;  // the device has no such property
    if (required) *required = static_cast<win::DWORD>(data.size());
    if (!buffer || size < data.size()) return win::ERROR_INSUFFICIENT_BUFFER;
    std::copy(data.begin(), data.end(), buffer);
    if (regType) *regType = type;
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::SetupDiDestroyDeviceInfoList(win::HDEVINFO set) {
    if (auto e = faults_.Check("SetupDiDestroyDeviceInfoList")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (!sets_.erase(Raw(set))) return win::ERROR_INVALID_HANDLE;
    handles_.Close(Raw(set), kSetKind);
    return win::ERROR_SUCCESS;
}

win::CONFIGRET SimDevices::CM_Get_DevNode_Status(win::DWORD* status, win::DWORD* problem, win::DEVINST node,
                                                 win::DWORD flags) {
    if (auto e = faults_.Check("CM_Get_DevNode_Status")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n->id == node; });
    if (it == nodes_.end()) return win::CR_INVALID_DEVNODE;
    if (!(*it)->present) return win::CR_NO_SUCH_DEVNODE;
    *status = (*it)->device.status;
    *problem = (*it)->device.problem;
    return win::CR_SUCCESS;
}

// ---- HID class ---------------------------------------------------------------------------

void SimDevices::HidD_GetHidGuid(win::GUID* out) { *out = win::GUID_DEVINTERFACE_HID; }

win::DWORD SimDevices::SetupDiEnumDeviceInterfaces(win::HDEVINFO set, const win::GUID& interfaceClass,
                                                   win::DWORD index, win::SP_DEVICE_INTERFACE_DATA* out) {
    if (auto e = faults_.Check("SetupDiEnumDeviceInterfaces")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Set* s = FindSet(set);
    if (!s) return win::ERROR_INVALID_HANDLE;
    // Every HID collection is a node of its own with exactly one interface, so interface i
    // and element i of the set are the same collection.
    if (!s->interfaces || !(s->interfaceClass == interfaceClass) || index >= s->elements.size())
        return win::ERROR_NO_MORE_ITEMS;
    *out = win::SP_DEVICE_INTERFACE_DATA{interfaceClass, 1 /*SPINT_ACTIVE*/, s->elements[index]->id};
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::SetupDiGetDeviceInterfaceDetailW(win::HDEVINFO set, const win::SP_DEVICE_INTERFACE_DATA& iface,
                                                        wchar_t* devicePath, win::DWORD pathChars,
                                                        win::DWORD* requiredChars) {
    if (auto e = faults_.Check("SetupDiGetDeviceInterfaceDetailW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const Set* s = FindSet(set);
    if (!s) return win::ERROR_INVALID_HANDLE;
    auto it = std::find_if(s->elements.begin(), s->elements.end(),
                           [&](const auto& n) { return n->id == iface.Reserved && n->hid; });
    if (it == s->elements.end()) return win::ERROR_INVALID_PARAMETER;
    const std::wstring& path = (*it)->hid->path;
    if (requiredChars) *requiredChars = static_cast<win::DWORD>(path.size() + 1);
    if (!devicePath || pathChars < path.size() + 1) return win::ERROR_INSUFFICIENT_BUFFER;
    std::copy(path.begin(), path.end(), devicePath);
    devicePath[path.size()] = L'\0';
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::CreateFileW(const wchar_t* path, win::DWORD access, win::DWORD share, win::DWORD creation,
                                   win::DWORD flags, win::HANDLE* out) {
    if (auto e = faults_.Check("CreateFileW")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    const std::wstring key = Upper(path);
    auto it = std::find_if(nodes_.begin(), nodes_.end(),
                           [&](const auto& n) {
                               return n->present && n->hid && (n->device.status & win::DN_STARTED) &&
                                      n->pathKey == key;
                           });
    if (it == nodes_.end()) return win::ERROR_FILE_NOT_FOUND;
    Node& node = **it;
    if (node.hid->vanishAfterOpens >= 0 && node.opens >= node.hid->vanishAfterOpens) {
        node.present = false;
        return win::ERROR_FILE_NOT_FOUND;
    }
    if (creation != win::OPEN_EXISTING) return win::ERROR_ACCESS_DENIED;
    const win::DWORD data = access & (win::GENERIC_READ | win::GENERIC_WRITE);
    if (data & ~node.hid->grantableAccess) return win::ERROR_ACCESS_DENIED;
    ++node.opens;
    ++opensByPath_[key];
    const std::uint64_t h = handles_.Open(kFileKind);
    files_[h] = File{*it, access, node.plugs};
    *out = static_cast<win::HANDLE>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::CloseHandle(win::HANDLE handle) {
    if (auto e = faults_.Check("CloseHandle")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (!files_.erase(Raw(handle))) return win::ERROR_INVALID_HANDLE;
    handles_.Close(Raw(handle), kFileKind);
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::Collection(win::HANDLE device, std::shared_ptr<Node>* node) const {
    auto it = files_.find(Raw(device));
    if (it == files_.end()) return win::ERROR_INVALID_HANDLE;
    if (!it->second.node->present || it->second.plugs != it->second.node->plugs) return win::ERROR_DEVICE_NOT_CONNECTED;
    *node = it->second.node;
    return win::ERROR_SUCCESS;
}

win::USHORT SimDevices::FeatureLength(const HidInterface& hid) {
    if (hid.featureReportByteLength) return hid.featureReportByteLength;
    std::map<win::BYTE, unsigned> bits;
    for (const auto& v : hid.featureValues) bits[v.reportId] += unsigned{v.bitSize} * v.reportCount;
    unsigned longest = 0;
    for (const auto& [id, b] : bits) longest = std::max(longest, (b + 7) / 8);
    return static_cast<win::USHORT>(longest ? longest + 1 : 0);
}

// Attributes, preparsed data and feature reports need no data access: the system opens
// mouse collections exclusively, and a handle without access still reaches them.
win::DWORD SimDevices::HidD_GetAttributes(win::HANDLE device, win::HIDD_ATTRIBUTES* attributes) {
    if (auto e = faults_.Check("HidD_GetAttributes")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    std::shared_ptr<Node> node;
    if (auto e = Collection(device, &node)) return e;
    if (attributes->Size != 12) return win::ERROR_INVALID_PARAMETER;
    attributes->VendorID = node->hid->vendorId;
    attributes->ProductID = node->hid->productId;
    attributes->VersionNumber = node->hid->versionNumber;
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::HidD_GetPreparsedData(win::HANDLE device, win::PHIDP_PREPARSED_DATA* out) {
    if (auto e = faults_.Check("HidD_GetPreparsedData")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    std::shared_ptr<Node> node;
    if (auto e = Collection(device, &node)) return e;
    const std::uint64_t h = handles_.Open(kPreparsedKind);
    preparsed_[h] = node;
    *out = static_cast<win::PHIDP_PREPARSED_DATA>(h);
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::HidD_FreePreparsedData(win::PHIDP_PREPARSED_DATA data) {
    if (auto e = faults_.Check("HidD_FreePreparsedData")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    if (!preparsed_.erase(Raw(data))) return win::ERROR_INVALID_PARAMETER;
    handles_.Close(Raw(data), kPreparsedKind);
    return win::ERROR_SUCCESS;
}

win::NTSTATUS SimDevices::HidP_GetCaps(win::PHIDP_PREPARSED_DATA data, win::HIDP_CAPS* caps) {
    if (auto e = faults_.Check("HidP_GetCaps")) return static_cast<win::NTSTATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    auto it = preparsed_.find(Raw(data));
    if (it == preparsed_.end()) return win::HIDP_STATUS_INVALID_PREPARSED_DATA;
    const HidInterface& hid = *it->second->hid;
    *caps = win::HIDP_CAPS{};
    caps->Usage = hid.usage;
    caps->UsagePage = hid.usagePage;
    caps->FeatureReportByteLength = FeatureLength(hid);
    caps->NumberLinkCollectionNodes = 1;
    caps->NumberFeatureValueCaps = static_cast<win::USHORT>(hid.featureValues.size());
    caps->NumberFeatureDataIndices = caps->NumberFeatureValueCaps;
    return win::HIDP_STATUS_SUCCESS;
}

win::NTSTATUS SimDevices::HidP_GetValueCaps(win::DWORD reportType, win::HIDP_VALUE_CAPS* caps, win::USHORT* length,
                                            win::PHIDP_PREPARSED_DATA data) {
    if (auto e = faults_.Check("HidP_GetValueCaps")) return static_cast<win::NTSTATUS>(e);
    std::lock_guard<std::mutex> lock(lock_);
    auto it = preparsed_.find(Raw(data));
    if (it == preparsed_.end()) return win::HIDP_STATUS_INVALID_PREPARSED_DATA;
    static const std::vector<FeatureValue> none;
    const auto& values = reportType == win::HidP_Feature ? it->second->hid->featureValues : none;
    const std::size_t n = std::min<std::size_t>(values.size(), *length);
    for (std::size_t i = 0; i < n; ++i) {
        const FeatureValue& v = values[i];
        caps[i] = win::HIDP_VALUE_CAPS{v.usagePage,  v.reportId,   1,           v.bitSize, v.reportCount,
                                       v.logicalMin, v.logicalMax, v.physicalMin, v.physicalMax, v.usage};
    }
    *length = static_cast<win::USHORT>(n);
    return n < values.size() ? win::HIDP_STATUS_BUFFER_TOO_SMALL : win::HIDP_STATUS_SUCCESS;
}

// hidclass refuses buffers shorter than the collection's longest feature report and
// report ids the collection does not declare, before the device sees anything.
win::DWORD SimDevices::FeatureTarget(win::HANDLE device, const win::BYTE* report, win::ULONG length,
                                     std::shared_ptr<Node>* node) const {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (auto e = Collection(device, node)) return e;
    }
    const HidInterface& hid = *(*node)->hid;
    if (length == 0 || length < FeatureLength(hid)) return win::ERROR_INVALID_USER_BUFFER;
    if (std::none_of(hid.featureValues.begin(), hid.featureValues.end(),
                     [&](const FeatureValue& v) { return v.reportId == report[0]; }))
        return win::ERROR_INVALID_PARAMETER;
    if (!hid.firmware) return win::ERROR_GEN_FAILURE;
    return win::ERROR_SUCCESS;
}

win::DWORD SimDevices::HidD_SetFeature(win::HANDLE device, const win::BYTE* report, win::ULONG length) {
    if (auto e = faults_.Check("HidD_SetFeature")) return e;
    std::shared_ptr<Node> node;
    if (auto e = FeatureTarget(device, report, length, &node)) return e;
    return node->hid->firmware->SetFeature(report, length);
}

win::DWORD SimDevices::HidD_GetFeature(win::HANDLE device, win::BYTE* report, win::ULONG length) {
    if (auto e = faults_.Check("HidD_GetFeature")) return e;
    std::shared_ptr<Node> node;
    if (auto e = FeatureTarget(device, report, length, &node)) return e;
    return node->hid->firmware->GetFeature(report, length);
}

// ---- set-up and inspection ---------------------------------------------------------------

win::DEVINST SimDevices::Add(Device device) {
    std::lock_guard<std::mutex> lock(lock_);
    auto node = std::make_shared<Node>();
    node->id = nextNode_++;
    node->device = std::move(device);
    nodes_.push_back(node);
    return node->id;
}

win::DEVINST SimDevices::AddHid(HidInterface hid) {
    std::lock_guard<std::mutex> lock(lock_);
    auto node = std::make_shared<Node>();
    node->id = nextNode_++;
    node->device.setupClass = win::GUID_DEVCLASS_HIDCLASS;
    node->device.description = hid.description;
    node->device.hardwareIds = hid.hardwareIds;
    node->device.rawProperties = hid.rawProperties;
    node->pathKey = Upper(hid.path);
    node->device.manufacturer = L"(Standard system devices)";
    node->hid = std::move(hid);
    nodes_.push_back(node);
    return node->id;
}

void SimDevices::SetProblem(win::DEVINST node, win::DWORD problem) {
    std::lock_guard<std::mutex> lock(lock_);
    for (auto& n : nodes_)
        if (n->id == node) {
            n->device.status = (n->device.status | win::DN_HAS_PROBLEM) & ~win::DN_STARTED;
            n->device.problem = problem;
        }
}

void SimDevices::Unplug(win::DEVINST node) {
    std::lock_guard<std::mutex> lock(lock_);
    for (auto& n : nodes_)
        if (n->id == node) n->present = false;
}

void SimDevices::Replug(win::DEVINST node) {
    std::lock_guard<std::mutex> lock(lock_);
    for (auto& n : nodes_)
        if (n->id == node && !n->present) {
            n->present = true;
            ++n->plugs;
            if (n->hid && n->hid->firmware) n->hid->firmware->Restart();
        }
}

int SimDevices::OpenCount(std::wstring_view path) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = opensByPath_.find(Upper(path));
    return it == opensByPath_.end() ? 0 : it->second;
}

int SimDevices::OpenDeviceFiles() const { return handles_.OpenCount(kFileKind); }

}  // namespace sim
