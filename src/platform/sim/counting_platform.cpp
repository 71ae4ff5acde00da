#include "platform/sim/counting_platform.h"

#include <cstdlib>
#include <optional>

#include "platform/console.h"
#include "platform/devices.h"
#include "platform/etw.h"
#include "platform/files.h"
#include "platform/hid.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/rpc.h"
#include "platform/scm.h"
#include "platform/security.h"
#include "platform/sessions.h"
#include "platform/setup_inf.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/threads.h"

namespace sim {

void CallCounts::Add(const char* facet, const char* function) {
    std::lock_guard<std::mutex> lock(lock_);
    ++calls_[CallKey(facet, function)];
}

CallTable CallCounts::Table() const {
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
}

long CallCounts::Of(const std::string& facet, const std::string& function) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = calls_.find(CallKey(facet, function));
    return it == calls_.end() ? 0 : it->second;
}

long CallCounts::Total() const {
    std::lock_guard<std::mutex> lock(lock_);
    long n = 0;
    for (const auto& [key, count] : calls_) n += count;
    return n;
}

void CallCounts::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    calls_.clear();
}

namespace {

// One forwarding member: count, then hand the call on as it came.
#define TAVO_COUNTED(Ret, Name, Params, Args)  \
    Ret Name Params override {                 \
        counts_.Add(kFacet, #Name);            \
        return inner_.Name Args;               \
    }

template <typename Facet>
class Counted : public Facet {
public:
    Counted(Facet& inner, CallCounts& counts) : inner_(inner), counts_(counts) {}

protected:
    Facet& inner_;
    CallCounts& counts_;
};

using namespace win;

class CountingRegistry final : public Counted<Registry> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Registry";
    TAVO_COUNTED(LSTATUS, RegOpenKeyExW, (HKEY root, const wchar_t* subKey, DWORD options, DWORD sam, HKEY* out),
                 (root, subKey, options, sam, out))
    TAVO_COUNTED(LSTATUS, RegCreateKeyExW,
                 (HKEY root, const wchar_t* subKey, DWORD options, DWORD sam, HKEY* out, DWORD* disposition),
                 (root, subKey, options, sam, out, disposition))
    TAVO_COUNTED(LSTATUS, RegCloseKey, (HKEY key), (key))
    TAVO_COUNTED(LSTATUS, RegQueryValueExW, (HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* cbData),
                 (key, name, type, data, cbData))
    TAVO_COUNTED(LSTATUS, RegSetValueExW,
                 (HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD cbData),
                 (key, name, type, data, cbData))
    TAVO_COUNTED(LSTATUS, RegEnumKeyExW, (HKEY key, DWORD index, wchar_t* name, DWORD* cchName),
                 (key, index, name, cchName))
    TAVO_COUNTED(LSTATUS, RegEnumValueW,
                 (HKEY key, DWORD index, wchar_t* name, DWORD* cchName, DWORD* type, BYTE* data, DWORD* cbData),
                 (key, index, name, cchName, type, data, cbData))
    TAVO_COUNTED(LSTATUS, RegQueryInfoKeyW,
                 (HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                  DWORD* maxValueLen),
                 (key, subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen))
    TAVO_COUNTED(LSTATUS, RegDeleteValueW, (HKEY key, const wchar_t* name), (key, name))
    TAVO_COUNTED(LSTATUS, RegDeleteTreeW, (HKEY key, const wchar_t* subKey), (key, subKey))
    TAVO_COUNTED(LSTATUS, RegNotifyChangeKeyValue,
                 (HKEY key, bool watchSubtree, DWORD filter, HANDLE event, bool asynchronous),
                 (key, watchSubtree, filter, event, asynchronous))
};

class CountingScm final : public Counted<ServiceManager> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "ServiceManager";
    TAVO_COUNTED(DWORD, OpenSCManagerW, (DWORD access, SC_HANDLE* out), (access, out))
    TAVO_COUNTED(DWORD, CreateServiceW,
                 (SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName, DWORD access, DWORD serviceType,
                  DWORD startType, DWORD errorControl, const wchar_t* binaryPath, SC_HANDLE* out),
                 (manager, name, displayName, access, serviceType, startType, errorControl, binaryPath, out))
    TAVO_COUNTED(DWORD, OpenServiceW, (SC_HANDLE manager, const wchar_t* name, DWORD access, SC_HANDLE* out),
                 (manager, name, access, out))
    TAVO_COUNTED(DWORD, StartServiceW, (SC_HANDLE service), (service))
    TAVO_COUNTED(DWORD, ControlService, (SC_HANDLE service, DWORD control, SERVICE_STATUS* status),
                 (service, control, status))
    TAVO_COUNTED(DWORD, QueryServiceStatus, (SC_HANDLE service, SERVICE_STATUS* status), (service, status))
    TAVO_COUNTED(DWORD, DeleteService, (SC_HANDLE service), (service))
    TAVO_COUNTED(DWORD, CloseServiceHandle, (SC_HANDLE handle), (handle))
    TAVO_COUNTED(DWORD, ChangeServiceDescription, (SC_HANDLE service, const wchar_t* description),
                 (service, description))
    TAVO_COUNTED(DWORD, ChangeServiceStartTrigger, (SC_HANDLE service, const GUID& subtype), (service, subtype))
    TAVO_COUNTED(DWORD, StartServiceCtrlDispatcherW, (const wchar_t* name, ServiceMainFn serviceMain),
                 (name, serviceMain))
    TAVO_COUNTED(DWORD, RegisterServiceCtrlHandlerExW,
                 (const wchar_t* name, HandlerExFn handler, void* context, SERVICE_STATUS_HANDLE* out),
                 (name, handler, context, out))
    TAVO_COUNTED(DWORD, SetServiceStatus, (SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status),
                 (handle, status))
    TAVO_COUNTED(DWORD, RegisterDeviceInterfaceNotification,
                 (SERVICE_STATUS_HANDLE handle, const GUID& interfaceClass, HDEVNOTIFY* out),
                 (handle, interfaceClass, out))
    TAVO_COUNTED(DWORD, UnregisterDeviceNotification, (HDEVNOTIFY handle), (handle))
};

