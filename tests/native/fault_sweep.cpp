// The fault sweep: each main scenario runs once without faults, recording every seam call
// its step makes; then once more per recorded call, failing that call with the error Windows
// gives for it, and once more before each report to the pad, unplugging the pad. Every run
// must end with no crash, nothing left open, no stored value lost or mangled, a service that
// still answers, the failure visible in the trace, and no agent started after a failure
// that must end its launch.
//
// A value counts as lost or mangled when, at the end, it differs from the fault-free run's
// and (a) the fault-free run did not write it at or after the failing call, unless it holds
// the field of a fallback record the decisions store by design and the failing call was
// made inside one of the operations that lead there (kFallbackSources); or (b) it holds
// content that neither run stored there at or after the failing call and that it did not
// hold when the call was made; or (c) a write of the faulted run gave it a type or size that
// the fault-free run never gave it. A value the failing step was about to write may differ:
// that is what a failure costs. A failure that stops the service by design is compared with
// the fault-free run followed by its stop.
//
// A failure is visible when the step's trace differs from the fault-free run's (a line more
// or a line missing). Exempt are failures that changed nothing at all (the same calls,
// values, reports to the pad and launches: the call answered what it answers here anyway)
// and those listed in kSilent with the reason their operation logs nothing.
//
// Prints one line, "fault sweep: S scenarios, F faults, C crashes, L leaks, V lost values";
// every finding goes to stderr before it, and any finding fails the test.
//   fault_sweep [--calls] [--explain] [--only SCENARIO] [--cap N]
//   --calls    prints each scenario's recorded calls (facet, function, use, use of its code
//              path) and runs nothing else
//   --explain  names the code path of each failure that left no trace
//   --cap N    fails each code path at its first N uses in a scenario only
#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/process_state.h"
#include "laptops/laptops.h"
#include "log/trace_log.h"
#include "monitors/pst_monitor.h"
#include "platform/processes.h"
#include "platform/sim/machine.h"
#include "rpc/procedures.h"
#include "rpc/rpc_server.h"
#include "service/sample_service.h"
#include "settings/api_events.h"
#include "settings/settings_records.h"

