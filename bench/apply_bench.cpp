// Settings applies on a simulated laptop: every round trip to Windows one apply makes (each
// seam call, by facet and function) beside the number the design calls for, and the time
// one apply takes, on a laptop with 1 and with 32 HID interfaces.
//
// An apply is the decision pair every occasion ends in (logon, device arrival, the toggle
// flag, the companion folder): PalmControl, then ForcePadControl, on the live records, with
// sessionEnding 0 and fromInForce 0. Three situations:
//   UI mode       the companion is installed for the console user: the user's choices go in
//                 force and the forcepad gets items 1 to 6, one touchpad scan each;
//   non-UI, dyn   no companion, the driver supports the dynamic mode, nothing new to push
//                 (every run after the first);
//   non-UI, fixed no companion, the driver without the dynamic mode: the defaults are stored
//                 and the default set (item 7) is pushed on every run.
//
// Times are those of the core on the simulated machine (the simulator's own bookkeeping
// included), not of Windows; they compare situations and machine sizes with each other.
// Trace messages go to a sink that counts and drops them.
//
//   build/native/bench/apply_bench [--samples N] [--sample-ms MS] [--windows 10|11]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "counting_sink.h"
#include "device/system_probes.h"
#include "laptops/laptops.h"
#include "log/trace_log.h"
#include "platform/sim/counting_platform.h"
#include "platform/sim/machine.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace {

using namespace tavo;
using sim::CallTable;

// ---- what the design calls for ------------------------------------------------------------
//
// Each table below is one operation of the service, one row per Windows call it makes,
// in the order it makes them; an apply's expected count is the sum of the operations it
// runs. Rows never come from running the code: they are read off each operation's steps.

struct Row {
    const char* facet;
    const char* function;
    long count;
};

CallTable Calls(std::initializer_list<Row> rows) {
    CallTable t;
    for (const Row& r : rows)
        if (r.count != 0) t[{r.facet, r.function}] += r.count;
    return t;
}
CallTable& operator+=(CallTable& a, const CallTable& b) {
    for (const auto& [key, n] : b) a[key] += n;
    return a;
}
CallTable operator+(CallTable a, const CallTable& b) { return a += b; }
CallTable operator*(long times, const CallTable& t) {
    CallTable out;
    for (const auto& [key, n] : t) out[key] = n * times;
    return out;
}

// GetCurrectUserName: the console session, then its user's name (the backend frees the
// session query's buffer itself, so WTSFreeMemory is not a seam call).
CallTable UserName() {
    return Calls({{"Sessions", "WTSGetActiveConsoleSessionId", 1}, {"Sessions", "WTSQueryUserName", 1}});
}

// SyncTouchpadSettings / SyncForcepadSettings and the in-force writes made with the same
// steps: the user's name for the user modes, one create-if-missing open, every value of the
// record read or written in layout order (5 palm values, 9 forcepad values), one close.
enum class Place { kUser, kInForce };
enum class Direction { kRead, kWrite };
CallTable Sync(Place place, Direction direction, long values) {
    CallTable t = place == Place::kUser ? UserName() : CallTable{};
    return t + Calls({{"Registry", "RegCreateKeyExW", 1},
                      {"Registry", direction == Direction::kRead ? "RegQueryValueExW" : "RegSetValueExW", values},
                      {"Registry", "RegCloseKey", 1}});
}
constexpr long kPalmValues = 5;
constexpr long kForcepadValues = 9;

// DetectUWPInstall: the console session, its user's token, that user's local application
// data folder asked with the token, the token closed, then one existence test of the
// companion's package folder.
CallTable DetectUwp() {
    return Calls({{"Sessions", "WTSGetActiveConsoleSessionId", 1},
                  {"Sessions", "WTSQueryUserToken", 1},
                  {"Files", "SHGetFolderPathW", 1},
                  {"Sessions", "CloseHandle", 1},
                  {"Files", "PathFileExistsW", 1}});
}

