// SIDs, ACLs and the absolute security descriptor, pinned down once and checked against
// both backends. Under Wine the capability SIDs come from the backend's own derivation
// (Wine exports no DeriveCapabilitySidsFromName), so the published values are what keep
// that derivation honest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/security.h"

namespace {

using namespace win;

constexpr wchar_t kRegistryReadSid[] =
    L"S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-4053264122-3456934681";
constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD TRUSTEE_IS_NAME = 1;
constexpr WORD SE_DACL_PRESENT = 0x0004;
constexpr WORD SE_DACL_DEFAULTED = 0x0008;

class SecurityContract : public ::testing::Test {
protected:
    SecurityContract() { contract::InstallPlatform(); }
    ~SecurityContract() override { contract::UninstallPlatform(); }

    static std::wstring Text(PSID sid) {
        std::wstring text;
        EXPECT_EQ(Sec().ConvertSidToStringSidW(sid, &text), ERROR_SUCCESS);
        return text;
    }
    static UniqueSid Everyone() {
        UniqueSid sid;
        EXPECT_EQ(Sec().AllocateAndInitializeSid(SECURITY_WORLD_SID_AUTHORITY, 1, &SECURITY_WORLD_RID, sid.put()),
                  ERROR_SUCCESS);
        return sid;
    }
    struct Derived {
        std::vector<UniqueCapabilitySid> groups, capabilities;
    };
    static DWORD Derive(const wchar_t* name, Derived* out) {
        std::vector<PSID> groups, capabilities;
        const DWORD e = Sec().DeriveCapabilitySidsFromName(name, &groups, &capabilities);
        for (PSID s : groups) out->groups.emplace_back(s);
        for (PSID s : capabilities) out->capabilities.emplace_back(s);
        return e;
    }
    static EXPLICIT_ACCESS_W Entry(PSID sid, DWORD mask, DWORD trusteeType) {
        return EXPLICIT_ACCESS_W{mask, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_SID, trusteeType, sid};
    }