namespace tavo::sweep {
namespace {

using namespace tavo::laptops;

// ---- what each seam call fails with --------------------------------------------------------

// The errors Windows gives a call when it fails in the field, for the kinds of failure the
// call has there. No errors: a release, which Windows does not fail on a handle the caller
// owns; failing it here would only show as a leak the caller cannot prevent. A call with
// endsTheLaunch must, failing, cost the agent's launch it was made for (why, in the text).
struct CallRow {
    const char* call;
    const char* facet;
    std::vector<win::DWORD> errors;
    const char* endsTheLaunch = nullptr;
};

constexpr win::DWORD kNtInvalidPreparsed = static_cast<win::DWORD>(win::HIDP_STATUS_INVALID_PREPARSED_DATA);
constexpr win::DWORD kNoSystemResources = 1450;    // ERROR_NO_SYSTEM_RESOURCES
constexpr win::DWORD kSharingViolation = 32;       // ERROR_SHARING_VIOLATION
constexpr win::DWORD kRpcOutOfResources = 1721;    // RPC_S_OUT_OF_RESOURCES
constexpr win::DWORD kRpcAlreadyRegistered = 1711; // RPC_S_ALREADY_REGISTERED
constexpr win::DWORD kRpcUnknownIf = 1717;         // RPC_S_UNKNOWN_IF
constexpr win::DWORD kEptCantPerform = 1752;       // EPT_S_CANT_PERFORM_OP
constexpr win::DWORD kEptNotRegistered = 1753;     // EPT_S_NOT_REGISTERED
constexpr win::DWORD kInfInUse = 0xE000023D;       // ERROR_INF_IN_USE_BY_DEVICES

const std::vector<CallRow> kCalls = {
    // registry: a key that is not there or not ours, a key deleted under an open handle,
    // a hive that cannot grow, an enumeration that a deletion cut short
    {"RegOpenKeyExW", "Registry", {win::ERROR_FILE_NOT_FOUND, win::ERROR_ACCESS_DENIED}},
    {"RegCreateKeyExW", "Registry", {win::ERROR_ACCESS_DENIED}},
    {"RegQueryValueExW", "Registry", {win::ERROR_KEY_DELETED}},
    {"RegSetValueExW", "Registry", {win::ERROR_KEY_DELETED, kNoSystemResources}},
    {"RegEnumKeyExW", "Registry", {win::ERROR_NO_MORE_ITEMS}},
    {"RegEnumValueW", "Registry", {win::ERROR_NO_MORE_ITEMS}},
    {"RegQueryInfoKeyW", "Registry", {win::ERROR_KEY_DELETED}},
    {"RegNotifyChangeKeyValue", "Registry", {kNoSystemResources}},
    {"RegDeleteValueW", "Registry", {win::ERROR_ACCESS_DENIED}},
    {"RegDeleteTreeW", "Registry", {win::ERROR_ACCESS_DENIED}},
    {"RegCloseKey", "Registry", {}},
    // device manager and HID: a device that left between two calls, memory, a stalled pad
    {"SetupDiGetClassDevsW", "DeviceManager", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"SetupDiEnumDeviceInfo", "DeviceManager", {win::ERROR_NO_MORE_ITEMS}},
    {"SetupDiGetDeviceRegistryPropertyW", "DeviceManager", {win::ERROR_INVALID_DATA}},
    {"CM_Get_DevNode_Status", "DeviceManager", {win::CR_NO_SUCH_DEVNODE}},
    {"SetupDiDestroyDeviceInfoList", "DeviceManager", {}},
    {"SetupDiEnumDeviceInterfaces", "HidDevices", {win::ERROR_NO_MORE_ITEMS}},
    {"SetupDiGetDeviceInterfaceDetailW", "HidDevices", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"CreateFileW", "HidDevices", {win::ERROR_FILE_NOT_FOUND, kSharingViolation}},
    {"HidD_GetAttributes", "HidDevices", {win::ERROR_DEVICE_NOT_CONNECTED}},
    {"HidD_GetPreparsedData", "HidDevices", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"HidP_GetCaps", "HidDevices", {kNtInvalidPreparsed}},
    {"HidP_GetValueCaps", "HidDevices", {kNtInvalidPreparsed}},
    {"HidD_SetFeature", "HidDevices", {win::ERROR_DEVICE_NOT_CONNECTED, win::ERROR_GEN_FAILURE}},
    {"HidD_GetFeature", "HidDevices", {win::ERROR_DEVICE_NOT_CONNECTED, win::ERROR_GEN_FAILURE}},
    {"HidD_FreePreparsedData", "HidDevices", {}},
    {"CloseHandle", "HidDevices|Sessions", {}},
    // sessions and profiles: a session switch, a session that ended, a profile in use
    {"WTSGetActiveConsoleSessionId", "Sessions", {win::ERROR_INVALID_FUNCTION}},  // no console session
    {"WTSQuerySessionInformationW", "Sessions", {win::ERROR_FILE_NOT_FOUND}},
    {"WTSQueryUserToken", "Sessions", {win::ERROR_NO_TOKEN}},
    {"LoadUserProfileW", "Sessions", {win::ERROR_ACCESS_DENIED}},
    {"UnloadUserProfile", "Sessions", {}},
    // processes and tokens
    {"CreateToolhelp32Snapshot", "Processes", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"Process32FirstW", "Processes", {win::ERROR_NO_MORE_FILES}},
    {"Process32NextW", "Processes", {win::ERROR_NO_MORE_FILES}},
    {"ProcessIdToSessionId", "Processes", {win::ERROR_INVALID_PARAMETER}},  // the process ended
    {"OpenProcess", "Processes", {win::ERROR_ACCESS_DENIED, win::ERROR_INVALID_PARAMETER}},
    {"OpenProcessToken", "Processes", {win::ERROR_ACCESS_DENIED}},
    {"LookupPrivilegeValueW", "Processes", {win::ERROR_NO_SUCH_PRIVILEGE}},
    {"AdjustTokenPrivileges", "Processes", {win::ERROR_NOT_ALL_ASSIGNED}},
    {"DuplicateTokenEx", "Processes", {win::ERROR_NOT_ENOUGH_MEMORY},
     "without its copy of winlogon's token the agent would run as the service, in session 0"},
    {"SetTokenInformation", "Processes", {win::ERROR_PRIVILEGE_NOT_HELD},
     "a copy that could not be put in the console session is not used"},
    {"CreateEnvironmentBlock", "Processes", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"CreateProcessAsUserW", "Processes", {win::ERROR_FILE_NOT_FOUND, win::ERROR_PRIVILEGE_NOT_HELD}},
    {"GetExitCodeProcess", "Processes", {win::ERROR_INVALID_HANDLE}},
    // files and folders
    {"SHGetFolderPathW", "Files", {win::ERROR_FILE_NOT_FOUND}},
    {"PathFileExistsW", "Files", {win::ERROR_ACCESS_DENIED}},
    {"FindFirstChangeNotificationW", "Files", {win::ERROR_PATH_NOT_FOUND}},
    {"FindNextChangeNotification", "Files", {win::ERROR_INVALID_HANDLE}},
    // INF files and the INF folder
    {"SetupOpenInfFileW", "SetupInf", {win::ERROR_FILE_NOT_FOUND}},
    {"SetupFindFirstLineW", "SetupInf", {win::ERROR_LINE_NOT_FOUND}},
    {"SetupGetStringFieldW", "SetupInf", {win::ERROR_INVALID_PARAMETER}},
    {"SetupUninstallOEMInfW", "SetupInf", {kInfInUse, win::ERROR_ACCESS_DENIED}},
    {"GetWindowsDirectoryW", "SetupInf", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"FindFirstFileW", "SetupInf", {win::ERROR_ACCESS_DENIED}},
    {"FindNextFileW", "SetupInf", {win::ERROR_NO_MORE_FILES}},
    {"DeleteFileW", "SetupInf", {win::ERROR_ACCESS_DENIED, kSharingViolation}},
    // events, waits and the thread pool
    {"CreateEventW", "Synchronization", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"OpenEventW", "Synchronization", {win::ERROR_FILE_NOT_FOUND}},
    {"SetEvent", "Synchronization", {win::ERROR_INVALID_HANDLE}},
    {"ResetEvent", "Synchronization", {win::ERROR_INVALID_HANDLE}},
    {"WaitForSingleObject", "Synchronization", {win::ERROR_INVALID_HANDLE}},
    {"WaitForMultipleObjects", "Synchronization", {win::ERROR_INVALID_HANDLE}},
    {"CreateThreadpoolWork", "Threads", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"CreateThread", "Threads", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"CloseThreadHandle", "Threads", {}},
    {"SetNamedSecurityInfoW", "Synchronization", {win::ERROR_ACCESS_DENIED, win::ERROR_NOT_ENOUGH_MEMORY}},
    {"QueueUserWorkItem", "Threads", {win::ERROR_NOT_ENOUGH_MEMORY, kNoSystemResources}},
    // service control manager
    {"OpenSCManagerW", "ServiceManager", {win::ERROR_ACCESS_DENIED}},
    {"OpenServiceW", "ServiceManager", {win::ERROR_SERVICE_DOES_NOT_EXIST}},
    {"ChangeServiceConfig2W", "ServiceManager", {win::ERROR_ACCESS_DENIED}},
    {"SetServiceStatus", "ServiceManager", {win::ERROR_INVALID_HANDLE}},
    {"CloseServiceHandle", "ServiceManager", {}},
    {"UnregisterDeviceNotification", "ServiceManager", {}},
    // event tracing
    {"EventRegister", "EventTracing", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"EventWriteString", "EventTracing", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"StartTraceW", "EventTracing", {win::ERROR_ALREADY_EXISTS, win::ERROR_ACCESS_DENIED}},
    {"EnableTraceEx2", "EventTracing", {kNoSystemResources}},
    {"ControlTraceW", "EventTracing", {win::ERROR_WMI_INSTANCE_NOT_FOUND}},
    {"EventUnregister", "EventTracing", {}},
    // security and the RPC run time
    {"DeriveCapabilitySidsFromName", "Security", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"AllocateAndInitializeSid", "Security", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"SetEntriesInAclW", "Security", {win::ERROR_NOT_ENOUGH_MEMORY}},
    {"InitializeSecurityDescriptor", "Security", {win::ERROR_UNKNOWN_REVISION}},
    {"SetSecurityDescriptorDacl", "Security", {win::ERROR_INVALID_SID}},
    {"LocalFreeSid", "Security", {}},
    {"FreeSid", "Security", {}},
    {"LocalFreeAcl", "Security", {}},
    {"GetAclEntries", "Security", {}},  // the simulator's own reading of a DACL it is given
    {"RpcServerUseProtseqEpW", "RpcRuntime", {kRpcOutOfResources}},
    {"RpcServerInqBindings", "RpcRuntime", {static_cast<win::DWORD>(win::RPC_S_NO_BINDINGS)}},
    {"RpcEpRegisterW", "RpcRuntime", {kEptCantPerform}},
    {"RpcServerRegisterIf3", "RpcRuntime", {kRpcAlreadyRegistered}},
    {"RpcServerListen", "RpcRuntime", {kRpcOutOfResources}},
    {"RpcServerUnregisterIf", "RpcRuntime", {kRpcUnknownIf}},
    {"RpcEpUnregister", "RpcRuntime", {kEptNotRegistered}},
    // the process itself
    {"GetModuleFileNameW", "System", {win::ERROR_INSUFFICIENT_BUFFER}},
    {"GetCurrentDirectoryW", "System", {win::ERROR_NOT_ENOUGH_MEMORY}},
};

// Calls whose result no caller reads: every use fails alike, so the first use in each
// scenario stands for all.
const std::set<std::string> kResultIgnored = {"EventWriteString", "SetServiceStatus"};

// Failures that leave the trace as the fault-free run left it, by design: the call, the
// operation it fails in (a function on its stack), and why nothing is logged. Every row
// must be met by the sweep, so that none outlives its reason.
struct SilentRow {
    const char* call;
    const char* operation;
    const char* why;
};
const char* const kWriteUnchecked = "a value that cannot be written is skipped; the others are still written";
const char* const kGrantResult = "opening an event to everyone reports only through its result; the event stays usable";
const std::vector<SilentRow> kSilent = {
    {"RegQueryValueExW", "tavo::ReadRegistryDword", "a value that cannot be read reads as not stored (-1), unlogged"},
    {"RegOpenKeyExW", "tavo::ReadCustomPalmRejection", "a switch that cannot be read is off"},
    {"RegOpenKeyExW", "tavo::RegRead_AABB", "a key that cannot be opened reads as 0, which AABB holds here"},
    {"RegSetValueExW", "tavo::SyncForcepadSettings", kWriteUnchecked},
    {"RegSetValueExW", "tavo::ClearAllPalmSettings", kWriteUnchecked},
    {"RegSetValueExW", "tavo::ClearAllForcepadSettings", kWriteUnchecked},
    {"RegSetValueExW", "tavo::ChangeValueInRegistry", "only a key that cannot be created is logged"},
    {"RegSetValueExW", "tavo::UpdatePSTDeviceStatusToRgistry", "only a key that cannot be created is logged"},
    {"CreateFileW", "tavo::OpenHidDevice", "a refused open is tried again with fewer rights"},
    {"SetupDiEnumDeviceInfo", "tavo::HID_GetDevice", "a hardware id that cannot be read is left empty"},
    {"CreateEventW", "tavo::MonitorAABBChangeThread", "without its events the monitor ends, as after a failed recreation"},
    {"SetEvent", "tavo::MonitorRuns::StopAndPoll",
     "its result is not checked; a monitor or watcher is asked again when the service goes"},
    {"SetEvent", "tavo::EndEventThreadAndCloseEvents", "an exit event that cannot be set: another of its events wakes the thread"},
    {"WaitForSingleObject", "tavo::EndEventThreadAndCloseEvents",
     "a thread the end cannot see leave gets its events and closes them as it leaves"},
    {"AllocateAndInitializeSid", "tavo::GrantEventAccess", kGrantResult},
    {"SetEntriesInAclW", "tavo::GrantEventAccess", kGrantResult},
    {"SetNamedSecurityInfoW", "tavo::GrantEventAccess", kGrantResult},
    {"StartTraceW", "tavo::EnableTracelog", "without a session the trace has nowhere to go: only the console echo shows it"},
};

// Failures after which the service, by design, no longer answers: it stopped, or it runs
// without its interface. A stop the service makes itself keeps every user's settings: the
// users' values are then held to the fault-free run before its stop, which resets them.
struct OutcomeRow {
    const char* call;
    const char* outcome;  // "stopped" or "no interface"
    const char* why;
    bool keepsUsers = false;
};
const char* const kServerSetUp = "a server that cannot be set up stops the service, keeping the users' settings";
const std::vector<OutcomeRow> kDesignedOutcomes = {
    {"QueueUserWorkItem", "stopped", "the start raises the code of a work item it cannot queue"},
    {"CreateThreadpoolWork", "no interface", "the start goes on without its server"},
    {"DeriveCapabilitySidsFromName", "stopped", kServerSetUp, true},
    {"AllocateAndInitializeSid", "stopped", kServerSetUp, true},
    {"SetEntriesInAclW", "stopped", kServerSetUp, true},
    {"InitializeSecurityDescriptor", "stopped", kServerSetUp, true},
    {"SetSecurityDescriptorDacl", "stopped", kServerSetUp, true},
    {"RpcServerRegisterIf3", "stopped", kServerSetUp, true},
    {"RpcServerInqBindings", "stopped", kServerSetUp, true},
    {"RpcEpRegisterW", "stopped", kServerSetUp, true},
    {"RpcServerListen", "stopped", kServerSetUp, true},
};

const CallRow* RowOf(const std::string& call) {
    for (const auto& r : kCalls)
        if (call == r.call) return &r;
    return nullptr;
}

// ---- the simulated laptop and the service on it --------------------------------------------

const std::wstring kInForce = std::wstring(L"HKLM\\") + kSettingsKeyPath;
const std::wstring kAlice = kInForce + L"\\alice";
constexpr std::int32_t kPalmDefaultOption = 2;  // the driver's default palm level

template <typename Record>
void Store(sim::Machine& m, const std::wstring& key, const Record& r) {
    for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
        m.registry.SetDword(key, RecordLayout<Record>::fields[i].valueName, static_cast<win::DWORD>(Field(r, i)));
}

std::wstring ComponentInf(const std::wstring& version) {
    return L"[Version]\r\nSignature = \"$WINDOWS NT$\"\r\nClass = SoftwareComponent\r\n"
           L"CatalogFile = KVR_COMPONENT.CAT\r\nDriverVer = 05/04/2024," + version + L"\r\n";
}

struct World {
    World() {
        ResetProcessState();
        machine.Install();
        built = Build(machine, LoadSimLaptop("forcepad", firmware));
        machine.registry.Import(DriverPackageReg(L"0000", kPalmDefaultOption, 3, 1));
        sim::ServiceRecord installed;
        installed.name = kServiceName;
        installed.displayName = L"TAVO PTP Service";
        installed.binaryPath = L"C:\\Program Files\\TAVO\\TavoTouchpadService.exe";
        machine.scm.AddService(installed);
        machine.registry.SetString(kInForce, L"Version", L"2.0.0.5");
        machine.registry.SetDword(kInForce, kValueAABB, 0);
        Store(machine, kInForce, PalmSettings{1, 5, 6, 7, 8});
        Store(machine, kInForce, ForcepadSettings{7, 0, 25, 1, 3, 0, 1, 0, 1});
        machine.sessions.AddUser(L"alice");
        InstallCompanion(machine, L"alice");
        Store(machine, kAlice, PalmSettings{3, 11, 22, 33, 44});
        Store(machine, kAlice, ForcepadSettings{4, 1, 75, 2, 2, 1, 0, 1, 0});
        machine.sessions.ImportUserHive(
            L"alice", L"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\PrecisionTouchPad\\Status]\n"
                      L"\"Enabled\"=dword:00000001\n");
        machine.files.AddFile(L"C:\\Windows\\system32\\KVRInput.exe");
        // One outdated copy of the component package for the cleanup to remove.
        machine.setupInf.AddFile(L"oem3.inf", ComponentInf(L"2.0.0.4"));
        machine.setupInf.AddFile(L"oem3.pnf", L"");
        machine.setupInf.AddFile(L"oem4.inf", ComponentInf(L"2.0.0.5"));
    }
    ~World() {
        service.reset();
        serviceInstance = nullptr;
        machine.threads.Shutdown();
        ResetProcessState();
    }
    // The touchpad leaves: its two HID collections and its mouse-class node (the laptop lists
    // the keyboard's collection first, the pad's mouse node first).
    void UnplugThePad() {
        for (win::DEVINST node : {built.hidNodes[1], built.hidNodes[2], built.mouseNodes[0]})
            machine.devices.Unplug(node);
    }
    void Control(win::DWORD control, win::DWORD eventType, std::vector<unsigned char> data = {}) {
        CServiceBase::ServiceControlHandler(control, eventType, data.empty() ? nullptr : data.data(), nullptr);
        machine.threads.RunPending();
    }