class CountingEtw final : public Counted<EventTracing> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "EventTracing";
    TAVO_COUNTED(ULONG, EventRegister, (const GUID& provider, REGHANDLE* out), (provider, out))
    TAVO_COUNTED(ULONG, EventUnregister, (REGHANDLE handle), (handle))
    TAVO_COUNTED(ULONG, EventWriteString, (REGHANDLE handle, BYTE level, ULONGLONG keyword, const wchar_t* text),
                 (handle, level, keyword, text))
    TAVO_COUNTED(ULONG, StartTraceW, (TRACEHANDLE* out, const wchar_t* sessionName, BYTE* properties),
                 (out, sessionName, properties))
    TAVO_COUNTED(ULONG, EnableTraceEx2,
                 (TRACEHANDLE session, const GUID& provider, ULONG controlCode, BYTE level, ULONGLONG matchAny,
                  ULONGLONG matchAll, ULONG timeout),
                 (session, provider, controlCode, level, matchAny, matchAll, timeout))
    TAVO_COUNTED(ULONG, ControlTraceW,
                 (TRACEHANDLE session, const wchar_t* sessionName, BYTE* properties, ULONG controlCode),
                 (session, sessionName, properties, controlCode))
};

class CountingConsole final : public Counted<Console> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Console";
    TAVO_COUNTED(void, Write, (std::wstring_view text), (text))
};

