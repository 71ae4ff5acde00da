// tavoctl's sequence of procedure calls against a service that answers, drops sets or fails.
#include <gtest/gtest.h>

#include <map>

#include "run_command.h"

namespace tavoctl {
namespace {

constexpr PalmValues kDefaultPalm{2, 0, 0, 0, 0};
constexpr ForcepadValues kDefaultForcepad{7, 1, 2, 3, 4, 5, 6, 7, 8};

// Holds one palm and one forcepad record; a set is kept only while storesSets is true, as the
// service does with the settings application and its component installed.
class FakeService final : public TouchpadService {
public:
    std::vector<std::string> calls;
    std::map<std::string, RpcStatus> failing;
    bool storesSets = true;
    std::int32_t component = 0;
    PalmValues palm = kDefaultPalm;
    ForcepadValues forcepad = kDefaultForcepad;
    MeterValues meterSeen{-9, -9, -9};

    RpcStatus Open() override { return Call("Open"); }
    RpcStatus GetStatus(std::uint8_t& s) override { return Answer("GetStatus", s, std::uint8_t{0x07}); }
    RpcStatus GetPalm(PalmValues& v) override { return Answer("GetPalm", v, palm); }
    RpcStatus SetPalm(const PalmValues& v) override {
        const RpcStatus rc = Call("SetPalm");
        if (rc == 0 && storesSets) palm = v;
        return rc;
    }
    RpcStatus GetForcepad(ForcepadValues& v) override { return Answer("GetForcepad", v, forcepad); }
    RpcStatus SetForcepad(const ForcepadValues& v) override {
        const RpcStatus rc = Call("SetForcepad");
        if (rc == 0 && storesSets) forcepad = v;
        return rc;
    }
    RpcStatus GetData(std::int32_t f, std::int32_t& v) override {
        return Answer("GetData " + std::to_string(f), v, f == 1 ? component : f == 99 ? kCheckConstant : 0);
    }
    RpcStatus GetSupport(std::int32_t& v) override { return Answer("GetSupport", v, 1); }
    RpcStatus StartMetering(std::int64_t a, std::int64_t b) override {
        meterSeen.first = a;
        meterSeen.second = b;
        return Call("StartMetering");
    }
    RpcStatus SetSamplePeriod(std::int64_t p) override {
        meterSeen.period = p;
        return Call("SetSamplePeriod");
    }
    RpcStatus StopMetering() override { return Call("StopMetering"); }
    void Close() override { Call("Close"); }

private:
    RpcStatus Call(const std::string& name) {
        calls.push_back(name);
        const auto it = failing.find(name);
        return it == failing.end() ? 0 : it->second;
    }
    // A failed call leaves its output alone, as the client stub does.
    template <typename T>
    RpcStatus Answer(const std::string& name, T& out, T value) {
        const RpcStatus rc = Call(name);
        if (rc == 0) out = value;
        return rc;
    }
};

Command Cmd(Verb verb) {
    Command c;
    c.verb = verb;
    return c;
}

struct RunCase {
    const char* name;
    Command cmd;
    std::map<std::string, RpcStatus> failing;
    bool storesSets;
    std::int32_t component;
    std::vector<std::string> calls;
    std::optional<CallFailure> failure;
    bool stored;
    std::optional<std::int32_t> componentPresent;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RunCommandTest : public testing::TestWithParam<RunCase> {};

TEST_P(RunCommandTest, CallsInOrderAndReports) {
    const RunCase& c = GetParam();
    FakeService service;
    service.failing = c.failing;
    service.storesSets = c.storesSets;
    service.component = c.component;

    const Outcome out = RunCommand(c.cmd, service);

    EXPECT_EQ(service.calls, c.calls);
    EXPECT_EQ(out.failure, c.failure);
    EXPECT_EQ(out.stored, c.stored);
    EXPECT_EQ(out.componentPresent, c.componentPresent);
}

Command PalmSet() {
    Command c = Cmd(Verb::PalmSet);
    c.palm = {4, 1, 2, 3, 4};
    return c;
}
Command ForcepadSet() {
    Command c = Cmd(Verb::ForcepadSet);
    c.forcepadChanges = {{1, 0}, {4, 9}};
    return c;
}

const std::vector<std::string> kPalmSetCalls{"Open", "SetPalm", "GetPalm", "Close"};
const std::vector<std::string> kForcepadSetCalls{"Open", "GetForcepad", "SetForcepad", "GetForcepad", "Close"};
const std::vector<std::string> kMeterCalls{"Open", "StartMetering", "SetSamplePeriod", "StopMetering", "Close"};

// A set that was not stored: the component test is made afresh, then data 1 read.
auto WithWhy(std::vector<std::string> calls) {
    calls.insert(calls.end() - 1, {"GetSupport", "GetData 1"});
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, RunCommandTest,
    testing::Values(
        RunCase{"Unreachable", Cmd(Verb::Status), {{"Open", 1722}}, true, 0, {"Open"},
                CallFailure{"OpenRpcEndpoint", 1722, true}, true, std::nullopt},
        RunCase{"StatusFails", Cmd(Verb::Status), {{"GetStatus", 1726}}, true, 0, {"Open", "GetStatus", "Close"},
                CallFailure{"ProcessGetTouchpadStatus", 1726, false}, true, std::nullopt},
        RunCase{"PalmStored", PalmSet(), {}, true, 0, kPalmSetCalls, std::nullopt, true, std::nullopt},
        RunCase{"PalmDroppedNoComponent", PalmSet(), {}, false, 0, WithWhy(kPalmSetCalls), std::nullopt,
                false, 0},
        RunCase{"PalmDroppedWithComponent", PalmSet(), {}, false, 1, WithWhy(kPalmSetCalls),
                std::nullopt, false, 1},
        RunCase{"PalmSetRefused", PalmSet(), {{"SetPalm", 1783}}, true, 0, {"Open", "SetPalm", "Close"},
                CallFailure{"ProcessSetTouchpadSettings", 1783, false}, true, std::nullopt},
        RunCase{"PalmReadBackFails", PalmSet(), {{"GetPalm", 1727}}, true, 0, kPalmSetCalls,
                CallFailure{"ProcessGetTouchpadSettings", 1727, false}, true, std::nullopt},
        RunCase{"PalmWhyFails", PalmSet(), {{"GetData 1", 1727}}, false, 0, WithWhy(kPalmSetCalls),
                CallFailure{"ProcessGetTouchpadData", 1727, false}, false, std::nullopt},
        RunCase{"ForcepadStored", ForcepadSet(), {}, true, 0, kForcepadSetCalls, std::nullopt, true, std::nullopt},
        RunCase{"ForcepadDropped", ForcepadSet(), {}, false, 0, WithWhy(kForcepadSetCalls), std::nullopt,
                false, 0},
        // Without the first read there is nothing to keep the unnamed fields from: no set.
        RunCase{"ForcepadFirstReadFails", ForcepadSet(), {{"GetForcepad", 1722}}, true, 0,
                {"Open", "GetForcepad", "Close"}, CallFailure{"ProcessGetForcepadSettings", 1722, false}, true,
                std::nullopt},
        RunCase{"Meter", Cmd(Verb::Meter), {}, true, 0, kMeterCalls, std::nullopt, true, std::nullopt},
        RunCase{"MeterPeriodRefusedStillStops", Cmd(Verb::Meter), {{"SetSamplePeriod", 87}}, true, 0, kMeterCalls,
                CallFailure{"SetSamplePeriod", 87, false}, true, std::nullopt},
        RunCase{"MeterStopFails", Cmd(Verb::Meter), {{"StopMetering", 1726}}, true, 0, kMeterCalls,
                CallFailure{"StopMetering", 1726, false}, true, std::nullopt},
        RunCase{"MeterStartFailsNoStop", Cmd(Verb::Meter), {{"StartMetering", 1726}}, true, 0,
                {"Open", "StartMetering", "Close"}, CallFailure{"StartMetering", 1726, false}, true, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunCommandValues, ForcepadSetKeepsTheFieldsNotNamed) {
    FakeService service;
    const Outcome out = RunCommand(ForcepadSet(), service);
    EXPECT_EQ(out.forcepadSent, (ForcepadValues{7, 0, 2, 3, 9, 5, 6, 7, 8}));
    EXPECT_EQ(service.forcepad, out.forcepadSent);
    EXPECT_EQ(out.forcepad, out.forcepadSent);
}

TEST(RunCommandValues, MeterAndDataSendWhatTheCommandSays) {
    FakeService service;
    Command meter = Cmd(Verb::Meter);
    meter.meter = {5, -6, 70};
    EXPECT_EQ(RunCommand(meter, service).meter, meter.meter);
    EXPECT_EQ(service.meterSeen, meter.meter);

    Command data = Cmd(Verb::Data);
    data.dataFunction = 99;
    const Outcome out = RunCommand(data, service);
    EXPECT_EQ(out.dataFunction, 99);
    EXPECT_EQ(out.dataValue, kCheckConstant);
}

}  // namespace
}  // namespace tavoctl