// DetectSoftwareComponentInstall: the present devices of the software-component class,
// walked until the first that carries the companion's hardware id, whose node status and
// maker then decide; the list destroyed. The bench's laptops have either the companion's
// component as the only device of the class, or no device of it.
CallTable DetectSwc(bool componentPresent) {
    if (!componentPresent)
        return Calls({{"DeviceManager", "SetupDiGetClassDevsW", 1},
                      {"DeviceManager", "SetupDiEnumDeviceInfo", 1},  // no more devices
                      {"DeviceManager", "SetupDiDestroyDeviceInfoList", 1}});
    return Calls({{"DeviceManager", "SetupDiGetClassDevsW", 1},
                  {"DeviceManager", "SetupDiEnumDeviceInfo", 1},              // the first device decides
                  {"DeviceManager", "SetupDiGetDeviceRegistryPropertyW", 2},  // hardware id, maker
                  {"DeviceManager", "CM_Get_DevNode_Status", 1},
                  {"DeviceManager", "SetupDiDestroyDeviceInfoList", 1}});
}

// ReadCustomPalmRejection: the settings key opened for reading, its custom-level switch
// read, the key closed; then the software-component test.
CallTable CustomPalmRejection(bool componentPresent) {
    return Calls({{"Registry", "RegOpenKeyExW", 1}, {"Registry", "RegQueryValueExW", 1}, {"Registry", "RegCloseKey", 1}}) +
           DetectSwc(componentPresent);
}

// GetPSTDeivce with the pointing stick at position stickAt (1-based) of the mouse class:
// every device up to the stick enumerated and its description read; each one before it
// writes BIOSEnablePSTStatus = 0 and the stick writes 1 after its node status (each write
// a create-if-missing open, one value, a close); the list destroyed.
CallTable PointingStickProbe(long stickAt) {
    return Calls({{"DeviceManager", "SetupDiGetClassDevsW", 1},
                  {"DeviceManager", "SetupDiEnumDeviceInfo", stickAt},
                  {"DeviceManager", "SetupDiGetDeviceRegistryPropertyW", stickAt},
                  {"DeviceManager", "CM_Get_DevNode_Status", 1},
                  {"Registry", "RegCreateKeyExW", stickAt},
                  {"Registry", "RegSetValueExW", stickAt},
                  {"Registry", "RegCloseKey", stickAt},
                  {"DeviceManager", "SetupDiDestroyDeviceInfoList", 1}});
}

// ReadWinOSInfo: the version key opened; major, minor, UBR, CurrentBuild, ProductName and
// ReleaseId read; the key closed.
CallTable WindowsVersionRead() {
    return Calls({{"Registry", "RegOpenKeyExW", 1}, {"Registry", "RegQueryValueExW", 6}, {"Registry", "RegCloseKey", 1}});
}

// The kinds of HID collection the bench's laptops carry.
enum class Collection {
    kTouchpadConfig,   // the touchpad's collection with the vendor feature report: selected
    kTouchpadPointer,  // the touchpad's pointer collection: right ids, no feature values, system-owned
    kSystemOwned,      // a keyboard or mouse of another maker, opened by the system exclusively
    kOtherVendor,      // another maker's vendor-defined collection, open to read and write
};

// HID_GetDevice, per interface: the interface, its detail (the path), its device element
// and the element's hardware ids.
CallTable Enumerated() {
    return Calls({{"HidDevices", "SetupDiEnumDeviceInterfaces", 1},
                  {"HidDevices", "SetupDiGetDeviceInterfaceDetailW", 1},
                  {"DeviceManager", "SetupDiEnumDeviceInfo", 1},
                  {"DeviceManager", "SetupDiGetDeviceRegistryPropertyW", 1}});
}