    // The absolute descriptor of x64 Windows: Revision at 0, Control at 2, Dacl at 32.
    struct Fields {
        BYTE revision;
        WORD control;
        std::uint64_t dacl;
    };
    static Fields Read(const SECURITY_DESCRIPTOR& d) {
        Fields f{d.opaque[0], 0, 0};
        std::memcpy(&f.control, d.opaque + 2, sizeof f.control);
        std::memcpy(&f.dacl, d.opaque + 32, sizeof f.dacl);
        return f;
    }
};

// ---- capability SIDs derived from a name ----------------------------------------------

struct DerivationCase {
    const wchar_t* name;
    const wchar_t* capabilitySid;
};

class CapabilitySids : public SecurityContract, public ::testing::WithParamInterface<DerivationCase> {};

TEST_P(CapabilitySids, OneCapabilityAndOneGroupSidWithThePublishedValue) {
    const DerivationCase& c = GetParam();
    Derived d;
    ASSERT_EQ(Derive(c.name, &d), ERROR_SUCCESS);
    ASSERT_EQ(d.capabilities.size(), 1u);
    ASSERT_EQ(d.groups.size(), 1u);
    EXPECT_EQ(Text(d.capabilities[0].get()), c.capabilitySid);
    // The group SID carries the same eight hash values under S-1-5-32.
    const std::wstring hash = std::wstring(c.capabilitySid).substr(std::wcslen(L"S-1-15-3-1024"));
    EXPECT_EQ(Text(d.groups[0].get()), L"S-1-5-32" + hash);
}

INSTANTIATE_TEST_SUITE_P(
    Published, CapabilitySids,
    ::testing::Values(
        DerivationCase{L"chromeInstallFiles", L"S-1-15-3-1024-3424233489-972189580-2057154623-747635277-"
                                              L"1604371224-316187997-3786583170-1043257646"},
        DerivationCase{L"registryRead", kRegistryReadSid},
        // The name is upper-cased before it is hashed.
        DerivationCase{L"REGISTRYREAD", kRegistryReadSid}, DerivationCase{L"RegistryRead", kRegistryReadSid}));

// ---- SIDs from an authority and sub-authorities ---------------------------------------

struct AllocationCase {
    BYTE authority[6];
    BYTE count;
    DWORD subAuthorities[9];
    DWORD error;
    const wchar_t* text;
};

class AllocatedSids : public SecurityContract, public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(AllocatedSids, ReadBackAsTheirStringFormOrFailUntouched) {
    const AllocationCase& c = GetParam();
    const PSID sentinel = static_cast<PSID>(0x5A5A);
    PSID sid = sentinel;
    ASSERT_EQ(Sec().AllocateAndInitializeSid(c.authority, c.count, c.subAuthorities, &sid), c.error);
    if (c.error != ERROR_SUCCESS) {
        EXPECT_EQ(sid, sentinel) << "a failed call leaves its output alone";
        return;
    }
    UniqueSid owned(sid);
    EXPECT_EQ(Text(owned.get()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AllocatedSids,
    ::testing::Values(AllocationCase{{0, 0, 0, 0, 0, 1}, 1, {0}, ERROR_SUCCESS, L"S-1-1-0"},  // Everyone
                      AllocationCase{{0, 0, 0, 0, 0, 5}, 2, {32, 544}, ERROR_SUCCESS, L"S-1-5-32-544"},
                      AllocationCase{{0, 0, 0, 0, 0, 5}, 0, {}, ERROR_SUCCESS, L"S-1-5"},
                      AllocationCase{{0, 0, 0, 0, 0, 5}, 8, {0xFFFFFFFF, 2, 3, 4, 5, 6, 7, 8}, ERROR_SUCCESS,
                                     L"S-1-5-4294967295-2-3-4-5-6-7-8"},
                      // Measured under Wine: more than eight is ERROR_INVALID_SID.
                      AllocationCase{{0, 0, 0, 0, 0, 5}, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}, ERROR_INVALID_SID, nullptr}));

TEST_F(SecurityContract, ANullSidHasNoStringForm) {
    std::wstring text = L"untouched";
    EXPECT_EQ(Sec().ConvertSidToStringSidW(PSID{}, &text), ERROR_INVALID_SID);
    EXPECT_EQ(text, L"untouched");
}

// ---- ACLs ----------------------------------------------------------------------------

// Windows keeps generic rights in an entry as given rather than mapping them; measured the
// same under Wine for each of these masks.
class AclMasks : public SecurityContract, public ::testing::WithParamInterface<DWORD> {};

TEST_P(AclMasks, TwoSetAccessEntriesReadBackAsTwoAllowedEntriesInOrder) {
    UniqueSid everyone = Everyone();
    Derived d;
    ASSERT_EQ(Derive(L"registryRead", &d), ERROR_SUCCESS);
    ASSERT_EQ(d.capabilities.size(), 1u);
    const EXPLICIT_ACCESS_W entries[] = {Entry(everyone.get(), GetParam(), TRUSTEE_IS_WELL_KNOWN_GROUP),
                                         Entry(d.capabilities[0].get(), GetParam(), TRUSTEE_IS_UNKNOWN)};
    UniqueAcl acl;
    ASSERT_EQ(Sec().SetEntriesInAclW(2, entries, acl.put()), ERROR_SUCCESS);
    ASSERT_TRUE(acl);

    std::vector<AceEntry> read;
    ASSERT_EQ(Sec().GetAclEntries(acl.get(), &read), ERROR_SUCCESS);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].sid, L"S-1-1-0");
    EXPECT_EQ(read[1].sid, kRegistryReadSid);
    for (const AceEntry& e : read) {
        EXPECT_EQ(e.accessMask, GetParam());
        EXPECT_EQ(e.aceType, 0) << "ACCESS_ALLOWED_ACE_TYPE";
        EXPECT_EQ(e.aceFlags, 0) << "NO_INHERITANCE";
    }
}

INSTANTIATE_TEST_SUITE_P(Generic, AclMasks,
                         ::testing::Values(GENERIC_ALL, GENERIC_READ | GENERIC_WRITE, GENERIC_EXECUTE | 0x1,
                                           DWORD{0x001F0003}));

TEST_F(SecurityContract, RefusedEntriesLeaveNoAcl) {
    UniqueSid everyone = Everyone();
    const PACL sentinel = static_cast<PACL>(0x5A5A);
    struct Case {
        const char* what;
        EXPLICIT_ACCESS_W entry;
    };
    const Case cases[] = {
        {"a null SID", Entry(PSID{}, GENERIC_ALL, TRUSTEE_IS_UNKNOWN)},
        {"an unknown access mode", {GENERIC_ALL, 77, NO_INHERITANCE, TRUSTEE_IS_SID, TRUSTEE_IS_UNKNOWN, everyone.get()}},
        {"a trustee that is not a SID", {GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_NAME, TRUSTEE_IS_UNKNOWN,
                                         everyone.get()}},
    };
    for (const Case& c : cases) {
        PACL acl = sentinel;
        EXPECT_EQ(Sec().SetEntriesInAclW(1, &c.entry, &acl), ERROR_INVALID_PARAMETER) << c.what;
        EXPECT_EQ(acl, sentinel) << c.what;
    }
}

