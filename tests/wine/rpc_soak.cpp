// The Windows side of the soak (bench/soak.sh), a test helper never shipped.
//
//   rpc_soak clients [--clients N] [--seconds S] [--warmup S] [--margin H] [--device-ms MS]
//       N client threads, each with its own binding and context, call every procedure of the
//       service's interface in turn for S seconds (a context is closed and a new one opened
//       every eighth round). The four that scan the HID devices (metering, the status, the
//       two sets, which push into the pad) take turns among all clients, one every
//       --device-ms (250): at full rate 64 clients queue minutes of device work. Meanwhile
//       the service's process (found through the service manager) is sampled once a second:
//       its handles (counted in the system's handle table, and as GetProcessHandleCount
//       says), private memory (its committed private regions, and PrivateUsage), working
//       set, threads and CPU time. Prints the figures, each
//       failed call by procedure and status, and exits 0, or 1 for failed calls, 3 when the
//       handle count, once the clients are gone and the connection threads have ended, is
//       more than H above the count before, 4 when the service's process ended. Never on
//       time.
//   rpc_soak others [--seconds S] [--event-ms MS] [--toggle-ms MS]
//       Another program beside the clients: sets the six named events in turn, opening each
//       as any program would, and sends the agent a toggle report (a zero move through
//       SendInput) every MS; prints what it did and the failures.
//   rpc_soak counters
//       Shows which figures this Windows reports live: this process's handle count and
//       private memory, each both ways, before and after opening 256 events and committing
//       16 MB.
#include <windows.h>
#include <winternl.h>
#include <psapi.h>
#include <rpc.h>

#include "rpc_guard.h"
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "touchpad_rpc.h"

extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
extern "C" void __RPC_USER MIDL_user_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

using rpc_guard::CatchRpcFailure;
using rpc_guard::Guarded;

// Outside the range of RPC statuses: the call went through with a wrong answer.
constexpr DWORD kWrongAnswer = 0x10000;
constexpr DWORD kNoContext = 0x10001;

enum Op { kOpen, kClose, kStartMetering, kSetSamplePeriod, kStopMetering, kGetPalm, kSetPalm, kGetStatus,
          kMouseProperties, kSupport, kData, kSetForcepad, kGetForcepad, kOpCount };
const char* const kOpNames[kOpCount] = {
    "OpenRpcEndpoint", "CloseRpcEndpoint", "StartMetering", "SetSamplePeriod", "StopMetering",
    "ProcessGetTouchpadSettings", "ProcessSetTouchpadSettings", "ProcessGetTouchpadStatus",
    "ProcessExecuteMouseProperties", "ProcessGetSupportFunction", "ProcessGetTouchpadData",
    "ProcessSetForcepadSettings", "ProcessGetForcepadSettings"};

struct OpTally {
    long calls = 0;
    double ms = 0;
    double maxMs = 0;
    std::map<DWORD, long> failures;
};

struct Client {
    OpTally ops[kOpCount];
    RPC_BINDING_HANDLE binding = nullptr;
    TAVO_METERING_HANDLE context = nullptr;
    TAVO_FORCEPAD_SETTINGS forcepad{};
    bool haveForcepad = false;
    std::atomic<long>* calls = nullptr;