// The selection loop, per interface: OpenHidDevice tries read+write, read, write, then no
// data access, and stops at the first that opens (a system-owned collection takes all four);
// the attributes; for the touchpad's ids its preparsed data and capabilities, and the value
// capabilities when there are feature values; the preparsed data freed; the handle closed.
CallTable Examined(Collection c) {
    switch (c) {
        case Collection::kTouchpadConfig:
            return Calls({{"HidDevices", "CreateFileW", 1},
                          {"HidDevices", "HidD_GetAttributes", 1},
                          {"HidDevices", "HidD_GetPreparsedData", 1},
                          {"HidDevices", "HidP_GetCaps", 1},
                          {"HidDevices", "HidP_GetValueCaps", 1},
                          {"HidDevices", "HidD_FreePreparsedData", 1},
                          {"HidDevices", "CloseHandle", 1}});
        case Collection::kTouchpadPointer:
            return Calls({{"HidDevices", "CreateFileW", 4},
                          {"HidDevices", "HidD_GetAttributes", 1},
                          {"HidDevices", "HidD_GetPreparsedData", 1},
                          {"HidDevices", "HidP_GetCaps", 1},
                          {"HidDevices", "HidD_FreePreparsedData", 1},
                          {"HidDevices", "CloseHandle", 1}});
        case Collection::kSystemOwned:
            return Calls({{"HidDevices", "CreateFileW", 4},
                          {"HidDevices", "HidD_GetAttributes", 1},
                          {"HidDevices", "CloseHandle", 1}});
        case Collection::kOtherVendor:
            return Calls({{"HidDevices", "CreateFileW", 1},
                          {"HidDevices", "HidD_GetAttributes", 1},
                          {"HidDevices", "CloseHandle", 1}});
    }
    return {};
}

struct Shape {
    std::vector<Collection> hid;  // in enumeration order
    long stickAt;                 // the pointing stick's place in the mouse class
    bool windows11;
};

// ScanTavoHidDevice: the pointing-stick probe and the Windows version first; the HID
// interface class and its present interfaces (one more enumeration call past the last),
// each interface listed and then examined; the list destroyed; the selected collection
// opened again (read and write at the first try); the caller closes that handle.
CallTable Scan(const Shape& shape) {
    CallTable t = PointingStickProbe(shape.stickAt) + WindowsVersionRead();
    t += Calls({{"HidDevices", "HidD_GetHidGuid", 1},
                {"DeviceManager", "SetupDiGetClassDevsW", 1},
                {"HidDevices", "SetupDiEnumDeviceInterfaces", 1},
                {"DeviceManager", "SetupDiDestroyDeviceInfoList", 1}});
    for (Collection c : shape.hid) t += Enumerated() + Examined(c);
    return t + Calls({{"HidDevices", "CreateFileW", 1}, {"HidDevices", "CloseHandle", 1}});
}

// A read of a feature function is a request sent and an answer fetched; a write is one
// report sent.
CallTable FeatureReads(long n) {
    return Calls({{"HidDevices", "HidD_SetFeature", n}, {"HidDevices", "HidD_GetFeature", n}});
}
CallTable FeatureWrites(long n) { return Calls({{"HidDevices", "HidD_SetFeature", n}}); }

// SetForcePadFunction for one item: a scan, the option word read, then the item's writes
// for the record the bench stores (every option at a position the device knows):
//   1 haptic switch   Windows 10: the composed word; Windows 11: nothing
//   2 haptic strength Windows 10: 0x03AB; Windows 11: nothing
//   3 finger force    nothing
//   4 click force     0x03A2, 0x03A3, 0x03A4
//   5 top zone        Windows 10: the composed word; Windows 11: the word written, read back
//   6 button force    0x03A9, 0x03AA
//   7 default set     the word, 0x03AB (Windows 10 only), click force triple, button pair
CallTable Push(const Shape& shape, int item) {
    CallTable t = Scan(shape) + FeatureReads(1);
    const bool w11 = shape.windows11;
    switch (item) {
        case 1: return t + FeatureWrites(w11 ? 0 : 1);
        case 2: return t + FeatureWrites(w11 ? 0 : 1);
        case 3: return t;
        case 4: return t + FeatureWrites(3);
        case 5: return w11 ? t + FeatureWrites(1) + FeatureReads(1) : t + FeatureWrites(1);
        case 6: return t + FeatureWrites(2);
        case 7: return t + FeatureWrites(w11 ? 6 : 7);
    }
    return t;
}

// ---- the three situations ---------------------------------------------------------------

enum class Situation { kUiMode, kNonUiDynamic, kNonUiFixed };