    std::shared_ptr<sim::TouchpadFirmware> firmware = std::make_shared<sim::TouchpadFirmware>(ForcepadFunctions());
    sim::Machine machine;
    BuiltLaptop built;
    std::unique_ptr<CSampleService> service;
    win::DWORD stateAtEnd = 0;  // what a step that ends the service saw last
};

// ---- the scenarios -------------------------------------------------------------------------

void Nothing(World&) {}
void AliceAtTheConsole(World& w) { w.machine.sessions.LogOn(L"alice"); }

void StartService(World& w) {
    w.service = std::make_unique<CSampleService>();
    serviceInstance = w.service.get();
    w.service->Start(0, nullptr);
    w.machine.threads.RunPending();
}
void StartedWithAlice(World& w) {
    AliceAtTheConsole(w);
    StartService(w);
}
void StartedWithoutAUser(World& w) {
    StartService(w);
    AliceAtTheConsole(w);
}

void Logon(World& w) { w.Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON); }
void Logoff(World& w) { w.Control(win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGOFF); }
void Resume(World& w) { w.Control(win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMESUSPEND); }
void DeviceArrival(World& w) {
    w.Control(win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL,
              sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, ForcepadCollection("pointer").path));
}
// The input agent's flip of AABB, as it writes it, and the monitor's answer.
void ToggleReport(World& w) {
    const auto aabb = w.machine.registry.Dword(kInForce, kValueAABB);
    w.machine.registry.SetDword(kInForce, kValueAABB, aabb && *aabb == 0 ? 1 : 0);
    w.machine.threads.RunPending();
}
// Every procedure of the interface, as the settings application calls them.
void CompanionCalls(World&) {
    MeteringContext* context = OpenRpcEndpoint();
    StartMetering(context, 1, 2);
    SetSamplePeriod(context, 250);
    const PalmSettings palm{2, 10, 10, 20, 20};
    ProcessSetTouchpadSettings(context, &palm);
    PalmSettings palmBack{};
    ProcessGetTouchpadSettings(context, &palmBack);
    const ForcepadSettings forcepad{2, 1, 100, 1, 3, 0, 1, 0, 1};
    ProcessSetForcepadSettings(context, &forcepad);
    ForcepadSettings forcepadBack{};
    ProcessGetForcepadSettings(context, &forcepadBack);
    std::uint8_t status = 0;
    ProcessGetTouchpadStatus(context, &status);
    std::int32_t value = 0;
    ProcessGetSupportFunction(context, &value);
    for (std::int32_t function : {1, 2, 3, 4, 5, 99}) ProcessGetTouchpadData(context, function, &value);
    ProcessExecuteMouseProperties(context);
    StopMetering(context);
    CloseRpcEndpoint(&context);
}
// A stop that comes before the pool has run anything the start queued, then the end.
void StartAndStopAtOnce(World& w) {
    w.service = std::make_unique<CSampleService>();
    serviceInstance = w.service.get();
    w.service->Start(0, nullptr);
    CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    w.stateAtEnd = w.service->currentState();
    w.service.reset();
    serviceInstance = nullptr;
    w.machine.threads.RunPending();
}
void StopAndEnd(World& w) {
    w.Control(win::SERVICE_CONTROL_STOP, 0);
    w.stateAtEnd = w.service->currentState();
    w.service.reset();
    serviceInstance = nullptr;
    w.machine.threads.RunPending();
}