    template <typename F>
    bool Call(Op op, F&& body) {
        const auto t0 = Clock::now();
        DWORD status = Guarded(body);
        const double ms = SecondsSince(t0) * 1000;
        OpTally& t = ops[op];
        ++t.calls;
        t.ms += ms;
        t.maxMs = std::max(t.maxMs, ms);
        if (status == 0 && op == kOpen && context == nullptr) status = kNoContext;
        if (status != 0) ++t.failures[status];
        calls->fetch_add(1, std::memory_order_relaxed);
        return status == 0;
    }
    bool Open() {
        context = nullptr;
        return Call(kOpen, [&] { OpenRpcEndpoint(binding, &context); });
    }
    void Close() {
        Call(kClose, [&] { CloseRpcEndpoint(&context); });
        context = nullptr;
    }
    // Every procedure but open and close, with the arguments the settings application sends;
    // device is the one device-scanning procedure this round calls, or kOpCount for none.
    void Round(int round, Op device) {
        if (device == kStartMetering) Call(kStartMetering, [&] { StartMetering(context, 1, 2); });
        Call(kSetSamplePeriod, [&] { SetSamplePeriod(context, 50 + round % 100); });
        Call(kStopMetering, [&] { StopMetering(context); });
        TAVO_PALM_SETTINGS palm{};
        Call(kGetPalm, [&] { ProcessGetTouchpadSettings(context, &palm); });
        TAVO_PALM_SETTINGS set = {2, {0, 0, 0, 0}};
        if (device == kSetPalm) Call(kSetPalm, [&] { ProcessSetTouchpadSettings(context, &set); });
        byte status = 0;
        if (device == kGetStatus) Call(kGetStatus, [&] { ProcessGetTouchpadStatus(context, &status); });
        Call(kMouseProperties, [&] { ProcessExecuteMouseProperties(context); });
        LONG support = 0;
        Call(kSupport, [&] { ProcessGetSupportFunction(context, &support); });
        LONG data = 0;
        if (Call(kData, [&] { ProcessGetTouchpadData(context, 99, &data); }) && data != 0x12345678)
            ++ops[kData].failures[kWrongAnswer];
        TAVO_FORCEPAD_SETTINGS got{};
        if (Call(kGetForcepad, [&] { ProcessGetForcepadSettings(context, &got); }) && got.CurrentControlItem >= 0) {
            forcepad = got;
            haveForcepad = true;
        }
        // What the service handed out goes back, as the application sends a changed record.
        if (device == kSetForcepad && haveForcepad) Call(kSetForcepad, [&] { ProcessSetForcepadSettings(context, &forcepad); });
    }
};

DWORD Bind(RPC_BINDING_HANDLE* binding) {
    RPC_WSTR text = nullptr;
    RPC_STATUS status = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                                 nullptr,
                                                 reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"HsaSampleRpcEndpoint2")),
                                                 nullptr, &text);
    if (status != RPC_S_OK) return static_cast<DWORD>(status);
    status = RpcBindingFromStringBindingW(text, binding);
    RpcStringFreeW(&text);
    return static_cast<DWORD>(status);
}

// ---- the service's process ------------------------------------------------------------------

DWORD ServicePid() {
    DWORD pid = 0;
    if (SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE svc = OpenServiceW(scm, L"TAVOPTPService", SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS_PROCESS status{};
            DWORD needed = 0;
            if (QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
                status.dwCurrentState == SERVICE_RUNNING)
                pid = status.dwProcessId;
            CloseServiceHandle(svc);
        }
        CloseServiceHandle(scm);
    }
    return pid;
}

// The process's entries in the system's handle table; -1 when it cannot be read.
long HandlesInTable(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    static std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status < 0) return -1;
        const auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        long n = 0;
        for (ULONG i = 0; i < info->Count; ++i)
            if (info->Handle[i].OwnerPid == pid) ++n;
        return n;
    }
    return -1;
}

// Committed private memory of the process, summed over its address space: Wine 8 reports
// 0 for PrivateUsage (and for GetProcessHandleCount); the regions are real.
SIZE_T CommittedPrivate(HANDLE process) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

struct Sample {
    double t = 0;
    DWORD handles = 0;  // in the system's handle table
    DWORD reported = 0;  // GetProcessHandleCount
    SIZE_T privateBytes = 0;  // committed private regions
    SIZE_T reportedPrivate = 0;  // PrivateUsage
    SIZE_T workingSet = 0;
    int threads = 0;
    double cpuMs = 0;
    long calls = 0;
    bool alive = false;
};

int ThreadsOf(DWORD pid) {
    int n = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == pid) ++n;
    CloseHandle(snap);
    return n;
}

double CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
}

Sample Take(HANDLE process, DWORD pid, double t, long calls) {
    Sample s;
    s.t = t;
    s.calls = calls;
    s.alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    const long inTable = HandlesInTable(pid);
    s.handles = inTable < 0 ? 0 : static_cast<DWORD>(inTable);
    GetProcessHandleCount(process, &s.reported);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        s.reportedPrivate = memory.PrivateUsage;
        s.workingSet = memory.WorkingSetSize;
    }
    s.privateBytes = CommittedPrivate(process);
    s.threads = ThreadsOf(pid);
    s.cpuMs = CpuMs(process);
    return s;
}

void Print(const char* when, const Sample& s) {
    std::printf("sample %-7s t=%5.1fs handles=%lu (reported %lu) private_kb=%zu working_set_kb=%zu threads=%d cpu_ms=%.0f calls=%ld%s\n",
                when, s.t, static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.reported), s.privateBytes / 1024, s.workingSet / 1024, s.threads,
                s.cpuMs, s.calls, s.alive ? "" : " PROCESS ENDED");
    std::fflush(stdout);
}