class CountingSystem final : public Counted<System> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "System";
    TAVO_COUNTED(DWORD, GetModuleFileNameW, (wchar_t* buffer, DWORD size, DWORD* length), (buffer, size, length))
    TAVO_COUNTED(DWORD, GetCurrentDirectoryW, (DWORD size, wchar_t* buffer, DWORD* length), (size, buffer, length))
    TAVO_COUNTED(void, Sleep, (DWORD milliseconds), (milliseconds))
    [[noreturn]] void ExitProcess(DWORD code) override {
        counts_.Add(kFacet, "ExitProcess");
        inner_.ExitProcess(code);
        std::abort();  // the wrapped call does not return either; the compiler cannot see it
    }
    TAVO_COUNTED(void, OutputDebugStringW, (const wchar_t* text), (text))
};

class CountingHid final : public Counted<HidDevices> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "HidDevices";
    TAVO_COUNTED(void, HidD_GetHidGuid, (GUID* out), (out))
    TAVO_COUNTED(DWORD, SetupDiEnumDeviceInterfaces,
                 (HDEVINFO set, const GUID& interfaceClass, DWORD index, SP_DEVICE_INTERFACE_DATA* out),
                 (set, interfaceClass, index, out))
    TAVO_COUNTED(DWORD, SetupDiGetDeviceInterfaceDetailW,
                 (HDEVINFO set, const SP_DEVICE_INTERFACE_DATA& iface, wchar_t* devicePath, DWORD pathChars,
                  DWORD* requiredChars),
                 (set, iface, devicePath, pathChars, requiredChars))
    TAVO_COUNTED(DWORD, CreateFileW,
                 (const wchar_t* path, DWORD access, DWORD share, DWORD creation, DWORD flags, HANDLE* out),
                 (path, access, share, creation, flags, out))
    TAVO_COUNTED(DWORD, CloseHandle, (HANDLE handle), (handle))
    TAVO_COUNTED(DWORD, HidD_GetAttributes, (HANDLE device, HIDD_ATTRIBUTES* attributes), (device, attributes))
    TAVO_COUNTED(DWORD, HidD_GetPreparsedData, (HANDLE device, PHIDP_PREPARSED_DATA* out), (device, out))
    TAVO_COUNTED(DWORD, HidD_FreePreparsedData, (PHIDP_PREPARSED_DATA data), (data))
    TAVO_COUNTED(NTSTATUS, HidP_GetCaps, (PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps), (data, caps))
    TAVO_COUNTED(NTSTATUS, HidP_GetValueCaps,
                 (DWORD reportType, HIDP_VALUE_CAPS* caps, USHORT* length, PHIDP_PREPARSED_DATA data),
                 (reportType, caps, length, data))
    TAVO_COUNTED(DWORD, HidD_SetFeature, (HANDLE device, const BYTE* report, ULONG length), (device, report, length))
    TAVO_COUNTED(DWORD, HidD_GetFeature, (HANDLE device, BYTE* report, ULONG length), (device, report, length))
};

class CountingDevices final : public Counted<DeviceManager> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "DeviceManager";
    TAVO_COUNTED(DWORD, SetupDiGetClassDevsW, (const GUID& classGuid, DWORD flags, HDEVINFO* out),
                 (classGuid, flags, out))
    TAVO_COUNTED(DWORD, SetupDiEnumDeviceInfo, (HDEVINFO set, DWORD index, SP_DEVINFO_DATA* out), (set, index, out))
    TAVO_COUNTED(DWORD, SetupDiGetDeviceRegistryPropertyW,
                 (HDEVINFO set, const SP_DEVINFO_DATA& device, DWORD property, DWORD* regType, BYTE* buffer,
                  DWORD size, DWORD* required),
                 (set, device, property, regType, buffer, size, required))
    TAVO_COUNTED(DWORD, SetupDiDestroyDeviceInfoList, (HDEVINFO set), (set))
    TAVO_COUNTED(CONFIGRET, CM_Get_DevNode_Status, (DWORD* status, DWORD* problem, DEVINST node, DWORD flags),
                 (status, problem, node, flags))
};