// Another program sets one of the service's named events. The sender is outside the
// service, so the event is signalled on the simulator directly: only the service's own
// calls are swept.
void SetEventOf(World& w, const std::atomic<win::HANDLE>& slot) {
    w.machine.sync.Signal(w.machine.sync.Reference(slot.load(), "Event"));
    w.machine.threads.RunPending();
}
void PointingStickEnabled(World& w) { SetEventOf(w, GetPSTUI_EnableDeviceEvnet[0]); }
void TopZoneOn(World& w) { SetEventOf(w, GetAPIStatusEvent[0]); }
void CapabilityDisabled(World& w) { SetEventOf(w, GetAPIStatusEvent[3]); }

struct Scenario {
    const char* name;
    void (*before)(World&);  // without faults: how the laptop and the service got here
    void (*step)(World&);    // swept
    bool ends = false;       // the step stops the service and lets it go
};
const std::vector<Scenario> kScenarios = {
    {"start, nobody at the console", Nothing, StartService},
    {"start, alice at the console", AliceAtTheConsole, StartService},
    {"logon", StartedWithoutAUser, Logon},
    {"settings application calls", StartedWithAlice, CompanionCalls},
    {"toggle report (AABB)", StartedWithAlice, ToggleReport},
    {"resume", StartedWithAlice, Resume},
    {"mouse-class device arrival", StartedWithAlice, DeviceArrival},
    {"logoff", StartedWithAlice, Logoff},
    {"pointing stick enabled (Global\\VQSMessage_PST_ON)", StartedWithAlice, PointingStickEnabled},
    {"top zone on (Global\\API_3HB_Change_Status_On)", StartedWithAlice, TopZoneOn},
    {"capability off (Global\\API_Set_Forcepad_Capability_Disable)", StartedWithAlice, CapabilityDisabled},
    {"stop", StartedWithAlice, StopAndEnd, true},
    {"start and a stop before its work runs", AliceAtTheConsole, StartAndStopAtOnce, true},
};

