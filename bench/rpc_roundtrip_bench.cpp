// Round-trip cost of the service's ProcessGetTouchpadData(function 99) against the bare
// interface's empty procedure, both over ncalrpc, with several concurrent clients. Each client
// is a thread with its own binding and its own context handle. Prints figures; never fails on
// slowness.
//
// Usage:
//   rpc_roundtrip_bench [--clients 1,16,64] [--seconds S] [--rounds R] [--wait S] [--no-service] [--no-prime]
//   rpc_roundtrip_bench --probe service|bare     exit 0 when that server answers an open and close
// --no-prime lets all clients connect at once, which shows Wine's context mismatch (see RunClient).
#include <windows.h>
#include <rpc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "rpc_bare.h"
#include "rpc_guard.h"
#include "touchpad_rpc.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr LONG kDataFunction = 99;
constexpr LONG kDataFunctionAnswer = 0x12345678;
// Outside the range of RPC statuses: the call went through but the answer was not the expected one.
constexpr DWORD kWrongAnswer = 0x10000;
constexpr int kWarmUpCalls = 3;

using rpc_guard::CatchRpcFailure;
using rpc_guard::Guarded;

// ---- the two interfaces ---------------------------------------------------------------------

struct Side {
    const char* name;
    const wchar_t* endpoint;
    DWORD (*open)(RPC_BINDING_HANDLE binding, void** context);
    DWORD (*call)(void* context);
    DWORD (*close)(void** context);
};

struct OpenArgs {
    RPC_BINDING_HANDLE binding;
    void** context;
};
struct DataArgs {
    void* context;
    LONG data;
};

const Side kService = {
    "service",
    L"HsaSampleRpcEndpoint2",
    [](RPC_BINDING_HANDLE binding, void** context) {
        OpenArgs args{binding, context};
        return Guarded([](void* a) {
            auto* o = static_cast<OpenArgs*>(a);
            OpenRpcEndpoint(o->binding, o->context);
        }, &args);
    },
    [](void* context) {
        DataArgs args{context, 0};
        const DWORD status = Guarded([](void* a) {
            auto* d = static_cast<DataArgs*>(a);
            ProcessGetTouchpadData(d->context, kDataFunction, &d->data);
        }, &args);
        if (status == 0 && args.data != kDataFunctionAnswer) return kWrongAnswer;
        return status;
    },
    [](void** context) {
        return Guarded([](void* c) { CloseRpcEndpoint(static_cast<void**>(c)); }, context);
    },
};

const Side kBare = {
    "bare",
    L"TavoBareRpcEndpoint",
    [](RPC_BINDING_HANDLE binding, void** context) {
        OpenArgs args{binding, context};
        return Guarded([](void* a) {
            auto* o = static_cast<OpenArgs*>(a);
            BareOpen(o->binding, o->context);
        }, &args);
    },
    [](void* context) {
        DataArgs args{context, 0};
        return Guarded([](void* a) {
            auto* d = static_cast<DataArgs*>(a);
            BareEmpty(d->context, kDataFunction, &d->data);
        }, &args);
    },
    [](void** context) {
        return Guarded([](void* c) { BareClose(static_cast<void**>(c)); }, context);
    },
};

// An explicit binding to the side's static endpoint; 0 or the RPC status.
DWORD Bind(const Side& side, RPC_BINDING_HANDLE* binding) {
    RPC_WSTR text = nullptr;
    RPC_STATUS status = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                                 nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(side.endpoint)),
                                                 nullptr, &text);
    if (status != RPC_S_OK) return static_cast<DWORD>(status);
    status = RpcBindingFromStringBindingW(text, binding);
    RpcStringFreeW(&text);
    return static_cast<DWORD>(status);
}

// Opens and closes one context: 0 when the side answers, otherwise the first failure.
DWORD Probe(const Side& side) {
    RPC_BINDING_HANDLE binding = nullptr;
    DWORD status = Bind(side, &binding);
    if (status != 0) return status;
    void* context = nullptr;
    status = side.open(binding, &context);
    if (status == 0) status = side.close(&context);
    RpcBindingFree(&binding);
    return status;
}

DWORD WaitUntilAnswering(const Side& side, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const DWORD status = Probe(side);
        if (status == 0 || Clock::now() >= deadline) return status;
        Sleep(200);
    }
}

// ---- one timed phase ------------------------------------------------------------------------

struct Tally {
    std::vector<double> ms;               // successful timed calls
    std::map<DWORD, long> failures;       // status -> count, over open, warm-up, timed and close calls
    double seconds = 0;                   // length of the timed windows
    double firstCallMs = 0;               // slowest first call of a simultaneous start (untimed)

    void Add(const Tally& other) {
        ms.insert(ms.end(), other.ms.begin(), other.ms.end());
        for (const auto& [status, count] : other.failures) failures[status] += count;
        seconds += other.seconds;
        firstCallMs = std::max(firstCallMs, other.firstCallMs);
    }
    long Failed() const {
        long n = 0;
        for (const auto& entry : failures) n += entry.second;
        return n;
    }
};

