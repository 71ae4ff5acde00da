// The simulated security calls: injected faults, releases that Windows would not survive,
// the derivation set-up hook and the descriptor read-back that tests rely on.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/machine.h"

namespace {

using namespace win;

PSID Everyone() {
    PSID sid{};
    EXPECT_EQ(Sec().AllocateAndInitializeSid(SECURITY_WORLD_SID_AUTHORITY, 1, &SECURITY_WORLD_RID, &sid), 0u);
    return sid;
}
// The first capability SID of a name; its group SID is released at once.
PSID Capability(const wchar_t* name = L"registryRead") {
    std::vector<PSID> groups, capabilities;
    EXPECT_EQ(Sec().DeriveCapabilitySidsFromName(name, &groups, &capabilities), 0u);
    for (PSID g : groups) Sec().LocalFreeSid(g);
    return capabilities.at(0);
}
PACL AclOf(PSID sid) {
    const EXPLICIT_ACCESS_W entry{GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_SID, TRUSTEE_IS_UNKNOWN, sid};
    PACL acl{};
    EXPECT_EQ(Sec().SetEntriesInAclW(1, &entry, &acl), 0u);
    return acl;
}

class SimSecurityTest : public ::testing::Test {
protected:
    SimSecurityTest() { m.Install(); }
    sim::Machine m;
};

TEST_F(SimSecurityTest, AnInjectedFaultFailsTheCallAndOpensNothing) {
    struct Case {
        const char* call;
        std::function<DWORD()> run;
    };
    const Case cases[] = {
        {"DeriveCapabilitySidsFromName",
         [] {
             std::vector<PSID> g{PSID{7}}, c{PSID{7}};
             DWORD e = Sec().DeriveCapabilitySidsFromName(L"registryRead", &g, &c);
             EXPECT_EQ(g.size() + c.size(), 2u) << "outputs untouched";
             return e;
         }},
        {"AllocateAndInitializeSid",
         [] {
             PSID sid{7};
             DWORD e = Sec().AllocateAndInitializeSid(SECURITY_WORLD_SID_AUTHORITY, 1, &SECURITY_WORLD_RID, &sid);
             EXPECT_EQ(sid, PSID{7});
             return e;
         }},
        {"SetEntriesInAclW",
         [] {
             UniqueSid sid(Everyone());
             const EXPLICIT_ACCESS_W entry{GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_SID, 0, sid.get()};
             PACL acl{7};
             DWORD e = Sec().SetEntriesInAclW(1, &entry, &acl);
             EXPECT_EQ(acl, PACL{7});
             return e;
         }},
        {"InitializeSecurityDescriptor",
         [] {
             SECURITY_DESCRIPTOR sd{};
             DWORD e = Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
             EXPECT_EQ(sim::SimSecurity::ReadDescriptor(sd).revision, 0);
             return e;
         }},
        {"SetSecurityDescriptorDacl",
         [] {
             SECURITY_DESCRIPTOR sd{};
             Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
             DWORD e = Sec().SetSecurityDescriptorDacl(&sd, true, PACL{}, false);
             EXPECT_FALSE(sim::SimSecurity::ReadDescriptor(sd).daclPresent);
             return e;
         }},
        {"ConvertSidToStringSidW",
         [] {
             UniqueSid sid(Everyone());
             std::wstring text = L"untouched";
             DWORD e = Sec().ConvertSidToStringSidW(sid.get(), &text);
             EXPECT_EQ(text, L"untouched");
             return e;
         }},
        {"GetAclEntries",
         [] {
             UniqueSid sid(Everyone());
             UniqueAcl acl(AclOf(sid.get()));
             std::vector<AceEntry> entries(3);
             DWORD e = Sec().GetAclEntries(acl.get(), &entries);
             EXPECT_EQ(entries.size(), 3u);
             return e;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        m.faults.Clear();
        m.faults.Fail(c.call, ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.run(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(m.handles.OpenCount(), 0);
    }
}

TEST_F(SimSecurityTest, ReleasesAndUsesThatWindowsWouldNotSurviveAreLoud) {
    struct Case {
        const char* what;
        std::function<void()> misuse;
    };
    const Case cases[] = {
        {"FreeSid twice", [] { PSID s = Everyone(); Sec().FreeSid(s); Sec().FreeSid(s); }},
        {"LocalFree of an allocated SID", [] { Sec().LocalFreeSid(Everyone()); }},
        {"FreeSid of a derived SID", [] { Sec().FreeSid(Capability()); }},
        {"LocalFree of an ACL twice",
         [] {
             UniqueSid s(Everyone());
             PACL a = AclOf(s.get());
             Sec().LocalFreeAcl(a);
             Sec().LocalFreeAcl(a);
         }},
        {"an ACL freed as a SID", [] {
             UniqueSid s(Everyone());
             Sec().LocalFreeSid(static_cast<PSID>(AclOf(s.get())));
         }},
        {"a released SID in an entry", [] {
             PSID s = Everyone();
             Sec().FreeSid(s);
             AclOf(s);
         }},
        {"a released SID read back", [] {
             PSID s = Everyone();
             Sec().FreeSid(s);
             std::wstring text;
             Sec().ConvertSidToStringSidW(s, &text);
         }},
        {"a released ACL read back", [] {
             UniqueSid s(Everyone());
             PACL a = AclOf(s.get());
             Sec().LocalFreeAcl(a);
             std::vector<AceEntry> entries;
             Sec().GetAclEntries(a, &entries);
         }},
    };
    for (const Case& c : cases) EXPECT_THROW(c.misuse(), std::logic_error) << c.what;
}

TEST_F(SimSecurityTest, TheSetUpHookChoosesHowManyCapabilitySidsComeBack) {
    for (std::size_t n : {0u, 1u, 2u}) {
        SCOPED_TRACE(n);
        m.security.SetCapabilitySidCount(n);
        std::vector<PSID> groups, capabilities;
        ASSERT_EQ(Sec().DeriveCapabilitySidsFromName(L"registryRead", &groups, &capabilities), 0u);
        std::vector<UniqueCapabilitySid> owned;
        for (PSID s : groups) owned.emplace_back(s);
        for (PSID s : capabilities) owned.emplace_back(s);
        EXPECT_EQ(groups.size(), 1u);
        ASSERT_EQ(capabilities.size(), n);
        EXPECT_EQ(m.handles.OpenCount("CapabilitySID"), static_cast<int>(1 + n));
        for (PSID s : capabilities) {
            EXPECT_TRUE(m.security.IsValidSid(s));
            std::wstring text;
            ASSERT_EQ(Sec().ConvertSidToStringSidW(s, &text), 0u);
            EXPECT_EQ(text.rfind(L"S-1-15-3-1024-1065365936-", 0), 0u);
        }
        owned.clear();
        for (PSID s : capabilities) EXPECT_FALSE(m.security.IsValidSid(s));
        EXPECT_EQ(m.handles.OpenCount(), 0);
    }
}

TEST_F(SimSecurityTest, TheDescriptorsDaclIsReadThroughItsAcl) {
    UniqueSid everyone(Everyone());
    UniqueAcl acl(AclOf(everyone.get()));
    struct Case {
        bool present;
        bool withAcl;
        bool hasEntries;
    };
    for (const Case& c : {Case{true, true, true}, Case{true, false, false}, Case{false, true, false}}) {
        SECURITY_DESCRIPTOR sd;
        ASSERT_EQ(Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), 0u);
        ASSERT_EQ(Sec().SetSecurityDescriptorDacl(&sd, c.present, c.withAcl ? acl.get() : PACL{}, false), 0u);
        auto entries = m.security.DaclEntries(sd);
        ASSERT_EQ(entries.has_value(), c.hasEntries) << "present " << c.present << " with ACL " << c.withAcl;
        if (entries) {
            ASSERT_EQ(entries->size(), 1u);
            EXPECT_EQ((*entries)[0].sid, L"S-1-1-0");
        }
    }

    // A descriptor that outlives its ACL is caught, not read.
    SECURITY_DESCRIPTOR sd;
    ASSERT_EQ(Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), 0u);
    ASSERT_EQ(Sec().SetSecurityDescriptorDacl(&sd, true, acl.get(), false), 0u);
    const PACL dacl = acl.get();
    acl.reset();
    EXPECT_FALSE(m.security.IsValidAcl(dacl));
    EXPECT_THROW(m.security.DaclEntries(sd), std::logic_error);
}

}  // namespace