const char* Name(Situation s) {
    switch (s) {
        case Situation::kUiMode: return "UI mode";
        case Situation::kNonUiDynamic: return "non-UI, dyn";
        case Situation::kNonUiFixed: return "non-UI, fixed";
    }
    return "?";
}

// PalmControl with both flags 0.
//   UI mode: companion tests (folder, component), the user's values read, the custom-level
//   switch (with its own component test), the user's valid level written in force.
//   Non-UI: companion tests, the user's values read; with the dynamic mode a stored level 5
//   stays as it is, without it the defaults are stored for the user; written in force twice.
CallTable ExpectedPalm(Situation s) {
    switch (s) {
        case Situation::kUiMode:
            return DetectUwp() + DetectSwc(true) + Sync(Place::kUser, Direction::kRead, kPalmValues) +
                   CustomPalmRejection(true) + Sync(Place::kInForce, Direction::kWrite, kPalmValues);
        case Situation::kNonUiDynamic:
            return DetectUwp() + DetectSwc(false) + Sync(Place::kUser, Direction::kRead, kPalmValues) +
                   2 * Sync(Place::kInForce, Direction::kWrite, kPalmValues);
        case Situation::kNonUiFixed:
            return DetectUwp() + DetectSwc(false) + Sync(Place::kUser, Direction::kRead, kPalmValues) +
                   Sync(Place::kUser, Direction::kWrite, kPalmValues) +
                   2 * Sync(Place::kInForce, Direction::kWrite, kPalmValues);
    }
    return {};
}

// ForcePadControl with both flags 0: always the palm values in force read first (only
// their level is used), then the companion tests.
//   UI mode: the user's values read, the custom-level switch, the user's valid values
//   written in force, then items 1 to 6 pushed one by one.
//   Non-UI with the dynamic mode and a stored record, nothing left to send: the user's
//   values read, written in force twice, no push.
//   Non-UI without it: the user's values read, the defaults stored for the user, written in
//   force, the default set pushed, written in force again.
CallTable ExpectedForcepad(Situation s, const Shape& shape) {
    CallTable t = Sync(Place::kInForce, Direction::kRead, kPalmValues) + DetectUwp();
    switch (s) {
        case Situation::kUiMode:
            t += DetectSwc(true) + Sync(Place::kUser, Direction::kRead, kForcepadValues) + CustomPalmRejection(true) +
                 Sync(Place::kInForce, Direction::kWrite, kForcepadValues);
            for (int item = 1; item <= 6; ++item) t += Push(shape, item);
            return t;
        case Situation::kNonUiDynamic:
            return t + DetectSwc(false) + Sync(Place::kUser, Direction::kRead, kForcepadValues) +
                   2 * Sync(Place::kInForce, Direction::kWrite, kForcepadValues);
        case Situation::kNonUiFixed:
            return t + DetectSwc(false) + Sync(Place::kUser, Direction::kRead, kForcepadValues) +
                   Sync(Place::kUser, Direction::kWrite, kForcepadValues) +
                   Sync(Place::kInForce, Direction::kWrite, kForcepadValues) + Push(shape, 7) +
                   Sync(Place::kInForce, Direction::kWrite, kForcepadValues);
    }
    return t;
}

long ExpectedScans(Situation s) {
    switch (s) {
        case Situation::kUiMode: return 6;
        case Situation::kNonUiDynamic: return 0;
        case Situation::kNonUiFixed: return 1;
    }
    return 0;
}

// ---- the simulated laptop ---------------------------------------------------------------

sim::HidInterface MakeCollection(Collection c, int index, const std::shared_ptr<sim::TouchpadFirmware>& firmware) {
    using namespace tavo::laptops;
    wchar_t instance[96];
    switch (c) {
        case Collection::kTouchpadConfig: return ForcepadCollection("vendor", firmware);
        case Collection::kTouchpadPointer: return ForcepadCollection("pointer");
        case Collection::kSystemOwned: {
            sim::HidInterface k = ForcepadCollection("keyboard");
            std::swprintf(instance, 96, L"VEN_SYSX&DEV_%04X&Col01#6&%08x&0&0000", 0x0100 + index, 0x1000 + index);
            k.path = HidPath(instance);
            k.productId = static_cast<win::USHORT>(0x0100 + index);
            return k;
        }
        case Collection::kOtherVendor: {
            sim::HidInterface v;
            std::swprintf(instance, 96, L"VEN_OTHR&DEV_%04X&Col02#7&%08x&0&0001", 0x0200 + index, 0x2000 + index);
            v.path = HidPath(instance);
            v.hardwareIds = {std::wstring(L"HID\\") + instance};
            v.vendorId = 0x8087;
            v.productId = static_cast<win::USHORT>(0x0200 + index);
            v.featureValues = {VendorReport(0x05)};
            return v;
        }
    }
    return {};
}