class Event {
public:
    Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set() { SetEvent(handle_); }
    void Wait() { WaitForSingleObject(handle_, INFINITE); }

private:
    HANDLE handle_;
};

struct StartLine {
    std::atomic<int> connected{0};
    std::atomic<int> warm{0};
    Event primed, warmUp, go;
    Clock::time_point deadline;
};

double MsSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Wine's client run time shares one association, and its pool of connections, among all
// bindings of a process to the same endpoint. Connections opened before the first one has
// come back idle carry no association group, so the server gives each its own; a context
// opened on one is then unknown on another and calls fail with 6 (context mismatch). The
// first client therefore connects alone, as a lone client process would.
void RunClient(const Side& side, bool first, bool prime, StartLine& start, Tally& out) {
    if (prime && !first) start.primed.Wait();
    RPC_BINDING_HANDLE binding = nullptr;
    void* context = nullptr;
    DWORD status = Bind(side, &binding);
    if (status == 0) status = side.open(binding, &context);
    if (first) start.primed.Set();
    if (status != 0) ++out.failures[status];
    start.connected.fetch_add(1);

    // Wine's server runs each call on a pool thread and starts threads as concurrent calls
    // first need them: the first burst of simultaneous calls is slow, so it is not timed.
    start.warmUp.Wait();
    if (status == 0) {
        for (int i = 0; i < kWarmUpCalls; ++i) {
            const auto t0 = Clock::now();
            if (DWORD s = side.call(context)) ++out.failures[s];
            if (i == 0) out.firstCallMs = MsSince(t0);
        }
    }
    start.warm.fetch_add(1);

    start.go.Wait();
    if (status == 0) {
        out.ms.reserve(8192);
        for (;;) {
            const auto t0 = Clock::now();
            if (t0 >= start.deadline) break;
            const DWORD s = side.call(context);
            if (s == 0) out.ms.push_back(MsSince(t0));
            else ++out.failures[s];
        }
        if (DWORD s = side.close(&context)) ++out.failures[s];
    }
    if (binding) RpcBindingFree(&binding);
}

Tally RunPhase(const Side& side, int clients, double seconds, bool prime) {
    StartLine start;
    std::vector<Tally> tallies(clients);
    std::vector<std::thread> threads;
    threads.reserve(clients);
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(RunClient, std::cref(side), i == 0, prime, std::ref(start), std::ref(tallies[i]));
    while (start.connected.load() < clients) Sleep(1);
    start.warmUp.Set();
    while (start.warm.load() < clients) Sleep(1);
    start.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    start.go.Set();
    for (auto& t : threads) t.join();
    Tally all;
    for (const auto& t : tallies) all.Add(t);
    all.seconds = seconds;
    return all;
}

// ---- figures --------------------------------------------------------------------------------

// Nearest-rank percentile of sorted samples.
double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

std::string FailureDetail(const Tally& t) {
    std::string text;
    for (const auto& [status, count] : t.failures) {
        char part[64];
        if (status == kWrongAnswer) std::snprintf(part, sizeof part, "%swrong answer x%ld", text.empty() ? "" : ", ", count);
        else std::snprintf(part, sizeof part, "%sstatus %lu x%ld", text.empty() ? "" : ", ", status, count);
        text += part;
    }
    return text;
}

// service is null when it was not measured; serviceAbsence then says why.
void PrintCase(int clients, const Tally* service, const char* serviceAbsence, const Tally& bare) {
    auto figures = [](const char* name, const Tally& t, double* median) {
        std::vector<double> ms = t.ms;
        std::sort(ms.begin(), ms.end());
        *median = Percentile(ms, 0.5);
        char text[128];
        if (ms.empty()) std::snprintf(text, sizeof text, "%s no successful call", name);
        else std::snprintf(text, sizeof text, "%s median %.2f ms p99 %.1f ms", name, *median, Percentile(ms, 0.99));
        return std::string(text);
    };
    double serviceMedian = 0, bareMedian = 0;
    const std::string serviceText = service ? figures("service", *service, &serviceMedian) : serviceAbsence;
    const std::string bareText = figures("bare", bare, &bareMedian);
    std::string ratio;
    if (serviceMedian > 0 && bareMedian > 0) {
        char text[32];
        std::snprintf(text, sizeof text, ", ratio %.2f", serviceMedian / bareMedian);
        ratio = text;
    }
    const long serviceFailed = service ? service->Failed() : 0;
    std::printf("rpc round trip, %d client%s: %s, %s%s, failed %ld\n", clients, clients == 1 ? "" : "s",
                serviceText.c_str(), bareText.c_str(), ratio.c_str(), serviceFailed + bare.Failed());
    auto rate = [](const Tally& t) { return t.seconds > 0 ? static_cast<double>(t.ms.size()) / t.seconds : 0.0; };
    if (service)
        std::printf("  calls: service %zu (%.0f/s), bare %zu (%.0f/s); slowest first call of the simultaneous start: "
                    "service %.0f ms, bare %.0f ms\n",
                    service->ms.size(), rate(*service), bare.ms.size(), rate(bare), service->firstCallMs, bare.firstCallMs);
    else
        std::printf("  calls: bare %zu (%.0f/s); slowest first call of the simultaneous start: bare %.0f ms\n",
                    bare.ms.size(), rate(bare), bare.firstCallMs);
    if (serviceFailed) std::printf("  service failures: %s\n", FailureDetail(*service).c_str());
    if (bare.Failed()) std::printf("  bare failures: %s\n", FailureDetail(bare).c_str());
    std::fflush(stdout);
}