class CountingSessions final : public Counted<Sessions> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Sessions";
    TAVO_COUNTED(DWORD, WTSGetActiveConsoleSessionId, (), ())
    TAVO_COUNTED(DWORD, WTSQueryUserName, (DWORD sessionId, std::wstring* userName), (sessionId, userName))
    TAVO_COUNTED(DWORD, WTSQueryConnectState, (DWORD sessionId, DWORD* state), (sessionId, state))
    TAVO_COUNTED(DWORD, WTSQueryUserToken, (DWORD sessionId, HANDLE* token), (sessionId, token))
    TAVO_COUNTED(DWORD, CloseHandle, (HANDLE token), (token))
    TAVO_COUNTED(DWORD, LoadUserProfileW, (HANDLE token, PROFILEINFOW* profile), (token, profile))
    TAVO_COUNTED(DWORD, UnloadUserProfile, (HANDLE token, HKEY profile), (token, profile))
};

class CountingFiles final : public Counted<Files> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Files";
    TAVO_COUNTED(HRESULT, SHGetFolderPathW, (int csidl, HANDLE token, DWORD flags, std::wstring* path),
                 (csidl, token, flags, path))
    TAVO_COUNTED(DWORD, PathFileExistsW, (const wchar_t* path), (path))
    TAVO_COUNTED(DWORD, FindFirstChangeNotificationW,
                 (const wchar_t* path, bool watchSubtree, DWORD filter, HANDLE* out),
                 (path, watchSubtree, filter, out))
    TAVO_COUNTED(DWORD, FindNextChangeNotification, (HANDLE handle), (handle))
    TAVO_COUNTED(DWORD, FindCloseChangeNotification, (HANDLE handle), (handle))
};

class CountingThreads final : public Counted<Threads> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Threads";
    TAVO_COUNTED(DWORD, CreateThreadpoolWork, (WorkCallback callback, void* context, PTP_WORK* work),
                 (callback, context, work))
    TAVO_COUNTED(void, SubmitThreadpoolWork, (PTP_WORK work), (work))
    TAVO_COUNTED(DWORD, QueueUserWorkItem, (WorkCallback function, void* context, ULONG flags),
                 (function, context, flags))
    TAVO_COUNTED(DWORD, CreateThread, (WorkCallback function, void* context, HANDLE* thread),
                 (function, context, thread))
    TAVO_COUNTED(DWORD, CloseThreadHandle, (HANDLE thread), (thread))
};

class CountingSecurity final : public Counted<Security> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Security";
    TAVO_COUNTED(DWORD, DeriveCapabilitySidsFromName,
                 (const wchar_t* name, std::vector<PSID>* groupSids, std::vector<PSID>* capabilitySids),
                 (name, groupSids, capabilitySids))
    TAVO_COUNTED(void, LocalFreeSid, (PSID sid), (sid))
    TAVO_COUNTED(DWORD, AllocateAndInitializeSid,
                 (const BYTE (&authority)[6], BYTE subAuthorityCount, const DWORD* subAuthorities, PSID* sid),
                 (authority, subAuthorityCount, subAuthorities, sid))
    TAVO_COUNTED(void, FreeSid, (PSID sid), (sid))
    TAVO_COUNTED(DWORD, SetEntriesInAclW, (ULONG count, const EXPLICIT_ACCESS_W* entries, PACL* acl),
                 (count, entries, acl))
    TAVO_COUNTED(void, LocalFreeAcl, (PACL acl), (acl))
    TAVO_COUNTED(DWORD, InitializeSecurityDescriptor, (SECURITY_DESCRIPTOR* descriptor, DWORD revision),
                 (descriptor, revision))
    TAVO_COUNTED(DWORD, SetSecurityDescriptorDacl,
                 (SECURITY_DESCRIPTOR* descriptor, bool present, PACL dacl, bool defaulted),
                 (descriptor, present, dacl, defaulted))
    TAVO_COUNTED(DWORD, ConvertSidToStringSidW, (PSID sid, std::wstring* text), (sid, text))
    TAVO_COUNTED(DWORD, GetAclEntries, (PACL acl, std::vector<AceEntry>* entries), (acl, entries))
};

