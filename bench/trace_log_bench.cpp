// Cost of one TraceLog message beside the C library doing the same work bare: vsnprintf of
// the same message (wide arguments narrowed by the library) and mbstowcs of the result into
// the wide record, in the same run. The provider write goes to a sink that discards it, so
// the figures are those of the log itself. Heap allocations are counted per message at two
// levels: operator new, and malloc and its relatives (replaced below, forwarding to glibc).
//
// Defaults: 25 repetitions of 0.1 s each, medians reported; any Google Benchmark flag given
// on the command line overrides them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/etw.h"
#include "platform/sim/machine.h"
#include "service/sample_service.h"

namespace {

std::atomic<long> g_newCalls{0};
std::atomic<long> g_mallocCalls{0};

class DiscardingEtw : public win::EventTracing {
public:
    win::ULONG EventRegister(const win::GUID&, win::REGHANDLE* out) override {
        *out = 1;
        return 0;
    }
    win::ULONG EventUnregister(win::REGHANDLE) override { return 0; }
    win::ULONG EventWriteString(win::REGHANDLE, win::BYTE, win::ULONGLONG, const wchar_t* text) override {
        benchmark::DoNotOptimize(text[0]);
        return 0;
    }
    win::ULONG StartTraceW(win::TRACEHANDLE* out, const wchar_t*, win::BYTE*) override {
        *out = 1;
        return 0;
    }
    win::ULONG EnableTraceEx2(win::TRACEHANDLE, const win::GUID&, win::ULONG, win::BYTE, win::ULONGLONG,
                              win::ULONGLONG, win::ULONG) override {
        return 0;
    }
    win::ULONG ControlTraceW(win::TRACEHANDLE, const wchar_t*, win::BYTE*, win::ULONG) override { return 0; }
};

// What a message is given to format into when the Windows runtime's _vsnprintf_s does it:
// 4093 of a 4096-byte buffer.
constexpr std::size_t kRuntimeFormatLimit = 4093;

// The bare work: the library's formatter into a buffer as large as the runtime's, and the
// narrow text widened into a record as large as the log's (its last character kept for
// the terminator).
void Bare(const char* format, ...) {
    char narrow[4096];
    wchar_t wide[tavo::kTraceWideChars];
    va_list args;
    va_start(args, format);
    std::vsnprintf(narrow, kRuntimeFormatLimit, format, args);
    va_end(args);
    std::mbstowcs(wide, narrow, tavo::kTraceWideChars - 1);
    wide[tavo::kTraceWideChars - 1] = L'\0';
    benchmark::DoNotOptimize(wide);
    benchmark::ClobberMemory();
}

const std::string& LongText() {
    static const std::string text(3000, 'x');
    return text;
}

// The same message both ways; the log's "%ws" is the C library's "%ls".
struct Message {
    const char* name;
    void (*log)();
    void (*bare)();
};

const Message kMessages[] = {
    {"short", [] { tavo::TraceLog("Service in OnLogon++"); }, [] { Bare("Service in OnLogon++"); }},
    {"wide-arg",
     [] {
         tavo::TraceLog("SyncTouchpadSettings(%s)::Registry Path : %ws\n", "SYNC_READ",
                        L"System\\CurrentControlSet\\Control\\Brindlex_PTP\\User");
     },
     [] {
         Bare("SyncTouchpadSettings(%s)::Registry Path : %ls\n", "SYNC_READ",
              L"System\\CurrentControlSet\\Control\\Brindlex_PTP\\User");
     }},
    {"numbers",
     [] {
         tavo::TraceLog("Palm Check Option = %s(%d); Up=%d, Down=%d, Left=%d, Right=%d\n", "Medium", 2, 10, 20, 30,
                        40);
     },
     [] { Bare("Palm Check Option = %s(%d); Up=%d, Down=%d, Left=%d, Right=%d\n", "Medium", 2, 10, 20, 30, 40); }},
    {"hex",
     [] { tavo::TraceLog("GetFeatureFunction(0x%04X, 0x%04X) Success (0x%04X)\r\n", 0x0305u, 0x03A1u, 0x0307u); },
     [] { Bare("GetFeatureFunction(0x%04X, 0x%04X) Success (0x%04X)\r\n", 0x0305u, 0x03A1u, 0x0307u); }},
    {"long-3000", [] { tavo::TraceLog("%s", LongText().c_str()); }, [] { Bare("%s", LongText().c_str()); }},
    // The longest formats of the forcepad push and of the RPC procedures.
    {"forcepad",
     [] { tavo::TraceLog("[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath_CurrentUser Fail, nStatus = %d", 5); },
     [] { Bare("[ChangeValueInRegistry] RegCreateKeyEx HKLM RegistryPath_CurrentUser Fail, nStatus = %d", 5); }},
    {"rpc",
     [] {
         tavo::TraceLog("Service::ProcessGetTouchpadData:: Function = 0x%.8X, Data = 0x%.8X\n", 0x0305u, 0x0102u);
     },
     [] { Bare("Service::ProcessGetTouchpadData:: Function = 0x%.8X, Data = 0x%.8X\n", 0x0305u, 0x0102u); }},
};

struct Tally {
    long newCalls = 0;
    long mallocCalls = 0;
    long messages = 0;
};
std::map<std::string, Tally> g_tallies;

void Run(benchmark::State& state, const std::string& key, void (*body)()) {
    (void)LongText();
    sim::Machine machine;
    machine.Install();
    DiscardingEtw etw;
    win::P().etw = &etw;
    tavo::CSampleService service;
    const long newBefore = g_newCalls.load();
    const long mallocBefore = g_mallocCalls.load();
    for (auto _ : state) body();
    const long newCalls = g_newCalls.load() - newBefore;
    const long mallocCalls = g_mallocCalls.load() - mallocBefore;
    const double n = static_cast<double>(state.iterations());
    state.counters["new/msg"] = benchmark::Counter(static_cast<double>(newCalls) / n);
    state.counters["malloc/msg"] = benchmark::Counter(static_cast<double>(mallocCalls) / n);
    Tally& t = g_tallies[key];
    t.newCalls += newCalls;
    t.mallocCalls += mallocCalls;
    t.messages += static_cast<long>(state.iterations());
}

// Keeps the medians of every benchmark (or its only run) for the table at the end.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    struct Median {
        double real = -1, cpu = -1;  // nanoseconds
    };
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& r : reports) {
            const std::string name = r.run_name.function_name;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const bool only = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            if (median || only) medians[name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
            if (r.run_type == Run::RT_Aggregate) repetitions = r.repetitions;
        }
    }
    std::map<std::string, Median> medians;
    long repetitions = 1;
};