// The touchpad's two collections and a keyboard, then other makers' collections (a third
// of them system-owned) up to the count; one interface is the touchpad's own alone.
Shape MakeShape(int interfaces, bool windows11) {
    Shape shape{{}, 3, windows11};
    if (interfaces == 1) {
        shape.hid = {Collection::kTouchpadConfig};
        return shape;
    }
    shape.hid = {Collection::kSystemOwned, Collection::kTouchpadPointer, Collection::kTouchpadConfig};
    for (int i = 0; static_cast<int>(shape.hid.size()) < interfaces; ++i)
        shape.hid.push_back(i % 3 == 0 ? Collection::kSystemOwned : Collection::kOtherVendor);
    return shape;
}

const std::wstring kInForceKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;
const std::wstring kAliceKey = kInForceKey + L"\\alice";

// A user's choice that every item acts on.
constexpr PalmSettings kAlicePalm{2, 10, 20, 30, 40};
constexpr ForcepadSettings kAliceForcepad{4, 1, 75, 2, 2, 1, 0, 1, 0};

class Rig {
public:
    Rig(Situation situation, const Shape& shape) : situation_(situation) {
        using namespace tavo::laptops;
        ResetProcessState();
        machine_.Install();
        traceTarget = &sink_;

        laptops::SimLaptop laptop = LoadSimLaptop("forcepad", firmware_);
        laptop.windows = shape.windows11 ? ToSim(WindowsByName(11)) : ToSim(WindowsByName(10));
        laptop.hid.clear();
        for (std::size_t i = 0; i < shape.hid.size(); ++i)
            laptop.hid.push_back(MakeCollection(shape.hid[i], static_cast<int>(i), firmware_));
        Build(machine_, laptop);

        const bool dynamic = situation != Situation::kNonUiFixed;
        machine_.registry.Import(DriverPackageReg(L"0000", 2, 3, dynamic ? 1 : 0));
        machine_.sessions.LogOn(L"alice");
        if (situation == Situation::kUiMode) InstallCompanion(machine_, L"alice");
        for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i)
            machine_.registry.SetDword(kAliceKey, RecordLayout<PalmSettings>::fields[i].valueName,
                                       static_cast<win::DWORD>(Field(kAlicePalm, i)));
        for (std::size_t i = 0; i < kFieldCount<ForcepadSettings>; ++i)
            machine_.registry.SetDword(kAliceKey, RecordLayout<ForcepadSettings>::fields[i].valueName,
                                       static_cast<win::DWORD>(Field(kAliceForcepad, i)));

        // What the service's start leaves behind: the driver's defaults and the stick's state.
        WorkaroundGetHKRRegistryPath();
        ReadHKRDefaultSettings(DriverKeyPath());
        ReadPSTStatusFromDM.store(GetPSTDeivce() ? 1 : 0);
        // Runs until every later apply is like the one before (the first non-UI run stores
        // the dynamic level; a UI run in between would leave one push pending).
        Apply();
        Apply();
    }
    ~Rig() {
        traceTarget = nullptr;
        ResetProcessState();
    }

    void Palm() { PalmControl(livePalmSettings, 0, 0); }
    void Forcepad() { ForcePadControl(liveForcepadSettings, 0, 0); }
    void Apply() {
        Palm();
        Forcepad();
    }
    // The firmware logs every report; kept short between samples.
    void Tidy() { firmware_->ClearReports(); }
    // Whether the last apply ran in the mode its situation is about.
    bool RanAsMeant() {
        const long before = sink_.uiMode.load();
        Apply();
        const bool ui = sink_.uiMode.load() > before;
        return ui == (situation_ == Situation::kUiMode);
    }
    long MessagesPerApply() {
        const long before = sink_.messages.load();
        Apply();
        return sink_.messages.load() - before;
    }