class CountingRpc final : public Counted<RpcRuntime> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "RpcRuntime";
    TAVO_COUNTED(RPC_STATUS, RpcServerUseProtseqEpW,
                 (const wchar_t* protseq, unsigned maxCalls, const wchar_t* endpoint,
                  const SECURITY_DESCRIPTOR* descriptor),
                 (protseq, maxCalls, endpoint, descriptor))
    TAVO_COUNTED(RPC_STATUS, RpcServerInqBindings, (RPC_BINDING_VECTOR* vector), (vector))
    TAVO_COUNTED(RPC_STATUS, RpcBindingVectorFree, (RPC_BINDING_VECTOR* vector), (vector))
    TAVO_COUNTED(RPC_STATUS, RpcEpUnregister, (RPC_IF_HANDLE ifHandle, RPC_BINDING_VECTOR vector), (ifHandle, vector))
    TAVO_COUNTED(RPC_STATUS, RpcEpRegisterW, (RPC_IF_HANDLE ifHandle, RPC_BINDING_VECTOR vector), (ifHandle, vector))
    TAVO_COUNTED(RPC_STATUS, RpcServerRegisterIf3,
                 (RPC_IF_HANDLE ifHandle, unsigned flags, unsigned maxCalls, unsigned maxRpcSize,
                  const SECURITY_DESCRIPTOR* descriptor),
                 (ifHandle, flags, maxCalls, maxRpcSize, descriptor))
    TAVO_COUNTED(RPC_STATUS, RpcServerListen, (unsigned minThreads, unsigned maxCalls, unsigned dontWait),
                 (minThreads, maxCalls, dontWait))
    TAVO_COUNTED(RPC_STATUS, RpcServerUnregisterIf, (RPC_IF_HANDLE ifHandle, unsigned waitForCallsToComplete),
                 (ifHandle, waitForCallsToComplete))
};

class CountingSetupInf final : public Counted<SetupInf> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "SetupInf";
    TAVO_COUNTED(DWORD, SetupOpenInfFileW, (const wchar_t* fileName, DWORD style, HINF* inf), (fileName, style, inf))
    TAVO_COUNTED(void, SetupCloseInfFile, (HINF inf), (inf))
    TAVO_COUNTED(DWORD, SetupFindFirstLineW,
                 (HINF inf, const wchar_t* section, const wchar_t* key, INFCONTEXT* context),
                 (inf, section, key, context))
    TAVO_COUNTED(DWORD, SetupGetStringFieldW,
                 (const INFCONTEXT& context, DWORD field, wchar_t* buffer, DWORD size, DWORD* required),
                 (context, field, buffer, size, required))
    TAVO_COUNTED(DWORD, SetupUninstallOEMInfW, (const wchar_t* infFileName, DWORD flags), (infFileName, flags))
    TAVO_COUNTED(DWORD, GetWindowsDirectoryW, (wchar_t* buffer, UINT size, UINT* length), (buffer, size, length))
    TAVO_COUNTED(DWORD, FindFirstFileW, (const wchar_t* pattern, HANDLE* find, std::wstring* name),
                 (pattern, find, name))
    TAVO_COUNTED(DWORD, FindNextFileW, (HANDLE find, std::wstring* name), (find, name))
    TAVO_COUNTED(void, FindClose, (HANDLE find), (find))
    TAVO_COUNTED(DWORD, DeleteFileW, (const wchar_t* path), (path))
};