std::string LogName(const Message& m) { return std::string("TraceLog/") + m.name; }
std::string BareName(const Message& m) { return std::string("vsnprintf+mbstowcs/") + m.name; }

void PrintSummary(const MedianReporter& reporter) {
    auto median = [&](const std::string& name) {
        auto it = reporter.medians.find(name);
        return it == reporter.medians.end() ? MedianReporter::Median{} : it->second;
    };
    std::printf("\nPer message: median of %ld repetition%s in ns, real time (CPU time); heap calls counted over "
                "every message run\n",
                reporter.repetitions, reporter.repetitions == 1 ? "" : "s");
    std::printf("%-10s %17s %20s %12s   %-28s %-28s\n", "message", "TraceLog", "vsnprintf+mbstowcs", "ratio",
                "TraceLog heap (new, malloc)", "bare heap (new, malloc)");
    for (const Message& m : kMessages) {
        const MedianReporter::Median log = median(LogName(m));
        const MedianReporter::Median bare = median(BareName(m));
        if (log.real < 0 || bare.real < 0) continue;  // filtered out
        auto heap = [](const Tally& t) {
            char text[64];
            std::snprintf(text, sizeof text, "%ld, %ld in %ld msgs", t.newCalls, t.mallocCalls, t.messages);
            return std::string(text);
        };
        auto pair = [](double a, double b) {
            char text[48];
            std::snprintf(text, sizeof text, "%.0f (%.0f)", a, b);
            return std::string(text);
        };
        auto ratio = [](double a, double b) {
            char text[48];
            std::snprintf(text, sizeof text, "%.2f (%.2f)", a, b);
            return std::string(text);
        };
        std::printf("%-10s %17s %20s %12s   %-28s %-28s\n", m.name, pair(log.real, log.cpu).c_str(),
                    pair(bare.real, bare.cpu).c_str(), ratio(log.real / bare.real, log.cpu / bare.cpu).c_str(),
                    heap(g_tallies[LogName(m)]).c_str(), heap(g_tallies[BareName(m)]).c_str());
    }
}

}  // namespace

// ---- allocation counting ----------------------------------------------------------------

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    g_mallocCalls.fetch_add(1, std::memory_order_relaxed);
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return 12;  // ENOMEM
    *out = p;
    return 0;
}
void free(void* p) noexcept { __libc_free(p); }
}

// Counted apart from malloc: these go to glibc's allocator directly.
void* operator new(std::size_t size) {
    g_newCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    g_newCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_newCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    g_newCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { __libc_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { __libc_free(p); }

// Whether the counters see an allocation at all, so that a count of 0 means something.
bool AllocationHooksLive() {
    const long newBefore = g_newCalls.load();
    const long mallocBefore = g_mallocCalls.load();
    int* p = new int(1);
    benchmark::DoNotOptimize(p);
    delete p;
    void* q = std::malloc(16);
    benchmark::DoNotOptimize(q);
    std::free(q);
    return g_newCalls.load() > newBefore && g_mallocCalls.load() > mallocBefore;
}

int main(int argc, char** argv) {
    const bool hooksLive = AllocationHooksLive();
    // Defaults first, so that flags given on the command line win.
    std::vector<char*> args{argv[0]};
    std::string repetitions = "--benchmark_repetitions=25";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    std::string minTime = "--benchmark_min_time=0.1";
    args.push_back(repetitions.data());
    args.push_back(aggregates.data());
    args.push_back(minTime.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    for (const Message& m : kMessages) {
        const std::string log = LogName(m);
        const std::string bare = BareName(m);
        benchmark::RegisterBenchmark(log.c_str(), [log, m](benchmark::State& s) { Run(s, log, m.log); });
        benchmark::RegisterBenchmark(bare.c_str(), [bare, m](benchmark::State& s) { Run(s, bare, m.bare); });
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter);
    std::printf("%s\n", hooksLive ? "Allocation counting checked: a new and a malloc made before the run were both seen."
                                   : "WARNING: the allocation counters did not see a test allocation; heap figures mean nothing.");
    return 0;
}
