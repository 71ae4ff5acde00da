#include "platform/sim/sim_security.h"

#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

constexpr char kSidKind[] = "SID";
constexpr char kCapabilityKind[] = "CapabilitySID";
constexpr char kAclKind[] = "ACL";

// The absolute SECURITY_DESCRIPTOR of x64 Windows.
constexpr std::size_t kRevisionOffset = 0;
constexpr std::size_t kControlOffset = 2;
constexpr std::size_t kDaclOffset = 32;
constexpr win::WORD SE_DACL_PRESENT = 0x0004;
constexpr win::WORD SE_DACL_DEFAULTED = 0x0008;

constexpr win::DWORD GRANT_ACCESS = 1;
constexpr win::DWORD SET_AUDIT_FAILURE = 6;  // the last ACCESS_MODE
constexpr win::BYTE ACCESS_ALLOWED_ACE_TYPE = 0;

std::uint64_t Raw(auto h) { return static_cast<std::uint64_t>(h); }

// What the system hashes: the name upper-cased, in UTF-16LE, without its terminator. Only
// ASCII letters are upper-cased: capability names are ASCII and the model has no case table.
std::vector<unsigned char> HashInput(const wchar_t* name) {
    std::vector<unsigned char> out;
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    };
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        auto c = static_cast<std::uint32_t>(*p);
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        if (c > 0xFFFF) {
            c -= 0x10000;
            put(0xD800 | (c >> 10));
            put(0xDC00 | (c & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

// "-r1-...-r8": the SHA-256 digest of the name as eight little-endian 32-bit sub-authorities.
std::wstring HashRids(const wchar_t* name) {
    const auto input = HashInput(name);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(input.data(), input.size(), digest, &size, EVP_sha256(), nullptr) || size != 32)
        throw std::runtime_error("SHA-256 from libcrypto failed");
    std::wstring out;
    for (int i = 0; i < 8; ++i) {
        const unsigned char* b = digest + 4 * i;
        const std::uint32_t rid = b[0] | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
                                  (std::uint32_t{b[3]} << 24);
        out += L'-' + std::to_wstring(rid);
    }
    return out;
}

}  // namespace

win::PSID SimSecurity::NewSid(const char* kind, std::wstring text) {
    const std::uint64_t h = handles_.Open(kind);
    sids_[h] = std::move(text);
    return static_cast<win::PSID>(h);
}

void SimSecurity::Release(std::uint64_t handle, const char* kind, const char* call) {
    if (!handles_.Close(handle, kind))
        throw std::logic_error(std::string(call) + ": " + std::to_string(handle) + " is not an open " + kind);
}

const std::wstring& SimSecurity::SidText(win::PSID sid, const char* call) const {
    auto it = sids_.find(Raw(sid));
    if (it == sids_.end()) throw std::logic_error(std::string(call) + ": a SID that was released or never made");
    return it->second;
}

win::DWORD SimSecurity::DeriveCapabilitySidsFromName(const wchar_t* name, std::vector<win::PSID>* groupSids,
                                                     std::vector<win::PSID>* capabilitySids) {
    if (auto e = faults_.Check("DeriveCapabilitySidsFromName")) return e;
    if (name == nullptr || groupSids == nullptr || capabilitySids == nullptr) return win::ERROR_INVALID_PARAMETER;
    const std::wstring rids = HashRids(name);
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<win::PSID> groups{NewSid(kCapabilityKind, L"S-1-5-32" + rids)};
    std::vector<win::PSID> capabilities;
    for (std::size_t i = 0; i < capabilitySidCount_; ++i)
        capabilities.push_back(NewSid(kCapabilityKind, L"S-1-15-3-1024" + rids));
    *groupSids = std::move(groups);
    *capabilitySids = std::move(capabilities);
    return win::ERROR_SUCCESS;
}

void SimSecurity::LocalFreeSid(win::PSID sid) {
    faults_.Check("LocalFreeSid");
    if (sid == win::PSID{}) return;
    std::lock_guard<std::mutex> lock(lock_);
    Release(Raw(sid), kCapabilityKind, "LocalFreeSid");
    sids_.erase(Raw(sid));
}

win::DWORD SimSecurity::AllocateAndInitializeSid(const win::BYTE (&authority)[6], win::BYTE subAuthorityCount,
                                                 const win::DWORD* subAuthorities, win::PSID* sid) {
    if (auto e = faults_.Check("AllocateAndInitializeSid")) return e;
    if (sid == nullptr || (subAuthorityCount > 0 && subAuthorities == nullptr)) return win::ERROR_INVALID_PARAMETER;
    // Measured under Wine: nine or more fail with ERROR_INVALID_SID and leave the output alone.
    if (subAuthorityCount > 8) return win::ERROR_INVALID_SID;
    std::uint64_t value = 0;
    for (win::BYTE b : authority) value = value << 8 | b;
    if (value > 0xFFFFFFFFu) throw std::logic_error("AllocateAndInitializeSid: authorities past 32 bits are not modelled");
    std::wstring text = L"S-1-" + std::to_wstring(value);
    for (int i = 0; i < subAuthorityCount; ++i) text += L'-' + std::to_wstring(subAuthorities[i]);
    std::lock_guard<std::mutex> lock(lock_);
    *sid = NewSid(kSidKind, std::move(text));
    return win::ERROR_SUCCESS;
}

void SimSecurity::FreeSid(win::PSID sid) {
    faults_.Check("FreeSid");
    if (sid == win::PSID{}) return;
    std::lock_guard<std::mutex> lock(lock_);
    Release(Raw(sid), kSidKind, "FreeSid");
    sids_.erase(Raw(sid));
}

win::DWORD SimSecurity::SetEntriesInAclW(win::ULONG count, const win::EXPLICIT_ACCESS_W* entries, win::PACL* acl) {
    if (auto e = faults_.Check("SetEntriesInAclW")) return e;
    if (acl == nullptr || (count > 0 && entries == nullptr)) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<win::AceEntry> aces;
    for (win::ULONG i = 0; i < count; ++i) {
        const win::EXPLICIT_ACCESS_W& e = entries[i];
        // A null SID and an unknown mode are ERROR_INVALID_PARAMETER under Wine; the seam
        // carries only SID trustees, so the Win32 backend refuses any other form the same way.
        if (e.TrusteeForm != win::TRUSTEE_IS_SID || e.sid == win::PSID{} || e.grfAccessMode > SET_AUDIT_FAILURE)
            return win::ERROR_INVALID_PARAMETER;
        if (e.grfAccessMode != win::SET_ACCESS && e.grfAccessMode != GRANT_ACCESS)
            throw std::logic_error("SetEntriesInAclW: only SET_ACCESS and GRANT_ACCESS are modelled");
        // Generic rights stay in the entry as given (Windows, and Wine measured with
        // GENERIC_ALL, GENERIC_READ|GENERIC_WRITE and GENERIC_EXECUTE|1); the inheritance
        // becomes the entry's flags as given (Wine kept even 99).
        aces.push_back(win::AceEntry{SidText(e.sid, "SetEntriesInAclW"), e.grfAccessPermissions,
                                     ACCESS_ALLOWED_ACE_TYPE, static_cast<win::BYTE>(e.grfInheritance)});
    }
    // Measured under Wine: no entries and no old ACL succeed with a null ACL.
    if (aces.empty()) {
        *acl = win::PACL{};
        return win::ERROR_SUCCESS;
    }
    const std::uint64_t h = handles_.Open(kAclKind);
    acls_[h] = std::move(aces);
    *acl = static_cast<win::PACL>(h);
    return win::ERROR_SUCCESS;
}

void SimSecurity::LocalFreeAcl(win::PACL acl) {
    faults_.Check("LocalFreeAcl");
    if (acl == win::PACL{}) return;
    std::lock_guard<std::mutex> lock(lock_);
    Release(Raw(acl), kAclKind, "LocalFreeAcl");
    acls_.erase(Raw(acl));
}

win::DWORD SimSecurity::InitializeSecurityDescriptor(win::SECURITY_DESCRIPTOR* descriptor, win::DWORD revision) {
    if (auto e = faults_.Check("InitializeSecurityDescriptor")) return e;
    if (descriptor == nullptr) return win::ERROR_INVALID_PARAMETER;
    if (revision != win::SECURITY_DESCRIPTOR_REVISION) return win::ERROR_UNKNOWN_REVISION;
    std::memset(descriptor->opaque, 0, sizeof descriptor->opaque);
    descriptor->opaque[kRevisionOffset] = static_cast<win::BYTE>(revision);
    return win::ERROR_SUCCESS;
}

win::DWORD SimSecurity::SetSecurityDescriptorDacl(win::SECURITY_DESCRIPTOR* descriptor, bool present, win::PACL dacl,
                                                  bool defaulted) {
    if (auto e = faults_.Check("SetSecurityDescriptorDacl")) return e;
    if (descriptor == nullptr) return win::ERROR_INVALID_PARAMETER;
    // An uninitialised descriptor fails on its revision byte, as it does on Windows.
    if (descriptor->opaque[kRevisionOffset] != win::SECURITY_DESCRIPTOR_REVISION) return win::ERROR_UNKNOWN_REVISION;
    win::WORD control;
    std::memcpy(&control, descriptor->opaque + kControlOffset, sizeof control);
    if (!present) {
        // Measured under Wine: only the present flag goes; the ACL and the defaulted flag stay.
        control &= static_cast<win::WORD>(~SE_DACL_PRESENT);
    } else {
        control |= SE_DACL_PRESENT;
        control = defaulted ? (control | SE_DACL_DEFAULTED) : (control & static_cast<win::WORD>(~SE_DACL_DEFAULTED));
        const std::uint64_t h = Raw(dacl);
        std::memcpy(descriptor->opaque + kDaclOffset, &h, sizeof h);
    }
    std::memcpy(descriptor->opaque + kControlOffset, &control, sizeof control);
    return win::ERROR_SUCCESS;
}

win::DWORD SimSecurity::ConvertSidToStringSidW(win::PSID sid, std::wstring* text) {
    if (auto e = faults_.Check("ConvertSidToStringSidW")) return e;
    if (text == nullptr) return win::ERROR_INVALID_PARAMETER;
    if (sid == win::PSID{}) return win::ERROR_INVALID_SID;  // measured under Wine
    std::lock_guard<std::mutex> lock(lock_);
    *text = SidText(sid, "ConvertSidToStringSidW");
    return win::ERROR_SUCCESS;
}

win::DWORD SimSecurity::GetAclEntries(win::PACL acl, std::vector<win::AceEntry>* entries) {
    if (auto e = faults_.Check("GetAclEntries")) return e;
    if (acl == win::PACL{} || entries == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = acls_.find(Raw(acl));
    if (it == acls_.end()) throw std::logic_error("GetAclEntries: an ACL that was released or never made");
    *entries = it->second;
    return win::ERROR_SUCCESS;
}

void SimSecurity::SetCapabilitySidCount(std::size_t count) {
    std::lock_guard<std::mutex> lock(lock_);
    capabilitySidCount_ = count;
}

bool SimSecurity::IsValidSid(win::PSID sid) const {
    return handles_.IsOpen(Raw(sid), kSidKind) || handles_.IsOpen(Raw(sid), kCapabilityKind);
}

bool SimSecurity::IsValidAcl(win::PACL acl) const { return handles_.IsOpen(Raw(acl), kAclKind); }

SimSecurity::DescriptorState SimSecurity::ReadDescriptor(const win::SECURITY_DESCRIPTOR& descriptor) {
    win::WORD control;
    std::memcpy(&control, descriptor.opaque + kControlOffset, sizeof control);
    std::uint64_t dacl;
    std::memcpy(&dacl, descriptor.opaque + kDaclOffset, sizeof dacl);
    return DescriptorState{descriptor.opaque[kRevisionOffset], (control & SE_DACL_PRESENT) != 0,
                           (control & SE_DACL_DEFAULTED) != 0, static_cast<win::PACL>(dacl)};
}

std::optional<std::vector<win::AceEntry>> SimSecurity::DaclEntries(const win::SECURITY_DESCRIPTOR& descriptor) const {
    const DescriptorState state = ReadDescriptor(descriptor);
    if (!state.daclPresent || state.dacl == win::PACL{}) return std::nullopt;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = acls_.find(Raw(state.dacl));
    if (it == acls_.end()) throw std::logic_error("DaclEntries: the descriptor's DACL was released");
    return it->second;
}

}  // namespace sim