// ---- what a failure may cost by design -------------------------------------------------------

// A companion test that could not tell, and one that took a failure for an answer, read as
// "not installed", and a stored setting that cannot be read reads as "not stored"; the
// decisions then store their fallback records in force, and for the user only where the
// answer looked real. So a settings value may end up holding the matching field of one of
// these records, whatever the fault-free run left there.
std::wstring Fold(std::wstring_view s) {
    std::wstring out(s);
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

template <typename Record>
void AddFallbacks(std::set<std::pair<std::wstring, std::int32_t>>& out, const Record& r) {
    for (const std::wstring& key : {kInForce, kAlice})
        for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
            out.insert({L"HKEY_LOCAL_MACHINE" + Fold(key.substr(4)) + L":" +
                            Fold(RecordLayout<Record>::fields[i].valueName),
                        Field(r, i)});
}

const std::set<std::pair<std::wstring, std::int32_t>>& DesignedFallbacks() {
    static const auto fallbacks = [] {
        std::set<std::pair<std::wstring, std::int32_t>> out;
        AddFallbacks(out, PalmSettings{kPalmDefaultOption, 0, 0, 0, 0});
        AddFallbacks(out, kDynamicPalmSettings);
        AddFallbacks(out, kForcepadDefaults);
        AddFallbacks(out, kForcepadDynamicModeDefaults);
        return out;
    }();
    return fallbacks;
}

// The operations whose failure may, by design, leave a fallback record's field in place of
// a stored value: the failing call must have been made inside one of them, and for a user's
// value be one of the row's calls (none listed: any).
struct FallbackSourceRow {
    const char* operation;
    const char* why;
    bool users;                       // a user's values too, not only those in force
    std::vector<std::string> calls;   // for a user's values
};
const char* const kCompanionTest =
    "a companion test that could not tell reads as not installed for what goes in force only";
const std::vector<FallbackSourceRow> kFallbackSources = {
    {"tavo::CheckUWPInstall", kCompanionTest, false, {}},
    {"tavo::CheckSoftwareComponentInstall", kCompanionTest, false, {}},
    {"tavo::CheckSoftwareComponentInstall",
     "a device list cut short looks like its end, and a node that is gone is not installed", true,
     {"SetupDiEnumDeviceInfo", "CM_Get_DevNode_Status"}},
    {"tavo::ReadRegistryDword", "a stored value that cannot be read counts as not stored, which the decisions replace",
     true, {}},
};

// A value in a user's subkey, rather than among the values in force.
bool IsUserPlace(const std::wstring& place) {
    static const std::wstring users = L"HKEY_LOCAL_MACHINE" + Fold(kInForce.substr(4)) + L"\\";
    return place.rfind(users, 0) == 0;
}

// ---- one run -------------------------------------------------------------------------------

using Snapshot = std::map<std::wstring, sim::RegValue>;
using Content = std::optional<sim::RegValue>;

bool Same(const Content& a, const Content& b) {
    if (!a || !b) return !a && !b;
    return a->type == b->type && a->data == b->data;
}
Content At(const Snapshot& s, const std::wstring& place) {
    auto it = s.find(place);
    return it == s.end() ? Content{} : Content{it->second};
}
bool IsFallback(const std::wstring& place, const Content& c) {
    if (!c || c->type != win::REG_DWORD || c->data.size() != 4) return false;
    std::int32_t v;
    std::memcpy(&v, c->data.data(), 4);
    return DesignedFallbacks().contains({place, v});
}

// What to do to one call of the step.
struct Fault {
    std::string call;
    int use = 0;           // the call's use within the step, from 1
    win::DWORD error = 0;  // 0: unplug the pad just before the call
};

struct Write {
    std::size_t at;  // calls made before it, counted from the step's start
    std::wstring place;
    Content content;
};

// What one run of a scenario left.
struct Record {
    std::vector<std::string> calls;  // the step's seam calls, in order, then the rest of the run's
    std::size_t stepCalls = 0;
    std::vector<std::vector<void*>> stacks;  // fault-free runs: the code path of each call
    std::vector<Write> writes;
    Snapshot atFault, after, afterStop;  // when the fault hit, after the step, after the stop
    std::size_t faultAt = 0;             // index of the failing call in calls
    bool faultMet = false;
    std::vector<std::wstring> trace;  // the step's lines
    std::string crash;
    std::map<std::string, int> open;  // handle kinds left open, and unfinished work items
    std::string unanswered;           // why the service did not answer after the step
    std::string outcome;              // "stopped" or "no interface" when it did not
    std::vector<sim::TouchpadFirmware::Report> reports;  // what reached the pad, and came back
    std::size_t launches = 0;                            // processes started
};

std::vector<void*> Stack() {
    std::vector<void*> frames(64);
    frames.resize(static_cast<std::size_t>(backtrace(frames.data(), static_cast<int>(frames.size()))));
    return frames;
}

// Watches one run: counts the calls, fails or unplugs at the chosen one during the step,
// and keeps the registry's writes.
struct Probe {
    std::mutex lock;
    bool armed = false, stepping = false;
    std::map<std::string, int, std::less<>> uses;
    Record* record = nullptr;
    const Fault* fault = nullptr;
    World* world = nullptr;

    win::DWORD OnCall(std::string_view call, int) {
        {
            std::lock_guard<std::mutex> l(lock);
            if (!armed) return 0;
            record->calls.emplace_back(call);
            if (!fault) record->stacks.push_back(Stack());
            if (!stepping || !fault || record->faultMet || call != fault->call) return 0;
            auto it = uses.find(call);
            if (it == uses.end()) it = uses.emplace(std::string(call), 0).first;
            if (++it->second != fault->use) return 0;
            record->faultMet = true;
            record->faultAt = record->calls.size() - 1;
        }
        record->atFault = world->machine.registry.Snapshot();
        if (fault->error != 0) return fault->error;
        world->UnplugThePad();
        return 0;
    }
    void OnWrite(const std::wstring& place, const Content& content) {
        std::lock_guard<std::mutex> l(lock);
        if (armed) record->writes.push_back(Write{record->calls.size(), place, content});
    }
    void Set(bool on, bool step) {
        std::lock_guard<std::mutex> l(lock);
        armed = on;
        stepping = step;
        if (!step && on) record->stepCalls = record->calls.size();
    }
};

// The service is running, its interface registered, and a procedure answers.
void CheckAnswers(World& w, Record& record) {
    if (!w.service || w.service->currentState() != win::SERVICE_RUNNING) {
        record.unanswered = "the service is not running";
        record.outcome = "stopped";
        return;
    }
    if (!w.machine.rpc.Registered()) {
        record.unanswered = "the interface is not registered";
        record.outcome = "no interface";
        return;
    }
    MeteringContext* context = OpenRpcEndpoint();
    std::int32_t data = 0;
    if (context) ProcessGetTouchpadData(context, 99, &data);
    if (context) CloseRpcEndpoint(&context);
    if (data != kTouchpadDataSignature) record.unanswered = "data 99 was not answered";
}

Record RunOnce(const Scenario& s, const Fault* fault) {
    Record record;
    Probe probe;  // outlives the machine, which calls it
    probe.record = &record;
    probe.fault = fault;
    World w;
    probe.world = &w;
    w.machine.faults.SetHook([&probe](std::string_view call, int use) { return probe.OnCall(call, use); });
    w.machine.registry.SetWriteHook(
        [&probe](const std::wstring& place, const Content& content) { probe.OnWrite(place, content); });
    try {
        s.before(w);
        const std::size_t mark = w.machine.etw.Written().size();
        probe.Set(true, true);
        s.step(w);
        probe.Set(true, false);
        const auto written = w.machine.etw.Written();
        for (std::size_t i = mark; i < written.size(); ++i) record.trace.push_back(written[i].text);
        record.after = w.machine.registry.Snapshot();
        if (s.ends) {
            if (w.stateAtEnd != win::SERVICE_STOPPED) record.unanswered = "the stop did not end stopped";
        } else {
            CheckAnswers(w, record);
            // The rest of the service's life, without faults: a stop, then its end.
            const bool stoppedItself = w.service && w.service->currentState() == win::SERVICE_STOPPED;
            w.Control(win::SERVICE_CONTROL_STOP, 0);
            w.service.reset();
            serviceInstance = nullptr;
            w.machine.threads.RunPending();
            // A service that reported itself stopped without a stop leaves its interface to
            // the end of its process.
            if (stoppedItself) WithdrawRpcInterface();
        }
        probe.Set(false, false);
        record.afterStop = w.machine.registry.Snapshot();
        record.reports = w.firmware->Reports();
        // The edges of the service's threads log what they catch: that is a crash contained.
        for (const auto& r : w.machine.etw.Written())
            if (r.text.find(L":: ended by an exception") != std::wstring::npos)
                record.crash = "an exception reached the edge of a thread: " + std::string(r.text.begin(), r.text.end() - 2);
        // A closed handle's value is handed out again on Windows: its use reaches some other
        // object, as undefined as a crash.
        if (const int uses = w.machine.handles.ClosedUses(); uses && record.crash.empty())
            record.crash = "a closed handle was used " + std::to_string(uses) + " time(s)";
        record.launches = w.machine.processes.Creations().size();
        if (const int unfinished = w.machine.threads.UnfinishedCount()) record.open["work items"] = unfinished;
        for (const auto& [kind, n] : w.machine.handles.OpenByKind()) record.open[kind] = n;
    } catch (const std::exception& e) {
        record.crash = e.what();
    } catch (const sim::ProcessExit& e) {
        record.crash = "the process exited with " + std::to_string(e.code);
    } catch (...) {
        record.crash = "an exception of unknown type";
    }
    w.machine.faults.SetHook(nullptr);
    w.machine.registry.SetWriteHook(nullptr);
    return record;
}

// ---- judging a run against the fault-free one ----------------------------------------------

// A run whose verdict waits for the failing call's code path to be named: a failure that
// left no trace, or a value that holds a fallback record's field.
struct Deferred {
    std::string where;
    std::string call;
    std::vector<void*> stack;
    std::wstring value;  // the value holding a fallback; none for a silent failure
};

struct Tally {
    int runs = 0, crashes = 0, leaks = 0, lost = 0, other = 0;
    std::vector<Deferred> deferred;  // to be matched against kSilent and kFallbackSources
};

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::string Describe(const Scenario& s, const Fault& f) {
    char text[160];
    if (f.error)
        std::snprintf(text, sizeof text, "[%s] %s #%d failing with %lu", s.name, f.call.c_str(), f.use,
                      static_cast<unsigned long>(f.error));
    else
        std::snprintf(text, sizeof text, "[%s] pad unplugged before %s #%d", s.name, f.call.c_str(), f.use);
    return text;
}

void Finding(const std::string& where, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", where.c_str(), what.c_str());
}

const OutcomeRow* DesignedOutcome(const Fault& f, const std::string& outcome) {
    for (const auto& r : kDesignedOutcomes)
        if (f.error && f.call == r.call && outcome == r.outcome) return &r;
    return nullptr;
}

constexpr const char* kLostText = "was lost: the fault-free run did not write it after that call";

// The stored values: see the rule at the top of this file.
void JudgeValues(const std::string& where, const Fault& f, const Record& base, const Record& run,
                 bool stoppedByDesign, bool keepsUsers, Tally& tally) {
    std::set<std::wstring> places;
    for (const auto& [p, v] : base.afterStop) places.insert(p);
    for (const auto& [p, v] : base.after) places.insert(p);
    for (const auto& [p, v] : run.after) places.insert(p);
    for (const auto& place : places) {
        // A stop by design is compared with the fault-free run's stop, except for the users'
        // values when that stop keeps them.
        const bool withStop = stoppedByDesign && !(keepsUsers && IsUserPlace(place));
        const Snapshot& want = withStop ? base.afterStop : base.after;
        const std::size_t until = withStop ? base.calls.size() + 1 : base.stepCalls;
        const Content got = At(run.after, place), expected = At(want, place);
        if (Same(got, expected)) continue;
        bool writtenLater = false, known = Same(got, At(run.atFault, place));
        std::set<std::pair<win::DWORD, std::size_t>> shapes;
        if (expected) shapes.insert({expected->type, expected->data.size()});
        for (const auto& w : base.writes) {
            if (w.place != place || w.at > until) continue;
            if (w.content) shapes.insert({w.content->type, w.content->data.size()});
            if (w.at > run.faultAt) {
                writtenLater = true;
                known = known || Same(got, w.content);
            }
        }
        bool misshapen = false;
        for (const auto& w : run.writes) {
            if (w.place != place || w.at > run.stepCalls) continue;
            if (w.at > run.faultAt) known = known || Same(got, w.content);
            if (w.content && !shapes.empty() && !shapes.contains({w.content->type, w.content->data.size()}))
                misshapen = true;
        }
        const char* why = !known        ? "holds content no writer stored"
                          : misshapen   ? "was written with a type or size of its own"
                          : !writtenLater ? kLostText
                                        : nullptr;
        if (why == kLostText && IsFallback(place, got)) {
            tally.deferred.push_back(Deferred{where, f.call, base.stacks[run.faultAt], place});
        } else if (why) {
            ++tally.lost;
            Finding(where, "value " + Narrow(place) + " " + why);
        }
    }
}

void Judge(const Scenario& s, const Fault& f, const Record& base, const Record& run, Tally& tally) {
    const std::string where = Describe(s, f);
    ++tally.runs;
    if (!run.crash.empty()) {
        ++tally.crashes;
        Finding(where, "crash: " + run.crash);
        return;
    }
    if (!run.faultMet || run.faultAt >= base.stepCalls ||
        !std::equal(base.calls.begin(), base.calls.begin() + static_cast<std::ptrdiff_t>(run.faultAt + 1),
                    run.calls.begin())) {
        ++tally.other;
        Finding(where, "the run did not repeat the fault-free run up to the failing call");
        return;
    }
    if (!run.open.empty()) {
        ++tally.leaks;
        std::string kinds;
        for (const auto& [kind, n] : run.open) kinds += " " + kind + "=" + std::to_string(n);
        Finding(where, "left open:" + kinds);
    }
    if (const CallRow* row = RowOf(f.call); f.error && row && row->endsTheLaunch && run.launches >= base.launches) {
        ++tally.other;
        Finding(where, std::string("the launch went on: ") + row->endsTheLaunch);
    }
    const OutcomeRow* designed = run.unanswered.empty() ? nullptr : DesignedOutcome(f, run.outcome);
    if (!run.unanswered.empty() && !designed) {
        ++tally.other;
        Finding(where, "afterwards " + run.unanswered);
    }
    JudgeValues(where, f, base, run, designed && run.outcome == std::string("stopped"), designed && designed->keepsUsers,
                tally);

    // The trace: a line the fault-free run did not write, or one it wrote that is missing.
    std::map<std::wstring, int> lines;
    for (const auto& l : base.trace) ++lines[l];
    for (const auto& l : run.trace) --lines[l];
    bool seen = false;
    for (const auto& [l, n] : lines) seen = seen || n != 0;
    // A failure that changed nothing at all (it answered what the call answers here anyway)
    // has nothing to show.
    auto sameValues = [](const Snapshot& a, const Snapshot& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const auto& x, const auto& y) { return x.first == y.first && Same(x.second, y.second); });
    };
    const bool noEffect = run.calls == base.calls && sameValues(run.afterStop, base.afterStop) &&
                          run.reports == base.reports && run.launches == base.launches;
    if (!seen && !noEffect) tally.deferred.push_back(Deferred{where, f.call, base.stacks[run.faultAt], {}});
}