TEST_F(SecurityContract, NoEntriesMakeANullAcl) {
    // Measured under Wine: success, and no ACL at all rather than an empty one.
    PACL acl = static_cast<PACL>(0x5A5A);
    ASSERT_EQ(Sec().SetEntriesInAclW(0, nullptr, &acl), ERROR_SUCCESS);
    EXPECT_EQ(acl, PACL{});
}

// ---- the absolute security descriptor -------------------------------------------------

TEST_F(SecurityContract, InitialisationSetsTheRevisionAndClearsTheRestOrFailsUntouched) {
    SECURITY_DESCRIPTOR sd;
    std::memset(sd.opaque, 0xAB, sizeof sd.opaque);
    EXPECT_EQ(Sec().InitializeSecurityDescriptor(&sd, 2), ERROR_UNKNOWN_REVISION);
    EXPECT_EQ(sd.opaque[0], 0xAB);
    ASSERT_EQ(Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), ERROR_SUCCESS);
    EXPECT_EQ(sd.opaque[0], 1);
    for (std::size_t i = 1; i < sizeof sd.opaque; ++i) EXPECT_EQ(sd.opaque[i], 0) << "byte " << i;

    SECURITY_DESCRIPTOR zero{};
    EXPECT_EQ(Sec().SetSecurityDescriptorDacl(&zero, true, PACL{}, false), ERROR_UNKNOWN_REVISION)
        << "a descriptor that was never initialised";
}

TEST_F(SecurityContract, TheDaclReachesTheDescriptorAndReadsBack) {
    UniqueSid everyone = Everyone();
    Derived d;
    ASSERT_EQ(Derive(L"chromeInstallFiles", &d), ERROR_SUCCESS);
    ASSERT_EQ(d.capabilities.size(), 1u);
    const EXPLICIT_ACCESS_W entries[] = {Entry(everyone.get(), GENERIC_ALL, TRUSTEE_IS_WELL_KNOWN_GROUP),
                                         Entry(d.capabilities[0].get(), GENERIC_ALL, TRUSTEE_IS_UNKNOWN)};
    UniqueAcl acl;
    ASSERT_EQ(Sec().SetEntriesInAclW(2, entries, acl.put()), ERROR_SUCCESS);

    SECURITY_DESCRIPTOR sd;
    ASSERT_EQ(Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), ERROR_SUCCESS);
    ASSERT_EQ(Sec().SetSecurityDescriptorDacl(&sd, true, acl.get(), false), ERROR_SUCCESS);
    const Fields f = Read(sd);
    EXPECT_EQ(f.revision, 1);
    EXPECT_EQ(f.control, SE_DACL_PRESENT);
    ASSERT_EQ(f.dacl, static_cast<std::uint64_t>(acl.get()));

    std::vector<AceEntry> read;
    ASSERT_EQ(Sec().GetAclEntries(static_cast<PACL>(f.dacl), &read), ERROR_SUCCESS);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].sid, L"S-1-1-0");
    EXPECT_EQ(read[1].sid, Text(d.capabilities[0].get()));
    EXPECT_EQ(read[0].accessMask, GENERIC_ALL);
    EXPECT_EQ(read[1].accessMask, GENERIC_ALL);
}

TEST_F(SecurityContract, DaclSettingsChangeOnlyWhatTheyName) {
    const PACL first = static_cast<PACL>(0x1122334455667788ull);
    struct Step {
        bool present;
        PACL dacl;
        bool defaulted;
        WORD control;
        PACL stored;
    };
    // Measured under Wine: taking the DACL away clears only its present flag; the ACL and
    // the defaulted flag stay. The ACL is not looked at, only stored.
    const Step steps[] = {
        {true, first, true, SE_DACL_PRESENT | SE_DACL_DEFAULTED, first},
        {false, static_cast<PACL>(0x99), false, SE_DACL_DEFAULTED, first},
        {true, PACL{}, false, SE_DACL_PRESENT, PACL{}},  // a null DACL: present, and grants everyone
    };
    SECURITY_DESCRIPTOR sd;
    ASSERT_EQ(Sec().InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), ERROR_SUCCESS);
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "present " << s.present << " defaulted " << s.defaulted);
        ASSERT_EQ(Sec().SetSecurityDescriptorDacl(&sd, s.present, s.dacl, s.defaulted), ERROR_SUCCESS);
        const Fields f = Read(sd);
        EXPECT_EQ(f.revision, 1);
        EXPECT_EQ(f.control, s.control);
        EXPECT_EQ(f.dacl, static_cast<std::uint64_t>(s.stored));
    }
}

}  // namespace
