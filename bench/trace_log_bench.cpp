// Cost of one TraceLog message: time and heap allocations per message. The provider
// write goes to a sink that discards it, so the figures are those of the log itself.
#include <benchmark/benchmark.h>

// The counting operator new below pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/etw.h"
#include "platform/sim/machine.h"
#include "service/sample_service.h"
#include "log/trace_log.h"

namespace {

std::atomic<long> g_allocations{0};

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

template <typename Body>
void Run(benchmark::State& state, Body body) {
    sim::Machine machine;
    machine.Install();
    DiscardingEtw etw;
    win::P().etw = &etw;
    tavo::CSampleService service;
    long before = g_allocations.load();
    for (auto _ : state) body();
    long allocations = g_allocations.load() - before;
    state.counters["allocs_per_msg"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
}

void BM_TraceLogShort(benchmark::State& state) {
    Run(state, [] { tavo::TraceLog("Service in OnLogon++"); });
}
void BM_TraceLogFormatted(benchmark::State& state) {
    Run(state, [] {
        tavo::TraceLog("SyncTouchpadSettings(%s)::Registry Path : %ws\n", "SYNC_READ",
                       L"System\\CurrentControlSet\\Control\\Brindlex_PTP\\User");
    });
}
void BM_TraceLogNumbers(benchmark::State& state) {
    Run(state, [] { tavo::TraceLog("Palm Check Option = %s(%d); Up=%d, Down=%d, Left=%d, Right=%d\n", "Auto", 2, 10, 20, 30, 40); });
}
void BM_TraceLogLong(benchmark::State& state) {
    static const std::string text(3000, 'x');
    Run(state, [] { tavo::TraceLog("%s", text.c_str()); });
}

BENCHMARK(BM_TraceLogShort);
BENCHMARK(BM_TraceLogFormatted);
BENCHMARK(BM_TraceLogNumbers);
BENCHMARK(BM_TraceLogLong);

}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