// Function names on each code path, innermost first, inlined frames included (addr2line
// reads them from the debug information): one run of the tool for all of them.
std::map<void*, std::vector<std::string>> Symbolize(const std::set<void*>& frames) {
    std::map<void*, std::vector<std::string>> names;
    Dl_info self{};
    if (frames.empty() || !dladdr(reinterpret_cast<void*>(&Symbolize), &self)) return names;
    std::string command = "addr2line -a -f -C -i -e /proc/" + std::to_string(getpid()) + "/exe";
    std::vector<void*> asked;
    for (void* f : frames) {
        Dl_info info{};
        if (!dladdr(f, &info) || info.dli_fbase != self.dli_fbase) continue;
        char offset[32];
        // A return address follows its call: look up the byte before it.
        std::snprintf(offset, sizeof offset, " 0x%zx",
                      static_cast<std::size_t>(static_cast<char*>(f) - static_cast<char*>(self.dli_fbase) - 1));
        command += offset;
        asked.push_back(f);
    }
    FILE* out = popen(command.c_str(), "r");
    if (!out) return names;
    char line[4096];
    std::size_t index = 0;
    bool first = true, functionLine = false;
    while (std::fgets(line, sizeof line, out)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.rfind("0x", 0) == 0) {
            if (!first) ++index;
            first = false;
            functionLine = true;
            continue;
        }
        if (functionLine && index < asked.size()) names[asked[index]].push_back(text);
        functionLine = !functionLine;
    }
    pclose(out);
    return names;
}

