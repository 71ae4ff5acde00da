// The descriptor that secures the RPC endpoint and interface, built by the service's own
// code and read back through the ACL calls: the run time under Wine ignores it, so this is
// where its content is proven on the real API.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "contract/contract_platform.h"
#include "rpc/rpc_server.h"

namespace {

class RpcSecurityContract : public ::testing::Test {
protected:
    RpcSecurityContract() { contract::InstallPlatform(); }
    ~RpcSecurityContract() override { contract::UninstallPlatform(); }
};

TEST_F(RpcSecurityContract, AllowsEveryoneAndTheCapabilityAllAccess) {
    tavo::RpcSecurity security;
    ASSERT_EQ(tavo::BuildRpcSecurity(&security), win::ERROR_SUCCESS);
    ASSERT_EQ(security.capabilitySids.size(), 1u);
    std::wstring capability;
    ASSERT_EQ(win::Sec().ConvertSidToStringSidW(security.capabilitySids[0].get(), &capability), win::ERROR_SUCCESS);
    EXPECT_EQ(capability.rfind(L"S-1-15-3-1024-", 0), 0u);

    std::vector<win::AceEntry> entries;
    ASSERT_EQ(win::Sec().GetAclEntries(security.acl.get(), &entries), win::ERROR_SUCCESS);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].sid, L"S-1-1-0");
    EXPECT_EQ(entries[1].sid, capability);
    for (const auto& e : entries) {
        EXPECT_EQ(e.accessMask, win::GENERIC_ALL);
        EXPECT_EQ(e.aceType, 0) << "access allowed";
        EXPECT_EQ(e.aceFlags, 0) << "not inherited";
    }

    // The absolute descriptor as x64 Windows lays it out: revision 1, the DACL present and
    // not defaulted, and that ACL as its DACL.
    const win::BYTE* bytes = security.descriptor.opaque;
    EXPECT_EQ(bytes[0], 1);
    std::uint16_t control = 0;
    std::memcpy(&control, bytes + 2, sizeof control);
    EXPECT_EQ(control & 0x000C, 0x0004);
    std::uint64_t dacl = 0;
    std::memcpy(&dacl, bytes + 32, sizeof dacl);
    EXPECT_EQ(dacl, static_cast<std::uint64_t>(security.acl.get()));
}

}  // namespace
