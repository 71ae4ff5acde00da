// A fresh simulated machine per test, installed as the platform, with the process-wide
// state of the service host reset as if a new process had started.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "service/service_base.h"

namespace tavo::test {

class SimTest : public ::testing::Test {
protected:
    SimTest() {
        ResetServiceBaseProcessState();
        machine.Install();
    }
    ~SimTest() override { ResetServiceBaseProcessState(); }

    // Texts of every event written through the provider, in order.
    std::vector<std::wstring> Written() const {
        std::vector<std::wstring> out;
        for (const auto& r : machine.etw.Written()) out.push_back(r.text);
        return out;
    }
    bool Logged(const std::wstring& text) const {
        for (const auto& r : machine.etw.Written())
            if (r.text == text) return true;
        return false;
    }
    int CountLogged(const std::wstring& text) const {
        int n = 0;
        for (const auto& r : machine.etw.Written()) n += r.text == text;
        return n;
    }

    sim::Machine machine;
};

}  // namespace tavo::test
