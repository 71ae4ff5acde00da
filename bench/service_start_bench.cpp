// Times the installed service's start under the service control manager: from StartService
// until its status reads RUNNING, then its stop until STOPPED and its process gone, RUNS
// times; prints every run and the minimum and median of each figure. Run by
// bench/idle-cost.sh, not by ctest. A running service is stopped first.
// Usage: service_start_bench RUNS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr wchar_t kServiceName[] = L"TAVOPTPService";
constexpr DWORD kPollMs = 2;
constexpr double kStateLimitMs = 30000;

double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                                &needed) != FALSE;
}

// Polls until the state is `wanted`; the time since `from` when it was seen, or -1. The
// first time the state read `along` goes to *alongMs when asked for.
double WaitState(SC_HANDLE service, DWORD wanted, double from, DWORD along = 0, double* alongMs = nullptr) {
    SERVICE_STATUS_PROCESS status{};
    while (NowMs() - from < kStateLimitMs) {
        if (!Query(service, &status)) return -1;
        if (alongMs && *alongMs < 0 && status.dwCurrentState == along) *alongMs = NowMs() - from;
        if (status.dwCurrentState == wanted) return NowMs() - from;
        Sleep(kPollMs);
    }
    return -1;
}

// Stops the service; the time until STOPPED and until its process is gone, or -1.
bool Stop(SC_HANDLE service, double* stoppedMs, double* goneMs) {
    SERVICE_STATUS_PROCESS before{};
    if (!Query(service, &before)) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, before.dwProcessId);
    const double from = NowMs();
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        if (process) CloseHandle(process);
        return false;
    }
    *stoppedMs = WaitState(service, SERVICE_STOPPED, from);
    *goneMs = -1;
    if (process) {
        if (WaitForSingleObject(process, static_cast<DWORD>(kStateLimitMs)) == WAIT_OBJECT_0) *goneMs = NowMs() - from;
        CloseHandle(process);
    }
    return *stoppedMs >= 0;
}

struct Figures {
    const char* name;
    std::vector<double> values;
};

void PrintSummary(Figures& f) {
    if (f.values.empty()) return;
    std::sort(f.values.begin(), f.values.end());
    const size_t n = f.values.size();
    const double median = n % 2 ? f.values[n / 2] : (f.values[n / 2 - 1] + f.values[n / 2]) / 2;
    std::printf("%-32s min %8.1f ms   median %8.1f ms   max %8.1f ms   (%zu runs)\n", f.name, f.values.front(), median,
                f.values.back(), n);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? _wtoi(argv[1]) : 0;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: service_start_bench RUNS\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? OpenServiceW(manager, kServiceName, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
    if (!service) {
        std::printf("cannot open the service %ls (%lu)\n", kServiceName, GetLastError());
        return 1;
    }
    SERVICE_STATUS_PROCESS status{};
    double ignored, ignoredToo;
    if (Query(service, &status) && status.dwCurrentState == SERVICE_RUNNING) Stop(service, &ignored, &ignoredToo);

    Figures startReturned{"StartService returned", {}}, pending{"START_PENDING first read", {}},
        running{"StartService to RUNNING", {}}, stopped{"stop to STOPPED", {}}, gone{"stop to process gone", {}};
    int failed = 0;
    for (int run = 1; run <= runs; ++run) {
        const double from = NowMs();
        if (!StartServiceW(service, 0, nullptr)) {
            std::printf("run %d: StartService failed (%lu)\n", run, GetLastError());
            ++failed;
            continue;
        }
        const double returned = NowMs() - from;
        double pendingMs = -1;
        const double runningMs = WaitState(service, SERVICE_RUNNING, from, SERVICE_START_PENDING, &pendingMs);
        double stoppedMs = -1, goneMs = -1;
        const bool stopOk = runningMs >= 0 && Stop(service, &stoppedMs, &goneMs);
        std::printf("run %d: StartService returned %.1f ms, START_PENDING read %.1f ms, RUNNING %.1f ms; "
                    "stop: STOPPED %.1f ms, process gone %.1f ms\n",
                    run, returned, pendingMs, runningMs, stoppedMs, goneMs);
        std::fflush(stdout);
        if (runningMs < 0 || !stopOk) {
            ++failed;
            continue;
        }
        startReturned.values.push_back(returned);
        if (pendingMs >= 0) pending.values.push_back(pendingMs);
        running.values.push_back(runningMs);
        stopped.values.push_back(stoppedMs);
        if (goneMs >= 0) gone.values.push_back(goneMs);
    }
    for (Figures* f : {&running, &startReturned, &pending, &stopped, &gone}) PrintSummary(*f);
    if (failed) std::printf("%d run(s) failed\n", failed);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running.values.empty() ? 1 : 0;
}