class CountingSync final : public Counted<Synchronization> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Synchronization";
    TAVO_COUNTED(DWORD, CreateEventW,
                 (const SECURITY_DESCRIPTOR* descriptor, bool manualReset, bool initialState, const wchar_t* name,
                  HANDLE* out, bool* existed),
                 (descriptor, manualReset, initialState, name, out, existed))
    TAVO_COUNTED(DWORD, OpenEventW, (DWORD access, const wchar_t* name, HANDLE* out), (access, name, out))
    TAVO_COUNTED(DWORD, SetEvent, (HANDLE event), (event))
    TAVO_COUNTED(DWORD, ResetEvent, (HANDLE event), (event))
    TAVO_COUNTED(DWORD, CloseHandle, (HANDLE event), (event))
    TAVO_COUNTED(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds, DWORD* error),
                 (handle, milliseconds, error))
    TAVO_COUNTED(DWORD, WaitForMultipleObjects,
                 (DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds, DWORD* error),
                 (count, handles, waitAll, milliseconds, error))
    TAVO_COUNTED(DWORD, SetNamedSecurityInfoW, (const wchar_t* name, DWORD securityInfo, PSID owner, PACL dacl),
                 (name, securityInfo, owner, dacl))
};

class CountingProcesses final : public Counted<Processes> {
public:
    using Counted::Counted;
    static constexpr const char* kFacet = "Processes";
    TAVO_COUNTED(DWORD, CreateToolhelp32Snapshot, (DWORD flags, DWORD processId, HANDLE* out),
                 (flags, processId, out))
    TAVO_COUNTED(DWORD, Process32FirstW, (HANDLE snapshot, PROCESSENTRY32W* entry), (snapshot, entry))
    TAVO_COUNTED(DWORD, Process32NextW, (HANDLE snapshot, PROCESSENTRY32W* entry), (snapshot, entry))
    TAVO_COUNTED(DWORD, ProcessIdToSessionId, (DWORD processId, DWORD* sessionId), (processId, sessionId))
    TAVO_COUNTED(DWORD, GetCurrentProcessId, (), ())
    TAVO_COUNTED(DWORD, OpenProcess, (DWORD access, DWORD processId, HANDLE* out), (access, processId, out))
    TAVO_COUNTED(DWORD, OpenProcessToken, (HANDLE process, DWORD access, HANDLE* out), (process, access, out))
    TAVO_COUNTED(DWORD, LookupPrivilegeValueW, (const wchar_t* name, LUID* out), (name, out))
    TAVO_COUNTED(DWORD, AdjustTokenPrivileges, (HANDLE token, const LUID& privilege, DWORD attributes),
                 (token, privilege, attributes))
    TAVO_COUNTED(DWORD, DuplicateTokenEx,
                 (HANDLE token, DWORD access, DWORD impersonationLevel, DWORD tokenType, HANDLE* out),
                 (token, access, impersonationLevel, tokenType, out))
    TAVO_COUNTED(DWORD, SetTokenSessionId, (HANDLE token, DWORD sessionId), (token, sessionId))
    TAVO_COUNTED(DWORD, CreateEnvironmentBlock, (HANDLE token, bool inherit, ENVIRONMENT_BLOCK* out),
                 (token, inherit, out))
    TAVO_COUNTED(DWORD, DestroyEnvironmentBlock, (ENVIRONMENT_BLOCK block), (block))
    TAVO_COUNTED(DWORD, CreateProcessAsUserW,
                 (HANDLE token, const wchar_t* applicationName, wchar_t* commandLine, DWORD flags,
                  ENVIRONMENT_BLOCK environment, const wchar_t* currentDirectory, const wchar_t* desktop,
                  PROCESS_INFORMATION* out),
                 (token, applicationName, commandLine, flags, environment, currentDirectory, desktop, out))
    TAVO_COUNTED(DWORD, GetExitCodeProcess, (HANDLE process, DWORD* exitCode), (process, exitCode))
    TAVO_COUNTED(DWORD, CloseHandle, (HANDLE handle), (handle))
};

#undef TAVO_COUNTED