const char* WineVersion() {
    using Fn = const char* (*)();
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return fn ? fn() : nullptr;
}

std::vector<int> ParseClients(const char* text) {
    std::vector<int> counts;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > 1024) return {};
        counts.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != '\0') return {};
    }
    return counts;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rpc_roundtrip_bench [--clients 1,16,64] [--seconds S] [--rounds R] [--wait S] [--no-service] [--no-prime]\n"
                 "       rpc_roundtrip_bench --probe service|bare\n");
    return 2;
}

}  // namespace

extern "C" {
void* __RPC_USER MIDL_user_allocate(SIZE_T size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void __RPC_USER MIDL_user_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }
}

int main(int argc, char** argv) {
    std::vector<int> clientCounts = {1, 16, 64};
    // Many short rounds, sides alternating, so drift in the machine's load hits both alike.
    double seconds = 0.75;
    int rounds = 6;
    double wait = 5.0;
    bool withService = true;
    const char* serviceAbsence = "service not measured";
    bool prime = true;
    const char* probe = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--clients" && hasValue) clientCounts = ParseClients(argv[++i]);
        else if (arg == "--seconds" && hasValue) seconds = std::atof(argv[++i]);
        else if (arg == "--rounds" && hasValue) rounds = std::atoi(argv[++i]);
        else if (arg == "--wait" && hasValue) wait = std::atof(argv[++i]);
        else if (arg == "--probe" && hasValue) probe = argv[++i];
        else if (arg == "--no-service") withService = false;
        else if (arg == "--no-prime") prime = false;
        else return Usage();
    }
    if (clientCounts.empty() || seconds <= 0 || seconds > 30 || rounds < 1 || rounds > 10 || wait < 0) return Usage();

    AddVectoredExceptionHandler(1, CatchRpcFailure);

    if (probe) {
        const Side* side = std::strcmp(probe, "service") == 0 ? &kService
                         : std::strcmp(probe, "bare") == 0    ? &kBare
                                                              : nullptr;
        if (!side) return Usage();
        const DWORD status = Probe(*side);
        if (status != 0) std::printf("%s: not answering (RPC status %lu)\n", side->name, status);
        return status == 0 ? 0 : 1;
    }

    const char* wine = WineVersion();
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::printf("rpc round trip over ncalrpc on %s, %lu cores: service ProcessGetTouchpadData(%ld) on [%ls], "
                "bare BareEmpty on [%ls]\n",
                wine ? (std::string("Wine ") + wine).c_str() : "Windows", system.dwNumberOfProcessors, kDataFunction,
                kService.endpoint, kBare.endpoint);
    std::printf("each case: %d round%s of %g s per side, sides alternating; one binding and one context per client; "
                "%d untimed calls each first, all clients together; ratio = service median / bare median\n",
                rounds, rounds == 1 ? "" : "s", seconds, kWarmUpCalls);

    const DWORD bareStatus = WaitUntilAnswering(kBare, wait);
    if (bareStatus != 0) {
        std::printf("bare: not answering on ncalrpc:[%ls] (RPC status %lu); nothing to measure\n", kBare.endpoint, bareStatus);
        return 1;
    }
    if (withService) {
        const DWORD status = WaitUntilAnswering(kService, wait);
        if (status != 0) {
            std::printf("service: NOT ANSWERING on ncalrpc:[%ls] (RPC status %lu); bare figures only\n",
                        kService.endpoint, status);
            withService = false;
            serviceAbsence = "service not answering";
        }
    } else {
        std::printf("service: not measured (--no-service); bare figures only\n");
    }
    std::fflush(stdout);

    for (const int clients : clientCounts) {
        Tally service, bare;
        for (int round = 0; round < rounds; ++round) {
            // Alternating which side goes first evens out drift within a case.
            const bool serviceFirst = round % 2 == 0;
            if (withService && serviceFirst) service.Add(RunPhase(kService, clients, seconds, prime));
            bare.Add(RunPhase(kBare, clients, seconds, prime));
            if (withService && !serviceFirst) service.Add(RunPhase(kService, clients, seconds, prime));
        }
        PrintCase(clients, withService ? &service : nullptr, serviceAbsence, bare);
    }
    return 0;
}
