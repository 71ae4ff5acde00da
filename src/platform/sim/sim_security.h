// A model of the security calls: SIDs and ACLs as handles counted in the handle table
// ("SID" from AllocateAndInitializeSid, "CapabilitySID" from DeriveCapabilitySidsFromName,
// "ACL"), and the absolute security descriptor kept in its caller's bytes at the offsets
// Windows uses, so tests read it the same way on both backends.
//
// Releasing a handle that is not open, or with the wrong call, throws std::logic_error:
// Windows would corrupt its heap there, silently. Faults injected into the release calls
// are not modelled (they cannot report an error through the seam).
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/security.h"
#include "platform/sim/faults.h"

namespace sim {

class SimSecurity : public win::Security {
public:
    SimSecurity(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}

    win::DWORD DeriveCapabilitySidsFromName(const wchar_t* name, std::vector<win::PSID>* groupSids,
                                            std::vector<win::PSID>* capabilitySids) override;
    void LocalFreeSid(win::PSID sid) override;
    win::DWORD AllocateAndInitializeSid(const win::BYTE (&authority)[6], win::BYTE subAuthorityCount,
                                        const win::DWORD* subAuthorities, win::PSID* sid) override;
    void FreeSid(win::PSID sid) override;
    win::DWORD SetEntriesInAclW(win::ULONG count, const win::EXPLICIT_ACCESS_W* entries, win::PACL* acl) override;
    void LocalFreeAcl(win::PACL acl) override;
    win::DWORD InitializeSecurityDescriptor(win::SECURITY_DESCRIPTOR* descriptor, win::DWORD revision) override;
    win::DWORD SetSecurityDescriptorDacl(win::SECURITY_DESCRIPTOR* descriptor, bool present, win::PACL dacl,
                                         bool defaulted) override;
    win::DWORD ConvertSidToStringSidW(win::PSID sid, std::wstring* text) override;
    win::DWORD GetAclEntries(win::PACL acl, std::vector<win::AceEntry>* entries) override;

    // Set-up: how many capability SIDs a derivation hands back (Windows: one). Each is a
    // copy of the derived SID with a handle of its own.
    void SetCapabilitySidCount(std::size_t count);

    // Reading the model's state back.
    bool IsValidSid(win::PSID sid) const;  // allocated or derived, and not yet released
    bool IsValidAcl(win::PACL acl) const;
    struct DescriptorState {
        win::BYTE revision;
        bool daclPresent;
        bool daclDefaulted;
        win::PACL dacl;
    };
    static DescriptorState ReadDescriptor(const win::SECURITY_DESCRIPTOR& descriptor);
    // The entries of the descriptor's DACL; none when there is no DACL or a null one (which
    // grants everyone everything, unlike an empty one). Throws when the ACL was released.
    std::optional<std::vector<win::AceEntry>> DaclEntries(const win::SECURITY_DESCRIPTOR& descriptor) const;

private:
    win::PSID NewSid(const char* kind, std::wstring text);
    void Release(std::uint64_t handle, const char* kind, const char* call);
    const std::wstring& SidText(win::PSID sid, const char* call) const;

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::size_t capabilitySidCount_ = 1;
    std::map<std::uint64_t, std::wstring> sids_;
    std::map<std::uint64_t, std::vector<win::AceEntry>> acls_;
};

}  // namespace sim