// Whether a function on the path has this name (a prefix of its signature).
bool OnPath(const std::vector<std::string>& path, const char* operation) {
    const std::size_t n = std::strlen(operation);
    for (const auto& f : path)
        if (f.compare(0, n, operation) == 0 && (f.size() == n || f[n] == '(')) return true;
    return false;
}

void JudgeDeferred(Tally& tally, bool explain, bool whole) {
    std::set<void*> frames;
    for (const auto& d : tally.deferred) frames.insert(d.stack.begin(), d.stack.end());
    const auto names = Symbolize(frames);
    std::set<const void*> met;
    for (const auto& d : tally.deferred) {
        std::vector<std::string> path;
        for (void* f : d.stack)
            if (auto it = names.find(f); it != names.end())
                for (const auto& n : it->second)
                    if (n.rfind("tavo::", 0) == 0 && n.find("sweep") == std::string::npos) path.push_back(n);
        const void* row = nullptr;
        if (d.value.empty()) {
            for (const auto& r : kSilent)
                if (!row && d.call == r.call && OnPath(path, r.operation)) row = &r;
        } else {
            const bool user = IsUserPlace(d.value);
            for (const auto& r : kFallbackSources)
                if (!row && OnPath(path, r.operation) &&
                    (!user || (r.users && (r.calls.empty() || std::find(r.calls.begin(), r.calls.end(), d.call) !=
                                                                 r.calls.end()))))
                    row = &r;
        }
        if (row) {
            met.insert(row);
            continue;
        }
        std::string text = d.value.empty() ? "the failure left no trace" : "value " + Narrow(d.value) + " " + kLostText;
        if (explain)
            for (const auto& n : path) text += "\n    " + n;
        if (d.value.empty())
            ++tally.other;
        else
            ++tally.lost;
        Finding(d.where, text);
    }
    if (!whole) return;
    for (const auto& r : kSilent)
        if (!met.contains(&r)) {
            ++tally.other;
            Finding(std::string(r.call) + " in " + r.operation, "listed as silent by design, but no run met it");
        }
    for (const auto& r : kFallbackSources)
        if (!met.contains(&r)) {
            ++tally.other;
            Finding(r.operation, "listed as a source of fallbacks, but no run met it");
        }
}

