// Setting up the RPC server on the simulated machine: each step's failure ends the start
// with its status and releases everything; the endpoint retries; what the run time is given.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "native/sim_fixture.h"
#include "rpc/rpc_server.h"

namespace tavo::test {
namespace {

class RpcServerTest : public SimTest {
protected:
    RpcServerTest() { RecordTrace(); }
    ~RpcServerTest() override {
        WithdrawRpcInterface();
        EXPECT_EQ(Acquired(), 0) << "SIDs, ACLs and binding vectors are all released";
        EXPECT_EQ(machine.rpc.BadVectorUses(), 0) << "no call was handed a vector the run time did not give";
    }
    int Acquired() const {
        return machine.handles.OpenCount("SID") + machine.handles.OpenCount("CapabilitySID") +
               machine.handles.OpenCount("ACL") + machine.handles.OpenCount("BindingVector");
    }
    std::wstring FinalLine(win::DWORD status) const {
        return L"RpcServerStart::hResult=" + std::to_wstring(static_cast<int>(status)) + L" (=0)\r\n";
    }
};

// The first failing step ends the start with its status.
struct StepFault {
    const char* call;
    win::DWORD error;
    win::DWORD status;
    bool registered;  // the interface was registered before the failure
};

class RpcServerStepTest : public RpcServerTest, public testing::WithParamInterface<StepFault> {};

TEST_P(RpcServerStepTest, EndsWithTheStatusAndReleasesEverything) {
    const StepFault& c = GetParam();
    if (std::string(c.call) == "TwoCapabilitySids")
        machine.security.SetCapabilitySidCount(2);
    else if (std::string(c.call) == "AlreadyListening")
        machine.rpc.SetListenResult(win::RPC_S_ALREADY_LISTENING);
    else if (c.error != 0)
        machine.faults.Fail(c.call, c.error);

    EXPECT_EQ(RpcServerStart(), c.status);
    EXPECT_EQ(Count(FinalLine(c.status)), 1);
    EXPECT_EQ(Acquired(), c.status == 0 || std::string(c.call) == "RpcServerListen" ||
                                  std::string(c.call) == "RpcEpRegisterW"
                              ? 1
                              : 0)
        << "only the kept binding vector outlives the start";
    EXPECT_EQ(machine.rpc.Registered().has_value(), c.registered);
}

INSTANTIATE_TEST_SUITE_P(
    Rpc, RpcServerStepTest,
    testing::Values(StepFault{"Success", 0, 0, true},
                    StepFault{"DeriveCapabilitySidsFromName", win::ERROR_NOT_ENOUGH_MEMORY, 8, false},
                    StepFault{"TwoCapabilitySids", 0, win::ERROR_INVALID_PARAMETER, false},
                    StepFault{"AllocateAndInitializeSid", win::ERROR_NOT_ENOUGH_MEMORY, 8, false},
                    StepFault{"SetEntriesInAclW", win::ERROR_INVALID_PARAMETER, 87, false},
                    StepFault{"InitializeSecurityDescriptor", 1338, 1338, false},
                    StepFault{"SetSecurityDescriptorDacl", 1338, 1338, false},
                    StepFault{"RpcServerRegisterIf3", 1711, 1711, false},
                    StepFault{"RpcServerInqBindings", 1718, 1718, true},
                    StepFault{"RpcEpRegisterW", 1708, 1708, true},
                    StepFault{"RpcServerListen", 1714, 1714, true},
                    StepFault{"AlreadyListening", 0, 0, true}),
    [](const testing::TestParamInfo<StepFault>& info) { return std::string(info.param.call); });

TEST_F(RpcServerTest, EndpointAttemptsRetryCleanUpAStaleRegistrationAndNeverStopTheStart) {
    struct Case {
        const char* name;
        win::DWORD fault;  // every UseProtseqEp attempt fails with this; 0: none
        bool stale;        // an earlier server's endpoint-map entry is there
        int attempts;
        bool nullVectorLine;
    } cases[] = {
        {"open at once", 0, false, 1, false},
        {"duplicate endpoint, stale entry cleaned up", 0, true, 1, false},
        {"duplicate endpoint, no bindings to clean", 1740, false, 10, true},
        {"endpoint refused", 1722, false, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine fresh;
        fresh.Install();
        ResetProcessState();
        RecordTrace();
        Mark();
        if (c.fault) fresh.faults.Fail("RpcServerUseProtseqEpW", c.fault);
        if (c.stale) fresh.rpc.AddStaleRegistration();

        const win::DWORD status = RpcServerStart();
        const auto uses = fresh.rpc.EndpointUses();
        EXPECT_EQ(static_cast<int>(uses.size()), c.attempts);
        EXPECT_EQ(fresh.system.Sleeps(), std::vector<win::DWORD>(static_cast<std::size_t>(c.attempts), 1000));
        for (const auto& u : uses) {
            EXPECT_EQ(u.protseq, L"ncalrpc");
            EXPECT_EQ(u.endpoint, L"HsaSampleRpcEndpoint2");
            EXPECT_EQ(u.maxCalls, 10u);
        }
        EXPECT_EQ(Count(L"BindingVector is nullptr\r\n"), c.nullVectorLine ? c.attempts : 0);
        EXPECT_TRUE(fresh.rpc.Registered().has_value()) << "registration follows whatever the endpoint did";
        // With no endpoint of its own, the server has no bindings to register or listen on.
        EXPECT_EQ(status, c.fault && !c.stale ? static_cast<win::DWORD>(win::RPC_S_NO_BINDINGS) : 0u);
        WithdrawRpcInterface();
        EXPECT_EQ(fresh.handles.OpenCount("BindingVector"), 0);
        EXPECT_EQ(fresh.rpc.BadVectorUses(), 0);
    }
    machine.Install();
}

// While the server listens: what the run time was given.
TEST_F(RpcServerTest, TheInterfaceIsLocalAutoListeningAndSecuredForEveryoneAndTheCapability) {
    machine.rpc.SetListenBlocks(true);
    win::DWORD status = 0xFFFF;
    std::thread serve([&] { status = RpcServerStart(); });
    while (machine.rpc.ListenCalls() == 0) std::this_thread::yield();

    const auto reg = machine.rpc.Registered();
    ASSERT_TRUE(reg.has_value());
    EXPECT_EQ(reg->ifHandle, TouchpadInterfaceHandle());
    EXPECT_EQ(reg->flags, 0x21u);
    EXPECT_EQ(reg->maxCalls, 1234u);
    EXPECT_EQ(reg->maxRpcSize, 0u);
    EXPECT_EQ(machine.rpc.EndpointMapEntries(), 1);
    const auto state = sim::SimSecurity::ReadDescriptor(reg->descriptor);
    EXPECT_EQ(state.revision, 1);
    EXPECT_TRUE(state.daclPresent);
    EXPECT_FALSE(state.daclDefaulted);
    const auto entries = machine.security.DaclEntries(reg->descriptor);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].sid, L"S-1-1-0");
    EXPECT_EQ((*entries)[1].sid.rfind(L"S-1-15-3-1024-", 0), 0u) << "the capability SID";
    for (const auto& e : *entries) EXPECT_EQ(e.accessMask, 0x10000000u);
    // The endpoint was opened with the same descriptor.
    const auto uses = machine.rpc.EndpointUses();
    ASSERT_EQ(uses.size(), 1u);
    EXPECT_EQ(std::vector<win::BYTE>(std::begin(uses[0].descriptor.opaque), std::end(uses[0].descriptor.opaque)),
              std::vector<win::BYTE>(std::begin(reg->descriptor.opaque), std::end(reg->descriptor.opaque)));

    machine.rpc.EndListening();
    serve.join();
    EXPECT_EQ(status, 0u);
    WithdrawRpcInterface();
    EXPECT_FALSE(machine.rpc.Registered().has_value());
    EXPECT_EQ(machine.rpc.EndpointMapEntries(), 0);
}

}  // namespace
}  // namespace tavo::test
