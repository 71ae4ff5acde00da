// A simulated machine with the service object in place (so the trace log is recorded), the
// process-wide settings, defaults and palm state as a new process has them, and a check
// after every test that nothing it opened was left open.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "native/laptops.h"
#include "native/sim_fixture.h"
#include "service/sample_service.h"
#include "settings/driver_defaults.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo::test {

inline const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

class CompanionTest : public SimTest {
protected:
    void SetUp() override {
        ResetAll();
        service_ = std::make_unique<CSampleService>();
        mark_ = machine.etw.Written().size();
    }
    void TearDown() override {
        EXPECT_EQ(machine.handles.OpenCount("HKEY"), 0) << "a registry key was left open";
        EXPECT_EQ(machine.handles.OpenCount("TOKEN"), 0) << "a user token was left open";
        service_.reset();
        EXPECT_EQ(machine.handles.OpenCount(), 0) << "a handle was left open";
        ResetAll();
    }
    static void ResetAll() {
        ResetSettingsProcessState();
        ResetDriverDefaultsProcessState();
        ResetPalmControlProcessState();
    }

    // Messages logged since the test began (or since the last Mark()).
    std::vector<std::wstring> Lines() const {
        auto all = Written();
        return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(mark_), all.end());
    }
    void Mark() { mark_ = machine.etw.Written().size(); }
    bool Has(const std::wstring& text) const {
        auto lines = Lines();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    int Count(const std::wstring& text) const {
        auto lines = Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }

    // The five palm values under a key, -2 standing for a value that is not there.
    PalmSettings PalmAt(const std::wstring& key) const {
        PalmSettings r;
        for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i) {
            auto v = machine.registry.Dword(key, RecordLayout<PalmSettings>::fields[i].valueName);
            Field(r, i) = v ? static_cast<std::int32_t>(*v) : -2;
        }
        return r;
    }
    PalmSettings InForce() const { return PalmAt(kSettingsKey); }
    PalmSettings UserStore(const std::wstring& user) const { return PalmAt(kSettingsKey + L"\\" + user); }
    void Store(const std::wstring& key, const PalmSettings& r) {
        for (std::size_t i = 0; i < kFieldCount<PalmSettings>; ++i)
            machine.registry.SetDword(key, RecordLayout<PalmSettings>::fields[i].valueName,
                                      static_cast<win::DWORD>(Field(r, i)));
    }

    // The driver package installed and its defaults read, as the service does at start.
    void StartWithDriverDefaults(std::int32_t palmDefault, std::int32_t dynamic) {
        machine.registry.Import(DriverPackageReg(L"0000", palmDefault, 3, dynamic));
        ASSERT_TRUE(WorkaroundGetHKRRegistryPath());
        ReadHKRDefaultSettings(DriverKeyPath());
        Mark();
    }

    std::unique_ptr<CSampleService> service_;
    std::size_t mark_ = 0;
};

}  // namespace tavo::test