std::string Failures(const std::map<DWORD, long>& failures) {
    std::string text;
    for (const auto& [status, count] : failures) {
        char part[64];
        if (status == kWrongAnswer) std::snprintf(part, sizeof part, "%swrong answer x%ld", text.empty() ? "" : ", ", count);
        else if (status == kNoContext) std::snprintf(part, sizeof part, "%sno context x%ld", text.empty() ? "" : ", ", count);
        else std::snprintf(part, sizeof part, "%sstatus %lu x%ld", text.empty() ? "" : ", ", status, count);
        text += part;
    }
    return text;
}

int Clients(int clients, double seconds, double warmup, DWORD margin, int deviceMs) {
    const DWORD pid = ServicePid();
    if (pid == 0) {
        std::printf("the service TAVOPTPService is not running\n");
        return 4;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_VM_OPERATION | SYNCHRONIZE, FALSE, pid);
    if (!process) {
        std::printf("OpenProcess(%lu) failed: %lu\n", pid, GetLastError());
        return 4;
    }
    std::printf("soak: %d clients for %g s (warm-up %g s) against TavoTouchpadService.exe, pid %lu\n", clients, seconds,
                warmup, pid);
    const auto t0 = Clock::now();
    std::vector<Sample> samples;
    samples.push_back(Take(process, pid, 0, 0));
    Print("before", samples.back());

    std::vector<Client> all(clients);
    std::atomic<long> calls{0};
    for (Client& c : all) c.calls = &calls;
    // The next device-scanning procedure and when it is due, shared by all clients.
    static constexpr Op kDeviceOps[] = {kStartMetering, kGetStatus, kSetPalm, kSetForcepad};
    std::atomic<long> deviceTurn{0};
    std::atomic<long long> deviceDue{0};
    auto deviceOp = [&]() -> Op {
        const long long now = static_cast<long long>(SecondsSince(t0) * 1000);
        long long due = deviceDue.load();
        if (now < due || !deviceDue.compare_exchange_strong(due, now + deviceMs)) return kOpCount;
        return kDeviceOps[deviceTurn.fetch_add(1) % 4];
    };
    std::atomic<bool> stop{false};
    HANDLE primed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            Client& c = all[i];
            // The client run time shares one association among a process's bindings:
            // contexts opened on connections made at the same moment can fail later with 6,
            // so the first client connects alone (see rpc_roundtrip_bench).
            if (i != 0) WaitForSingleObject(primed, INFINITE);
            const DWORD bound = Bind(&c.binding);
            if (bound != 0) ++c.ops[kOpen].failures[bound];
            const bool open = bound == 0 && c.Open();
            if (i == 0) SetEvent(primed);
            if (!open) return;
            for (int round = 1; Clock::now() < deadline; ++round) {
                c.Round(round, deviceOp());
                if (round % 8 == 0) {
                    c.Close();
                    if (!c.Open()) break;
                }
            }
            if (c.context) c.Close();
            RpcBindingFree(&c.binding);
        });
    }
    // A sample a second while the clients run.
    std::thread sampler([&] {
        for (int n = 1; !stop.load(); ++n) {
            while (!stop.load() && SecondsSince(t0) < n) Sleep(20);
            if (stop.load()) break;
            samples.push_back(Take(process, pid, SecondsSince(t0), calls.load()));
            Print("during", samples.back());
        }
    });
    for (auto& t : threads) t.join();
    const double ran = SecondsSince(t0);
    stop = true;
    sampler.join();
    CloseHandle(primed);
    // The clients' contexts are closed; the server's connection threads wind down (each
    // holds about three handles while it lives).
    Sample after;
    for (int i = 0; i < 30; ++i) {
        Sleep(500);
        after = Take(process, pid, SecondsSince(t0), calls.load());
        if (after.threads <= samples.front().threads + 1) break;
    }
    Print("after", after);

    long total = 0, failed = 0;
    OpTally sum[kOpCount];
    for (const Client& c : all)
        for (int op = 0; op < kOpCount; ++op) {
            sum[op].calls += c.ops[op].calls;
            sum[op].ms += c.ops[op].ms;
            sum[op].maxMs = std::max(sum[op].maxMs, c.ops[op].maxMs);
            for (const auto& [status, count] : c.ops[op].failures) sum[op].failures[status] += count;
        }
    for (int op = 0; op < kOpCount; ++op) {
        long opFailed = 0;
        for (const auto& entry : sum[op].failures) opFailed += entry.second;
        total += sum[op].calls;
        failed += opFailed;
        std::printf("  %-30s calls %7ld  mean %7.2f ms  max %7.1f ms  failed %ld%s%s\n", kOpNames[op], sum[op].calls,
                    sum[op].calls ? sum[op].ms / sum[op].calls : 0.0, sum[op].maxMs, opFailed,
                    opFailed ? ": " : "", Failures(sum[op].failures).c_str());
    }

    // While the clients run, the handle count follows Wine's connection threads; the
    // halves of the time after the warm-up show whether it climbs. What the calls leave
    // shows once the clients are gone: the settled count against the count before.
    const Sample* warm = nullptr;
    DWORD maxHandles = 0, firstHalf = 0, secondHalf = 0;
    SIZE_T maxPrivate = 0, firstPrivate = 0, secondPrivate = 0;
    bool ended = !after.alive;
    const double middle = (warmup + ran) / 2;
    for (const Sample& s : samples) {
        ended = ended || !s.alive;
        if (s.t < warmup) continue;
        if (!warm) warm = &s;
        maxHandles = std::max(maxHandles, s.handles);
        maxPrivate = std::max(maxPrivate, s.privateBytes);
        (s.t < middle ? firstHalf : secondHalf) = std::max(s.t < middle ? firstHalf : secondHalf, s.handles);
        (s.t < middle ? firstPrivate : secondPrivate) =
            std::max(s.t < middle ? firstPrivate : secondPrivate, s.privateBytes);
    }
    if (!warm) warm = &samples.back();
    const Sample& before = samples.front();
    const Sample& last = samples.back();
    const double cpu = last.cpuMs - before.cpuMs;
    std::printf("calls %ld in %.1f s (%.0f/s), failed %ld\n", total, ran, total / ran, failed);
    std::printf("as Windows reports them: GetProcessHandleCount before %lu, last %lu; PrivateUsage before %zu KB, last %zu KB\n",
                before.reported, last.reported, before.reportedPrivate / 1024, last.reportedPrivate / 1024);
    std::printf("handles: before %lu, after warm-up %lu, highest %lu (first half %lu, second half %lu), "
                "after %lu: %+ld against before (margin %lu)\n",
                before.handles, warm->handles, maxHandles, firstHalf, secondHalf, after.handles,
                static_cast<long>(after.handles) - static_cast<long>(before.handles), margin);
    std::printf("private KB: before %zu, after warm-up %zu, highest %zu (first half %zu, second half %zu), after %zu\n",
                before.privateBytes / 1024, warm->privateBytes / 1024, maxPrivate / 1024, firstPrivate / 1024,
                secondPrivate / 1024, after.privateBytes / 1024);
    std::printf("threads: before %d, after warm-up %d, last %d, after %d\n", before.threads, warm->threads, last.threads,
                after.threads);
    std::printf("service CPU: %.0f ms over the run, %.1f us per call\n", cpu, total ? cpu * 1000 / total : 0.0);

    const bool leaked = after.handles > before.handles + margin;
    CloseHandle(process);
    if (ended) std::printf("FAILED: the service's process ended during the soak\n");
    if (failed) std::printf("FAILED: %ld failed calls\n", failed);
    if (leaked) std::printf("FAILED: the calls left %ld handles open (margin %lu)\n",
                            static_cast<long>(after.handles) - static_cast<long>(before.handles), margin);
    std::fflush(stdout);
    return ended ? 4 : failed ? 1 : leaked ? 3 : 0;
}