// A counting stand-in for a facet that is installed; none for one that is not.
template <typename Counting, typename Facet>
std::optional<Counting> Wrap(Facet* inner, CallCounts& counts) {
    if (inner == nullptr) return std::nullopt;
    return std::optional<Counting>(std::in_place, *inner, counts);
}

template <typename Counting, typename Facet>
Facet* Pointer(std::optional<Counting>& wrapper) {
    return wrapper ? static_cast<Facet*>(&*wrapper) : nullptr;
}

}  // namespace

struct CountingPlatform::Facets {
    Facets(const win::Platform& p, CallCounts& c)
        : registry(Wrap<CountingRegistry>(p.registry, c)),
          scm(Wrap<CountingScm>(p.scm, c)),
          etw(Wrap<CountingEtw>(p.etw, c)),
          console(Wrap<CountingConsole>(p.console, c)),
          system(Wrap<CountingSystem>(p.system, c)),
          hid(Wrap<CountingHid>(p.hid, c)),
          devices(Wrap<CountingDevices>(p.devices, c)),
          sessions(Wrap<CountingSessions>(p.sessions, c)),
          files(Wrap<CountingFiles>(p.files, c)),
          threads(Wrap<CountingThreads>(p.threads, c)),
          security(Wrap<CountingSecurity>(p.security, c)),
          rpc(Wrap<CountingRpc>(p.rpc, c)),
          setupInf(Wrap<CountingSetupInf>(p.setupInf, c)),
          sync(Wrap<CountingSync>(p.sync, c)),
          processes(Wrap<CountingProcesses>(p.processes, c)) {}

    win::Platform AsPlatform() {
        win::Platform p;
        p.registry = Pointer<CountingRegistry, win::Registry>(registry);
        p.scm = Pointer<CountingScm, win::ServiceManager>(scm);
        p.etw = Pointer<CountingEtw, win::EventTracing>(etw);
        p.console = Pointer<CountingConsole, win::Console>(console);
        p.system = Pointer<CountingSystem, win::System>(system);
        p.hid = Pointer<CountingHid, win::HidDevices>(hid);
        p.devices = Pointer<CountingDevices, win::DeviceManager>(devices);
        p.sessions = Pointer<CountingSessions, win::Sessions>(sessions);
        p.files = Pointer<CountingFiles, win::Files>(files);
        p.threads = Pointer<CountingThreads, win::Threads>(threads);
        p.security = Pointer<CountingSecurity, win::Security>(security);
        p.rpc = Pointer<CountingRpc, win::RpcRuntime>(rpc);
        p.setupInf = Pointer<CountingSetupInf, win::SetupInf>(setupInf);
        p.sync = Pointer<CountingSync, win::Synchronization>(sync);
        p.processes = Pointer<CountingProcesses, win::Processes>(processes);
        return p;
    }

    std::optional<CountingRegistry> registry;
    std::optional<CountingScm> scm;
    std::optional<CountingEtw> etw;
    std::optional<CountingConsole> console;
    std::optional<CountingSystem> system;
    std::optional<CountingHid> hid;
    std::optional<CountingDevices> devices;
    std::optional<CountingSessions> sessions;
    std::optional<CountingFiles> files;
    std::optional<CountingThreads> threads;
    std::optional<CountingSecurity> security;
    std::optional<CountingRpc> rpc;
    std::optional<CountingSetupInf> setupInf;
    std::optional<CountingSync> sync;
    std::optional<CountingProcesses> processes;
};

CountingPlatform::CountingPlatform()
    : inner_(win::P()), facets_(std::make_unique<Facets>(inner_, counts_)), counting_(facets_->AsPlatform()) {}

CountingPlatform::~CountingPlatform() { Uninstall(); }

void CountingPlatform::Install() {
    win::SetPlatform(counting_);
    installed_ = true;
}

void CountingPlatform::Uninstall() {
    if (installed_ && win::P().registry == counting_.registry) win::SetPlatform(inner_);
    installed_ = false;
}

}  // namespace sim
