// Root-enumerated device nodes through SetupAPI, as a bus-less test fixture makes them:
// registered by hand, given the virtual HID driver or left driverless, removed with
// DIF_REMOVE. Windows only.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlaptop {

// A Windows call that failed: what was being done and the error it gave.
class WinError : public std::runtime_error {
public:
    WinError(const std::string& what, DWORD code);
    DWORD code() const { return code_; }

private:
    DWORD code_;
};

// Owns a registry key; closes it once.
class Key {
public:
    Key() = default;
    explicit Key(HKEY key) : key_(key) {}
    Key(Key&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    Key& operator=(Key&& other) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key();
    HKEY get() const { return key_; }
    HKEY* put();
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

struct RootNode {
    GUID setupClass;
    std::wstring deviceName;                // the device id under ROOT, e.g. VID_2C7E&PID_4A51
    std::vector<std::wstring> hardwareIds;  // SPDRP_HARDWAREID, most specific first
    std::wstring description;               // SPDRP_DEVICEDESC; empty: none
    std::wstring manufacturer;              // SPDRP_MFG; empty: none
};

// Registers the node and returns its instance id (ROOT\NAME\NNNN). `parameters` writes its
// "Device Parameters" key before anything could start it; a failure there removes the node.
std::wstring CreateRootNode(const RootNode& node, const std::function<void(HKEY)>& parameters = {});

// DIF_REMOVE; a node that is already gone is no error.
void RemoveNode(const std::wstring& instanceId);

// The node Wine makes for a minidriver device's HID collection: it names it after its parent
// (ROOT\X\N has HID\X\N) and keeps it, with its driver key and interfaces, after the
// parent is removed, listed as present by the device manager.
std::wstring HidChildInstanceId(const std::wstring& instanceId);

// The INF copy the node's driver was installed from (its driver key's "InfPath"); empty
// when it has none.
std::wstring DriverInfName(const std::wstring& instanceId);

// Installs the driver of the INF on the node (the INF names its hardware id), which starts it.
void InstallDriver(const std::wstring& instanceId, const std::wstring& infPath);

// The node's "Device Parameters" key; an empty Key when the node is gone.
Key OpenDeviceParameters(const std::wstring& instanceId, REGSAM access);

// Waits until a HID interface of a child of the node is present (or, with present false,
// until none is); false when that did not happen in time.
bool WaitForHidChild(const std::wstring& instanceId, bool present, DWORD timeoutMs);

// The instance ids of the HID children of the node with a present interface, and their paths.
std::vector<std::wstring> HidChildPaths(const std::wstring& instanceId);

// Text as UTF-8 for messages, and back.
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

}  // namespace vlaptop
