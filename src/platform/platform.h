// The platform seam: one small interface per facet of Windows that the service touches.
//
// The core reaches Windows only through win::P(). A backend (the real Win32 one, or the
// simulated machine) installs its facets once at start-up; tests install a fresh simulated
// machine per test. Each call returns the Windows error or status code it would produce
// (ERROR_SUCCESS on success) and leaves its outputs untouched when it fails.
#pragma once

#include "platform/wintypes.h"

namespace win {

class Registry;
class ServiceManager;
class EventTracing;
class Console;
class System;
class HidDevices;
class DeviceManager;
class Sessions;
class Files;
class Threads;
class Security;
class RpcRuntime;
class SetupInf;
class Synchronization;
class Processes;

struct Platform {
    Registry* registry = nullptr;
    ServiceManager* scm = nullptr;
    EventTracing* etw = nullptr;
    Console* console = nullptr;
    System* system = nullptr;
    HidDevices* hid = nullptr;
    DeviceManager* devices = nullptr;
    Sessions* sessions = nullptr;
    Files* files = nullptr;
    Threads* threads = nullptr;
    Security* security = nullptr;
    RpcRuntime* rpc = nullptr;
    SetupInf* setupInf = nullptr;
    Synchronization* sync = nullptr;
    Processes* processes = nullptr;
};

// The installed platform. Installing is not thread-safe: do it before any thread starts.
Platform& P();
void SetPlatform(const Platform& platform);

}  // namespace win
