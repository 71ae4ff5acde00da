// Settings applies through the real HID path, under Wine on the virtual laptop: the service's
// core on the Win32 backend, run in a prefix where vlaptop made the laptop. Prints, each as
// median and p90 of real time: one apply (PalmControl, then ForcePadControl, both flags 0,
// as every occasion runs them), one touchpad scan (ScanTavoHidDevice and the close), one
// feature report written and one read (SetFeatureFunction, GetFeatureFunction on an open
// handle); and the seam calls one apply makes. The mode follows from the laptop: with the
// settings application's folder the apply runs in UI mode (six scans), without it and with
// the driver's dynamic mode off in non-UI mode (one scan, the default set). Run by
// bench/hid-apply-bench.sh, which makes the laptops; a benchmark, not a test.
//
//   hid_apply_bench [--samples N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "counting_sink.h"
#include "device/feature_report.h"
#include "device/hid_device.h"
#include "device/system_probes.h"
#include "log/trace_log.h"
#include "platform/sim/counting_platform.h"
#include "platform/win32/win32_platform.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_records.h"
#include "settings/settings_store.h"

namespace {

using namespace tavo;

struct Timing {
    double median, p90;  // microseconds of real time per call
};

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

// One call per sample: under Wine each is milliseconds long, well above the clock's grain.
Timing Time(int samples, const std::function<void()>& body) {
    std::vector<double> us;
    for (int s = 0; s < samples; ++s) {
        const auto start = std::chrono::steady_clock::now();
        body();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    return {Percentile(us, 0.5), Percentile(us, 0.9)};
}

long Calls(const sim::CallTable& table, const char* facet, const char* function = nullptr) {
    long n = 0;
    for (const auto& [key, count] : table)
        if (key.first == facet && (!function || key.second == function)) n += count;
    return n;
}

void Print(const char* what, const Timing& t) {
    std::printf("  %-34s median %9.1f us   p90 %9.1f us\n", what, t.median, t.p90);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int samples = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--samples") == 0 && i + 1 < argc) {
            samples = std::max(1, static_cast<int>(std::wcstol(argv[++i], nullptr, 10)));
        } else {
            std::fprintf(stderr, "usage: hid_apply_bench [--samples N]\n");
            return 2;
        }
    }
    win32::InstallPlatform();
    ResetProcessState();
    CountingSink sink;
    traceTarget = &sink;

    // What the service's start leaves behind: the driver's defaults and the stick's state.
    WorkaroundGetHKRRegistryPath();
    ReadHKRDefaultSettings(DriverKeyPath());
    ReadPSTStatusFromDM.store(GetPSTDeivce() ? 1 : 0);
    // A choice of the console user that every item acts on; UI mode puts it in force.
    PalmSettings palm{2, 10, 20, 30, 40};
    ForcepadSettings forcepad{4, 1, 75, 2, 2, 1, 0, 1, 0};
    SyncTouchpadSettings(SYNC_WRITE, palm);
    SyncForcepadSettings(SYNC_WRITE, forcepad);
    auto apply = [] {
        PalmControl(livePalmSettings, 0, 0);
        ForcePadControl(liveForcepadSettings, 0, 0);
    };
    // Until every later apply is like the one before (a first non-UI run stores the defaults),
    // and past the first scans after the laptop was made, which Wine answers several times
    // slower while it settles.
    apply();
    apply();
    for (int i = 0; i < 10; ++i) {
        TavoTouchpad warm;
        ScanTavoHidDevice(&warm);
    }

    const long uiBefore = sink.uiMode.load();
    const long messagesBefore = sink.messages.load();
    sim::CallTable table;
    long total = 0;
    {
        sim::CountingPlatform counting;
        counting.Install();
        apply();
        table = counting.Counts().Table();
        total = counting.Counts().Total();
    }
    const bool ui = sink.uiMode.load() > uiBefore;
    TavoTouchpad pad;
    if (!ScanTavoHidDevice(&pad)) {
        std::printf("no touchpad found: is the virtual laptop installed?\n");
        return 1;
    }
    pad = TavoTouchpad();
    wchar_t paths[kHidMaxDevices][kHidIdChars];
    wchar_t ids[kHidMaxDevices][kHidIdChars];
    int interfaces = 0;
    HID_GetDevice(paths, ids, &interfaces);

    std::printf("%s, Windows %s, %d HID interfaces present (Wine's own two included)\n",
                ui ? "UI mode (the settings application installed)" : "non-UI mode, the driver without the dynamic mode",
                isWin11OSVersion.load() ? "11" : "10", interfaces);
    std::printf("  one apply: %ld seam calls, %ld touchpad scans, %ld HID opens, %ld feature reports, %ld registry "
                "calls, %ld trace messages\n",
                total,
                Calls(table, "HidDevices", "HidD_GetHidGuid"), Calls(table, "HidDevices", "CreateFileW"),
                Calls(table, "HidDevices", "HidD_SetFeature") + Calls(table, "HidDevices", "HidD_GetFeature"),
                Calls(table, "Registry"), sink.messages.load() - messagesBefore);
    Print("apply (PalmControl + ForcePadControl)", Time(samples, apply));
    Print("touchpad scan (and its close)", Time(samples, [] {
              TavoTouchpad found;
              ScanTavoHidDevice(&found);
          }));
    TavoTouchpad open;
    ScanTavoHidDevice(&open);
    Print("feature report written (0x03AB)", Time(samples, [&] { SetFeatureFunction(open.handle.get(), 0x03AB, 0x4040); }));
    Print("feature read (request and fetch)", Time(samples, [&] { GetFeatureFunction(open.handle.get(), 0x03A1); }));
    traceTarget = nullptr;
    return 0;
}