// ---- another program beside them ------------------------------------------------------------

constexpr const wchar_t* kNamedEvents[] = {
    L"Global\\API_3HB_Change_Status_On", L"Global\\API_3HB_Change_Status_Off",
    L"Global\\API_Set_Forcepad_Capability_Enable", L"Global\\API_Set_Forcepad_Capability_Disable",
    L"Global\\VQSMessage_PST_ON", L"Global\\VQSMessage_PST_OFF"};

int Others(double seconds, int eventMs, int toggleMs) {
    const auto t0 = Clock::now();
    long eventsSet = 0, togglesSent = 0;
    std::map<std::string, long> failures;
    double nextEvent = 0, nextToggle = 0;
    for (size_t n = 0; SecondsSince(t0) < seconds;) {
        const double now = SecondsSince(t0) * 1000;
        if (now >= nextEvent) {
            const wchar_t* name = kNamedEvents[n++ % 6];
            HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
            if (event && SetEvent(event)) {
                ++eventsSet;
            } else {
                char text[128];
                std::snprintf(text, sizeof text, "%ls: %s %lu", name, event ? "SetEvent" : "OpenEventW", GetLastError());
                ++failures[text];
            }
            if (event) CloseHandle(event);
            nextEvent += eventMs;
        }
        if (now >= nextToggle) {
            INPUT in{};
            in.type = INPUT_MOUSE;
            in.mi.dwFlags = MOUSEEVENTF_MOVE;  // a zero relative move: the touchpad's toggle report
            if (SendInput(1, &in, sizeof in) == 1) {
                ++togglesSent;
            } else {
                char text[64];
                std::snprintf(text, sizeof text, "SendInput %lu", GetLastError());
                ++failures[text];
            }
            nextToggle += toggleMs;
        }
        Sleep(10);
    }
    long failed = 0;
    for (const auto& [what, count] : failures) {
        std::printf("  failed: %s x%ld\n", what.c_str(), count);
        failed += count;
    }
    std::printf("others: %ld named events set, %ld toggle reports sent, %ld failed\n", eventsSet, togglesSent, failed);
    return failed ? 1 : 0;
}

