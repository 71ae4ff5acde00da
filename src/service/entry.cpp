#include "service/entry.h"

#include <cstdio>
#include <memory>
#include <string>

#include "common/equals_no_case.h"
#include "platform/console.h"
#include "platform/handles.h"
#include "platform/scm.h"
#include "platform/system.h"
#include "rpc/rpc_server.h"
#include "service/sample_service.h"

namespace tavo {
namespace {

constexpr win::DWORD kModulePathChars = 260;

// "0x%08lx"
std::wstring Hex8(win::DWORD value) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

void Print(const std::wstring& text) { win::Con().Write(text); }

void PrintFailure(const wchar_t* call, win::DWORD error) { Print(std::wstring(call) + L" failed w/err " + Hex8(error) + L"\n"); }

int Install() {
    wchar_t path[kModulePathChars];
    win::DWORD length = 0;
    win::DWORD error = win::Sys().GetModuleFileNameW(path, kModulePathChars, &length);
    // A cut path would register some other program; refuse it like a failed call.
    if (error == win::ERROR_SUCCESS && length == 0) error = win::ERROR_GEN_FAILURE;
    if (error != win::ERROR_SUCCESS) {
        PrintFailure(L"GetModuleFileName", error);
        return 0;
    }
    // Quoted, so a path with a blank cannot start a different program.
    std::wstring binaryPath = L"\"" + std::wstring(path, length) + L"\"";

    // Declared first so it is released last: the manager handle closes before the service's.
    win::UniqueScHandle service;
    win::UniqueScHandle manager;
    error = win::Scm().OpenSCManagerW(win::SC_MANAGER_CONNECT | win::SC_MANAGER_CREATE_SERVICE, manager.put());
    if (error != win::ERROR_SUCCESS) {
        PrintFailure(L"OpenSCManager", error);
        return 0;
    }
    error = win::Scm().CreateServiceW(manager.get(), kServiceName, kServiceDisplayName,
                                      win::SERVICE_QUERY_STATUS | win::SERVICE_START, win::SERVICE_WIN32_OWN_PROCESS,
                                      win::SERVICE_DEMAND_START, win::SERVICE_ERROR_NORMAL, binaryPath.c_str(),
                                      service.put());
    if (error != win::ERROR_SUCCESS) {
        PrintFailure(L"CreateService", error);
        return 0;
    }
    Print(std::wstring(kServiceName) + L" is installed.\n");
    error = win::Scm().StartServiceW(service.get());
    if (error == win::ERROR_SUCCESS)
        Print(std::wstring(kServiceName) + L" is started.\n");
    else
        PrintFailure(L"StartService", error);
    return 0;
}

int Remove() {
    win::UniqueScHandle service;  // released after the manager, as in install
    win::UniqueScHandle manager;
    win::DWORD error = win::Scm().OpenSCManagerW(win::SC_MANAGER_CONNECT, manager.put());
    if (error != win::ERROR_SUCCESS) {
        PrintFailure(L"OpenSCManager", error);
        return 0;
    }
    error = win::Scm().OpenServiceW(manager.get(), kServiceName, win::SERVICE_STOP | win::SERVICE_QUERY_STATUS | win::DELETE,
                                    service.put());
    if (error != win::ERROR_SUCCESS) {
        PrintFailure(L"OpenService", error);
        return 0;
    }
    win::SERVICE_STATUS status{};
    if (win::Scm().ControlService(service.get(), win::SERVICE_CONTROL_STOP, &status) == win::ERROR_SUCCESS) {
        Print(std::wstring(L"Stopping ") + kServiceName + L".");
        win::Sys().Sleep(1000);
        while (win::Scm().QueryServiceStatus(service.get(), &status) == win::ERROR_SUCCESS &&
               status.dwCurrentState == win::SERVICE_STOP_PENDING) {
            Print(L".");
            win::Sys().Sleep(1000);
        }
        if (status.dwCurrentState == win::SERVICE_STOPPED)
            Print(std::wstring(L"\n") + kServiceName + L" is stopped.\n");
        else
            Print(std::wstring(L"\n") + kServiceName + L" failed to stop.\n");
    }
    error = win::Scm().DeleteService(service.get());
    if (error == win::ERROR_SUCCESS)
        Print(std::wstring(kServiceName) + L" is removed.\n");
    else
        PrintFailure(L"DeleteService", error);
    return 0;
}

int RunConsole() {
    auto service = std::make_unique<CSampleService>();
    service->SetConsoleMode(true);
    service->WriteTraceString(L"Starting Rpc Server..", win::TRACE_LEVEL_INFORMATION);
    win::DWORD result = RpcServerStart();
    if (result == 0) return 0;
    char line[64];
    std::snprintf(line, sizeof line, "RpcServerConnect returned: 0x%x\n", static_cast<unsigned>(result));
    Print(std::wstring(line, line + std::char_traits<char>::length(line)));
    service->WriteTraceString(L"Starting Rpc Server..", win::TRACE_LEVEL_INFORMATION);
    // The object is left alive: the trace session keeps running past this exit.
    (void)service.release();
    win::Sys().ExitProcess(result);
    return static_cast<int>(result);  // not reached
}

int RunDispatcher() {
    CSampleService service;
    serviceInstance = &service;
    win::DWORD error = win::Scm().StartServiceCtrlDispatcherW(service.name(), &CServiceBase::ServiceMain);
    if (error != win::ERROR_SUCCESS) Print(L"Service failed to run w/err " + Hex8(error) + L"\n");
    serviceInstance = nullptr;
    return 0;
}

void PrintUsage() {
    Print(L"Parameters:\n");
    Print(L" -install  to install the service.\n");
    Print(L" -remove   to remove the service.\n");
    Print(L" -console  to run in console mode.\n");
}

}  // namespace

EntryMode SelectMode(int argc, wchar_t** argv) {
    if (argc < 2 || argv[1] == nullptr || (argv[1][0] != L'-' && argv[1][0] != L'/')) return EntryMode::Dispatcher;
    const wchar_t* word = argv[1] + 1;
    if (EqualsNoCase(word, L"install")) return EntryMode::Install;
    if (EqualsNoCase(word, L"remove")) return EntryMode::Remove;
    if (EqualsNoCase(word, L"console")) return EntryMode::Console;
    return EntryMode::Usage;
}

int ServiceEntry(int argc, wchar_t** argv) {
    switch (SelectMode(argc, argv)) {
        case EntryMode::Install: return Install();
        case EntryMode::Remove: return Remove();
        case EntryMode::Console: return RunConsole();
        case EntryMode::Usage: PrintUsage(); return 0;
        case EntryMode::Dispatcher: return RunDispatcher();
    }
    return 0;
}

}  // namespace tavo