private:
    Situation situation_;
    sim::Machine machine_;
    CountingSink sink_;
    std::shared_ptr<sim::TouchpadFirmware> firmware_ =
        std::make_shared<sim::TouchpadFirmware>(tavo::laptops::ForcepadFunctions());
};

// ---- timing -----------------------------------------------------------------------------

struct Timing {
    double median, p10, p90;  // microseconds of real time per call
    double cpuMedian;         // microseconds of this thread's CPU time per call
    int samples;
    long perSample;
};

// The machine is shared: real time includes the time other people's work takes the core
// away, this thread's CPU time does not.
double ThreadCpuMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(at);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

// Runs body in samples of a fixed number of calls, sized so that a sample lasts about
// sampleMs; reports the median and the 10th and 90th percentiles of the per-call time.
Timing Time(Rig& laptop, const std::function<void()>& body, int samples, double sampleMs) {
    using Clock = std::chrono::steady_clock;
    long perSample = 1;
    for (;;) {
        const auto start = Clock::now();
        for (long i = 0; i < perSample; ++i) body();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        laptop.Tidy();
        constexpr long kMostPerSample = 1L << 20;
        if (ms >= sampleMs || perSample >= kMostPerSample) break;
        const double scaled = static_cast<double>(perSample) * sampleMs / std::max(ms, 1e-3);
        perSample = std::min(kMostPerSample, std::max(perSample * 2, static_cast<long>(scaled)));
    }
    std::vector<double> perCall, cpuPerCall;
    for (int s = 0; s < samples; ++s) {
        const double cpuStart = ThreadCpuMicroseconds();
        const auto start = Clock::now();
        for (long i = 0; i < perSample; ++i) body();
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        const double cpu = ThreadCpuMicroseconds() - cpuStart;
        perCall.push_back(us / static_cast<double>(perSample));
        cpuPerCall.push_back(cpu / static_cast<double>(perSample));
        laptop.Tidy();
    }
    return {Percentile(perCall, 0.5), Percentile(perCall, 0.1), Percentile(perCall, 0.9),
            Percentile(cpuPerCall, 0.5), samples, perSample};
}

// ---- output -----------------------------------------------------------------------------

std::string Ratio(long measured, long expected) {
    char text[32];
    if (expected == 0)
        std::snprintf(text, sizeof text, measured == 0 ? "1.00" : "extra");
    else
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(measured) / static_cast<double>(expected));
    return text;
}

long Sum(const CallTable& t) {
    long n = 0;
    for (const auto& [key, count] : t) n += count;
    return n;
}

// Prints measured against expected, call by call; returns whether every row agrees.
bool PrintCalls(const CallTable& measured, const CallTable& expected) {
    CallTable all = expected;
    for (const auto& [key, n] : measured) all[key] += 0;
    bool agree = true;
    std::printf("    %-16s %-36s %9s %9s  %s\n", "facet", "function", "measured", "design", "ratio");
    for (const auto& [key, ignored] : all) {
        const long m = measured.count(key) ? measured.at(key) : 0;
        const long e = expected.count(key) ? expected.at(key) : 0;
        if (m != e) agree = false;
        std::printf("    %-16s %-36s %9ld %9ld  %s%s\n", key.first.c_str(), key.second.c_str(), m, e,
                    Ratio(m, e).c_str(), m == e ? "" : "   <-- differs");
    }
    std::printf("    %-16s %-36s %9ld %9ld  %s\n", "all", "", Sum(measured), Sum(expected),
                Ratio(Sum(measured), Sum(expected)).c_str());
    return agree;
}

struct Summary {
    Situation situation;
    int interfaces;
    long calls, expected, scans;
    long messages;
    Timing palm, forcepad, apply;
};