// ---- are the figures live? ------------------------------------------------------------------

int Counters() {
    HANDLE self = GetCurrentProcess();
    auto privateBytes = [&] {
        PROCESS_MEMORY_COUNTERS_EX m{};
        m.cb = sizeof m;
        K32GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
        return m.PrivateUsage;
    };
    DWORD h0 = 0, h1 = 0;
    GetProcessHandleCount(self, &h0);
    const long t0 = HandlesInTable(GetCurrentProcessId());
    const SIZE_T p0 = privateBytes();
    const SIZE_T c0 = CommittedPrivate(self);
    std::vector<HANDLE> events;
    for (int i = 0; i < 256; ++i) events.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const SIZE_T size = 16 << 20;
    char* block = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    for (SIZE_T i = 0; block && i < size; i += 4096) block[i] = 1;
    GetProcessHandleCount(self, &h1);
    const long t1 = HandlesInTable(GetCurrentProcessId());
    const SIZE_T p1 = privateBytes();
    const SIZE_T c1 = CommittedPrivate(self);
    std::printf("counters: handle count %lu -> %lu with 256 events opened (%+ld); private bytes %zu KB -> %zu KB "
                "with 16384 KB committed and touched (%+ld KB)\n",
                h0, h1, static_cast<long>(h1) - static_cast<long>(h0), p0 / 1024, p1 / 1024,
                static_cast<long>(p1 / 1024) - static_cast<long>(p0 / 1024));
    std::printf("counters: handles in the system's handle table %ld -> %ld (%+ld); committed private regions "
                "%zu KB -> %zu KB (%+ld KB)\n",
                t0, t1, t1 - t0, c0 / 1024, c1 / 1024, static_cast<long>(c1 / 1024) - static_cast<long>(c0 / 1024));
    for (HANDLE e : events) CloseHandle(e);
    VirtualFree(block, 0, MEM_RELEASE);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rpc_soak clients [--clients N] [--seconds S] [--warmup S] [--margin H] [--device-ms MS]\n"
                 "       rpc_soak others [--seconds S] [--event-ms MS] [--toggle-ms MS]\n"
                 "       rpc_soak counters\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    int clients = 64, eventMs = 250, toggleMs = 500, deviceMs = 250;
    double seconds = 60, warmup = 10;
    long margin = 16;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (arg == "--clients") clients = std::atoi(value);
        else if (arg == "--seconds") seconds = std::atof(value);
        else if (arg == "--warmup") warmup = std::atof(value);
        else if (arg == "--margin") margin = std::atol(value);
        else if (arg == "--event-ms") eventMs = std::atoi(value);
        else if (arg == "--toggle-ms") toggleMs = std::atoi(value);
        else if (arg == "--device-ms") deviceMs = std::atoi(value);
        else return Usage();
    }
    if (clients < 1 || clients > 256 || seconds <= 0 || warmup < 0 || margin < 0 || eventMs < 1 || toggleMs < 1 || deviceMs < 1)
        return Usage();
    AddVectoredExceptionHandler(1, CatchRpcFailure);
    if (mode == "clients") return Clients(clients, seconds, warmup, static_cast<DWORD>(margin), deviceMs);
    if (mode == "others") return Others(seconds, eventMs, toggleMs);
    if (mode == "counters") return Counters();
    return Usage();
}
