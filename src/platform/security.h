// Security facet (advapi32 and kernelbase): SIDs, ACLs and the absolute security
// descriptor that secures the RPC endpoint and interface.
//
// SIDs and ACLs are opaque handles owned by the caller and released with the matching
// call below (own them with UniqueSid / UniqueAcl). Every call leaves its outputs untouched
// when it fails.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace win {

enum class PSID : std::uint64_t {};
enum class PACL : std::uint64_t {};

// SECURITY_DESCRIPTOR in its absolute form: caller-owned storage that the two calls below
// fill in. 40 bytes on x64 Windows.
struct SECURITY_DESCRIPTOR {
    alignas(8) BYTE opaque[40];
};

inline constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
// ACCESS_MODE, inheritance, TRUSTEE_FORM, TRUSTEE_TYPE
inline constexpr DWORD SET_ACCESS = 2;
inline constexpr DWORD NO_INHERITANCE = 0;
inline constexpr DWORD TRUSTEE_IS_SID = 0;
inline constexpr DWORD TRUSTEE_IS_UNKNOWN = 0;
inline constexpr DWORD TRUSTEE_IS_GROUP = 2;
inline constexpr DWORD TRUSTEE_IS_WELL_KNOWN_GROUP = 5;
// SECURITY_WORLD_SID_AUTHORITY {0,0,0,0,0,1} with SECURITY_WORLD_RID 0: Everyone, S-1-1-0.
inline constexpr BYTE SECURITY_WORLD_SID_AUTHORITY[6] = {0, 0, 0, 0, 0, 1};
inline constexpr DWORD SECURITY_WORLD_RID = 0;
// SECURITY_NT_AUTHORITY {0,0,0,0,0,5}; BUILTIN\Users is S-1-5-32-545.
inline constexpr BYTE SECURITY_NT_AUTHORITY[6] = {0, 0, 0, 0, 0, 5};
inline constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
inline constexpr DWORD DOMAIN_ALIAS_RID_USERS = 545;

// EXPLICIT_ACCESS_W with its trustee given by SID.
struct EXPLICIT_ACCESS_W {
    DWORD grfAccessPermissions;
    DWORD grfAccessMode;
    DWORD grfInheritance;
    DWORD TrusteeForm;
    DWORD TrusteeType;
    PSID sid;
};

// One access-allowed entry of an ACL as read back.
struct AceEntry {
    std::wstring sid;  // "S-1-..."
    DWORD accessMask;
    BYTE aceType;      // ACCESS_ALLOWED_ACE_TYPE is 0
    BYTE aceFlags;
    friend bool operator==(const AceEntry&, const AceEntry&) = default;
};

class Security {
public:
    virtual ~Security() = default;

    // DeriveCapabilitySidsFromName(name, ...): the capability's group SIDs and capability
    // SIDs, each to be released with LocalFreeSid. Where the system has no such export, the
    // same SIDs are derived from the name with the system's SHA-256.
    virtual DWORD DeriveCapabilitySidsFromName(const wchar_t* name, std::vector<PSID>* groupSids,
                                               std::vector<PSID>* capabilitySids) = 0;
    virtual void LocalFreeSid(PSID sid) = 0;

    // AllocateAndInitializeSid with up to eight sub-authorities; release with FreeSid.
    virtual DWORD AllocateAndInitializeSid(const BYTE (&authority)[6], BYTE subAuthorityCount,
                                           const DWORD* subAuthorities, PSID* sid) = 0;
    virtual void FreeSid(PSID sid) = 0;

    // SetEntriesInAclW(count, entries, no old ACL, &acl): its result is the status; release
    // the ACL with LocalFreeAcl.
    virtual DWORD SetEntriesInAclW(ULONG count, const EXPLICIT_ACCESS_W* entries, PACL* acl) = 0;
    virtual void LocalFreeAcl(PACL acl) = 0;

    virtual DWORD InitializeSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD revision) = 0;
    // The ACL must outlive the descriptor's use.
    virtual DWORD SetSecurityDescriptorDacl(SECURITY_DESCRIPTOR* descriptor, bool present, PACL dacl,
                                            bool defaulted) = 0;

    // Reading back, for tests and diagnostics.
    virtual DWORD ConvertSidToStringSidW(PSID sid, std::wstring* text) = 0;
    virtual DWORD GetAclEntries(PACL acl, std::vector<AceEntry>* entries) = 0;
};

inline Security& Sec() { return *P().security; }

}  // namespace win