struct Options {
    int samples = 31;
    double sampleMs = 20;
    bool windows11 = true;
};

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--samples" && hasValue) {
            o.samples = std::max(3, std::atoi(argv[++i]));
        } else if (a == "--sample-ms" && hasValue) {
            o.sampleMs = std::max(0.1, std::atof(argv[++i]));
        } else if (a == "--windows" && hasValue) {
            o.windows11 = std::string(argv[++i]) != "10";
        } else {
            std::fprintf(stderr, "usage: apply_bench [--samples N] [--sample-ms MS] [--windows 10|11]\n");
            std::exit(2);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    std::printf("Settings applies (PalmControl + ForcePadControl, both flags 0) on the simulated forcepad laptop,\n"
                "Windows %s, pointing stick third of three mice. %d samples per figure, each about %.0f ms.\n\n",
                options.windows11 ? "11" : "10", options.samples, options.sampleMs);

    std::vector<Summary> summary;
    bool allAgree = true;
    for (Situation situation : {Situation::kUiMode, Situation::kNonUiDynamic, Situation::kNonUiFixed}) {
        for (int interfaces : {1, 32}) {
            const Shape shape = MakeShape(interfaces, options.windows11);
            Rig laptop(situation, shape);
            const bool meant = laptop.RanAsMeant();

            CallTable measured;
            {
                sim::CountingPlatform counting;
                counting.Install();
                laptop.Apply();
                measured = counting.Counts().Table();
                counting.Counts().Clear();
                laptop.Apply();
                if (counting.Counts().Table() != measured)
                    std::printf("  note: two applies in a row made different calls; the first is shown\n");
            }
            const CallTable expected = ExpectedPalm(situation) + ExpectedForcepad(situation, shape);

            std::printf("== %s, %d HID interface%s%s\n", Name(situation), interfaces, interfaces == 1 ? "" : "s",
                        meant ? "" : "   (WARNING: the decisions did not run in this mode)");
            allAgree = PrintCalls(measured, expected) && allAgree;

            Summary s{situation, interfaces, Sum(measured), Sum(expected), 0, laptop.MessagesPerApply(), {}, {}, {}};
            auto it = measured.find({"HidDevices", "HidD_GetHidGuid"});
            s.scans = it == measured.end() ? 0 : it->second;
            s.palm = Time(laptop, [&] { laptop.Palm(); }, options.samples, options.sampleMs);
            s.forcepad = Time(laptop, [&] { laptop.Forcepad(); }, options.samples, options.sampleMs);
            s.apply = Time(laptop, [&] { laptop.Apply(); }, options.samples, options.sampleMs);
            std::printf("    touchpad scans %ld (design %ld), trace messages %ld\n", s.scans, ExpectedScans(situation),
                        s.messages);
            std::printf("    time per apply: median %.1f us real (p10 %.1f, p90 %.1f), %.1f us CPU; %d samples of %ld "
                        "applies\n\n",
                        s.apply.median, s.apply.p10, s.apply.p90, s.apply.cpuMedian, s.apply.samples,
                        s.apply.perSample);
            summary.push_back(s);
        }
    }

    std::printf("Summary: microseconds per call, median real time [p10-p90] and median CPU time\n");
    std::printf("%-14s %4s %7s %7s %6s %6s %6s  %-30s %-30s %-30s\n", "apply", "HID", "calls", "design", "ratio",
                "scans", "msgs", "PalmControl", "ForcePadControl", "apply (both)");
    for (const Summary& s : summary) {
        auto cell = [](const Timing& t) {
            char text[80];
            std::snprintf(text, sizeof text, "%7.1f [%.1f-%.1f] %.1f", t.median, t.p10, t.p90, t.cpuMedian);
            return std::string(text);
        };
        std::printf("%-14s %4d %7ld %7ld %6s %6ld %6ld  %-30s %-30s %-30s\n", Name(s.situation), s.interfaces, s.calls,
                    s.expected, Ratio(s.calls, s.expected).c_str(), s.scans, s.messages, cell(s.palm).c_str(),
                    cell(s.forcepad).c_str(), cell(s.apply).c_str());
    }
    std::printf("\n%s\n", allAgree ? "Every seam call agrees with the design's count (ratio 1.00)."
                                   : "Some seam calls differ from the design's count: see the rows marked above.");
    return 0;
}