int Sweep(const char* only, bool listCalls, int cap, bool explain) {
    Tally tally;
    int scenarios = 0;
    for (const Scenario& s : kScenarios) {
        if (only && std::strcmp(only, s.name) != 0) continue;
        ++scenarios;
        const Record base = RunOnce(s, nullptr);
        const Record again = RunOnce(s, nullptr);
        if (!base.crash.empty() || base.calls != again.calls) {
            ++tally.other;
            Finding(std::string("[") + s.name + "]", base.crash.empty() ? "the fault-free run does not repeat itself"
                                                                        : "crash without a fault: " + base.crash);
            continue;
        }
        std::vector<Fault> faults;
        std::map<std::string, int> uses;
        std::map<std::pair<std::string, std::vector<void*>>, int> pathUses;
        for (std::size_t i = 0; i < base.stepCalls; ++i) {
            const std::string& call = base.calls[i];
            const int use = ++uses[call];
            const int pathUse = ++pathUses[{call, base.stacks[i]}];
            const CallRow* row = RowOf(call);
            if (listCalls)
                std::printf("%s\t%s\t%s\t%d\t%d\n", s.name, row ? row->facet : "?", call.c_str(), use, pathUse);
            if (!row) {
                ++tally.other;
                Finding(std::string("[") + s.name + "]", "no error row for " + call);
                continue;
            }
            if (row->errors.empty() || (cap && pathUse > cap) || (kResultIgnored.contains(call) && use > 1)) continue;
            // The first error at every use; the others, which the caller tells apart only by
            // value, at the first use of each code path.
            for (std::size_t e = 0; e < row->errors.size() && (e == 0 || pathUse == 1); ++e)
                faults.push_back(Fault{call, use, row->errors[e]});
            if (call == "HidD_SetFeature" || call == "HidD_GetFeature") faults.push_back(Fault{call, use, 0});
        }
        if (listCalls) continue;
        for (const Fault& f : faults) Judge(s, f, base, RunOnce(s, &f), tally);
    }
    if (listCalls) return 0;
    JudgeDeferred(tally, explain, only == nullptr && cap == 0);
    std::printf("fault sweep: %d scenarios, %d faults, %d crashes, %d leaks, %d lost values\n", scenarios, tally.runs,
                tally.crashes, tally.leaks, tally.lost);
    return tally.crashes + tally.leaks + tally.lost + tally.other == 0 ? 0 : 1;
}

}  // namespace
}  // namespace tavo::sweep

int main(int argc, char** argv) {
    const char* only = nullptr;
    bool listCalls = false, explain = false;
    int cap = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0) {
            listCalls = true;
        } else if (std::strcmp(argv[i], "--explain") == 0) {
            explain = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--cap") == 0 && i + 1 < argc) {
            cap = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: fault_sweep [--calls] [--explain] [--only SCENARIO] [--cap N]\n");
            return 2;
        }
    }
    return tavo::sweep::Sweep(only, listCalls, cap, explain);
}
