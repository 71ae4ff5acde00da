// A simulated machine whose trace the test records, and a check after every test that
// nothing it opened was left open.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "laptops/laptops.h"
#include "native/sim_fixture.h"
#include "settings/driver_defaults.h"
#include "settings/palm_control.h"
#include "settings/settings_store.h"

namespace tavo::test {

using namespace tavo::laptops;

inline const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

class CompanionTest : public SimTest {
protected:
    void SetUp() override { RecordTrace(); }
    void TearDown() override {
        EXPECT_EQ(machine.handles.OpenCount("HKEY"), 0) << "a registry key was left open";
        EXPECT_EQ(machine.handles.OpenCount("TOKEN"), 0) << "a user token was left open";
        EXPECT_EQ(machine.handles.OpenCount(), 0) << "a handle was left open";
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
};

}  // namespace tavo::test
