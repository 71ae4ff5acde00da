#include "platform/security.h"
#include "platform/win32/win32_common.h"

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace win32 {
namespace {

inline PSID Sid(win::PSID s) { return Raw<void>(s); }
inline PACL Acl(win::PACL a) { return Raw<ACL>(a); }

static_assert(sizeof(::SECURITY_DESCRIPTOR) == sizeof(win::SECURITY_DESCRIPTOR));
static_assert(alignof(::SECURITY_DESCRIPTOR) <= alignof(win::SECURITY_DESCRIPTOR));
inline PSECURITY_DESCRIPTOR Descriptor(win::SECURITY_DESCRIPTOR* d) { return d->opaque; }

struct LocalFreer {
    void operator()(void* p) const { ::LocalFree(p); }
};
using LocalPtr = std::unique_ptr<void, LocalFreer>;

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE h) const { ::BCryptDestroyHash(h); }
};

// A LocalAlloc'ed array of LocalAlloc'ed SIDs, the shape DeriveCapabilitySidsFromName hands
// out. Frees the array and whatever elements it still owns.
struct SidArray {
    PSID* sids = nullptr;
    DWORD count = 0;
    SidArray() = default;
    SidArray(const SidArray&) = delete;
    SidArray& operator=(const SidArray&) = delete;
    ~SidArray() {
        for (DWORD i = 0; i < count; ++i) ::LocalFree(sids[i]);
        ::LocalFree(sids);
    }
    std::vector<win::PSID> Wrapped() const {
        std::vector<win::PSID> out;
        out.reserve(count);
        for (DWORD i = 0; i < count; ++i) out.push_back(Wrap<win::PSID>(sids[i]));
        return out;
    }
};

using DeriveFn = BOOL(WINAPI*)(LPCWSTR, PSID**, DWORD*, PSID**, DWORD*);

// Windows 10 exports it from kernelbase; Wine and MinGW's import libraries do not have it.
DeriveFn SystemDerive() {
    static const DeriveFn fn = [] {
        HMODULE kernelbase = ::GetModuleHandleW(L"kernelbase.dll");
        FARPROC p = kernelbase ? ::GetProcAddress(kernelbase, "DeriveCapabilitySidsFromName") : nullptr;
        return reinterpret_cast<DeriveFn>(reinterpret_cast<void (*)()>(p));
    }();
    return fn;
}

DWORD FromStatus(NTSTATUS status) { return ::RtlNtStatusToDosError(status); }

DWORD Sha256(const void* data, ULONG size, BYTE (&digest)[32]) {
    BCRYPT_ALG_HANDLE a = nullptr;
    if (NTSTATUS s = ::BCryptOpenAlgorithmProvider(&a, BCRYPT_SHA256_ALGORITHM, nullptr, 0); s < 0) return FromStatus(s);
    std::unique_ptr<void, AlgorithmCloser> algorithm(a);
    BCRYPT_HASH_HANDLE h = nullptr;
    // No hash object buffer: the provider allocates its own (Windows 7 and later, and Wine).
    if (NTSTATUS s = ::BCryptCreateHash(a, &h, nullptr, 0, nullptr, 0, 0); s < 0) return FromStatus(s);
    std::unique_ptr<void, HashDestroyer> hash(h);
    if (NTSTATUS s = ::BCryptHashData(h, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0); s < 0)
        return FromStatus(s);
    if (NTSTATUS s = ::BCryptFinishHash(h, digest, sizeof digest, 0); s < 0) return FromStatus(s);
    return ERROR_SUCCESS;
}

// A SID of `prefix` then the digest as eight little-endian 32-bit sub-authorities, in
// LocalAlloc'ed memory as the system's export allocates it.
DWORD HashSid(BYTE authority, const std::vector<DWORD>& prefix, const BYTE (&digest)[32], LocalPtr* out) {
    const BYTE n = static_cast<BYTE>(prefix.size() + 8);
    LocalPtr sid(::LocalAlloc(LMEM_FIXED, ::GetSidLengthRequired(n)));
    if (!sid) return ::GetLastError();
    SID_IDENTIFIER_AUTHORITY a = {{0, 0, 0, 0, 0, authority}};
    if (!::InitializeSid(sid.get(), &a, n)) return ::GetLastError();
    for (BYTE i = 0; i < prefix.size(); ++i) *::GetSidSubAuthority(sid.get(), i) = prefix[i];
    for (BYTE i = 0; i < 8; ++i) {
        const BYTE* b = digest + 4 * i;
        *::GetSidSubAuthority(sid.get(), static_cast<DWORD>(prefix.size() + i)) =
            b[0] | (DWORD{b[1]} << 8) | (DWORD{b[2]} << 16) | (DWORD{b[3]} << 24);
    }
    *out = std::move(sid);
    return ERROR_SUCCESS;
}

// S-1-15-3-1024-... and S-1-5-32-...: MinGW's headers name neither the 1024 nor the group's 32.
constexpr BYTE kAppPackageAuthority = 15;
constexpr BYTE kNtAuthority = 5;
constexpr DWORD kCapabilityBaseRid = 3;
constexpr DWORD kCapabilityAppRid = 1024;
constexpr DWORD kGroupCapabilityBaseRid = 32;

DWORD OneSidArray(LocalPtr sid, SidArray* out) {
    out->sids = static_cast<PSID*>(::LocalAlloc(LMEM_FIXED, sizeof(PSID)));
    if (out->sids == nullptr) return ::GetLastError();
    out->sids[0] = sid.release();
    out->count = 1;
    return ERROR_SUCCESS;
}

// What the export computes for a name that is not one of the legacy capabilities (those
// published before Windows 10 keep their short fixed SIDs there; the service uses none):
// SHA-256 of the upper-cased name in UTF-16LE; the capability SID is S-1-15-3-1024-<digest>,
// the group SID S-1-5-32-<digest>.
DWORD DeriveFromHash(const wchar_t* name, SidArray* groups, SidArray* capabilities) {
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name, -1, nullptr, 0, nullptr,
                                       nullptr, 0);
    if (length == 0) return ::GetLastError();
    std::wstring upper(static_cast<std::size_t>(length), L'\0');
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name, -1, upper.data(), length, nullptr, nullptr,
                        0) == 0)
        return ::GetLastError();
    upper.resize(static_cast<std::size_t>(length) - 1);  // the terminator is not hashed

    BYTE digest[32];
    if (DWORD e = Sha256(upper.data(), static_cast<ULONG>(upper.size() * sizeof(wchar_t)), digest)) return e;
    LocalPtr group, capability;
    if (DWORD e = HashSid(kNtAuthority, {kGroupCapabilityBaseRid}, digest, &group)) return e;
    if (DWORD e = HashSid(kAppPackageAuthority, {kCapabilityBaseRid, kCapabilityAppRid}, digest, &capability))
        return e;
    if (DWORD e = OneSidArray(std::move(group), groups)) return e;
    return OneSidArray(std::move(capability), capabilities);
}

class Win32Security : public win::Security {
public:
    win::DWORD DeriveCapabilitySidsFromName(const wchar_t* name, std::vector<win::PSID>* groupSids,
                                            std::vector<win::PSID>* capabilitySids) override {
        if (name == nullptr || groupSids == nullptr || capabilitySids == nullptr) return ERROR_INVALID_PARAMETER;
        SidArray groups, capabilities;
        if (DeriveFn derive = SystemDerive()) {
            if (!derive(name, &groups.sids, &groups.count, &capabilities.sids, &capabilities.count))
                return ::GetLastError();
        } else if (DWORD e = DeriveFromHash(name, &groups, &capabilities)) {
            return e;
        }
        auto g = groups.Wrapped();
        auto c = capabilities.Wrapped();
        // The SIDs now belong to the caller; the arrays that held them are still freed.
        groups.count = capabilities.count = 0;
        *groupSids = std::move(g);
        *capabilitySids = std::move(c);
        return ERROR_SUCCESS;
    }

    void LocalFreeSid(win::PSID sid) override { ::LocalFree(Sid(sid)); }

    win::DWORD AllocateAndInitializeSid(const win::BYTE (&authority)[6], win::BYTE subAuthorityCount,
                                        const win::DWORD* subAuthorities, win::PSID* sid) override {
        if (sid == nullptr || (subAuthorityCount > 0 && subAuthorities == nullptr)) return ERROR_INVALID_PARAMETER;
        // Never read past eight; a larger count is passed on so that it fails as Windows fails it.
        DWORD s[8] = {};
        std::copy_n(subAuthorities, std::min<int>(subAuthorityCount, 8), s);
        SID_IDENTIFIER_AUTHORITY a;
        std::memcpy(a.Value, authority, sizeof a.Value);
        PSID out = nullptr;
        if (!::AllocateAndInitializeSid(&a, subAuthorityCount, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], &out))
            return ::GetLastError();
        *sid = Wrap<win::PSID>(out);
        return ERROR_SUCCESS;
    }

    void FreeSid(win::PSID sid) override { ::FreeSid(Sid(sid)); }

    win::DWORD SetEntriesInAclW(win::ULONG count, const win::EXPLICIT_ACCESS_W* entries, win::PACL* acl) override {
        if (acl == nullptr || (count > 0 && entries == nullptr)) return ERROR_INVALID_PARAMETER;
        std::vector<::EXPLICIT_ACCESS_W> explicitAccess(count);
        for (ULONG i = 0; i < count; ++i) {
            const win::EXPLICIT_ACCESS_W& e = entries[i];
            // The seam's trustee is always a SID; any other form would make Windows read it as a name.
            if (e.TrusteeForm != win::TRUSTEE_IS_SID) return ERROR_INVALID_PARAMETER;
            ::EXPLICIT_ACCESS_W& x = explicitAccess[i];
            x.grfAccessPermissions = e.grfAccessPermissions;
            x.grfAccessMode = static_cast<ACCESS_MODE>(e.grfAccessMode);
            x.grfInheritance = e.grfInheritance;
            x.Trustee.pMultipleTrustee = nullptr;
            x.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
            x.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            x.Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(e.TrusteeType);
            x.Trustee.ptstrName = static_cast<LPWSTR>(Sid(e.sid));
        }
        PACL out = nullptr;
        if (DWORD e = ::SetEntriesInAclW(count, explicitAccess.data(), nullptr, &out)) return e;
        *acl = Wrap<win::PACL>(out);
        return ERROR_SUCCESS;
    }

    void LocalFreeAcl(win::PACL acl) override { ::LocalFree(Acl(acl)); }

    win::DWORD InitializeSecurityDescriptor(win::SECURITY_DESCRIPTOR* descriptor, win::DWORD revision) override {
        if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
        return LastErrorOr(::InitializeSecurityDescriptor(Descriptor(descriptor), revision));
    }

    win::DWORD SetSecurityDescriptorDacl(win::SECURITY_DESCRIPTOR* descriptor, bool present, win::PACL dacl,
                                         bool defaulted) override {
        if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
        return LastErrorOr(::SetSecurityDescriptorDacl(Descriptor(descriptor), present, Acl(dacl), defaulted));
    }

    win::DWORD ConvertSidToStringSidW(win::PSID sid, std::wstring* text) override {
        if (text == nullptr) return ERROR_INVALID_PARAMETER;
        return ToString(Sid(sid), text);
    }

    win::DWORD GetAclEntries(win::PACL acl, std::vector<win::AceEntry>* entries) override {
        if (acl == win::PACL{} || entries == nullptr) return ERROR_INVALID_PARAMETER;
        ACL_SIZE_INFORMATION info{};
        if (!::GetAclInformation(Acl(acl), &info, sizeof info, AclSizeInformation)) return ::GetLastError();
        std::vector<win::AceEntry> out;
        out.reserve(info.AceCount);
        for (DWORD i = 0; i < info.AceCount; ++i) {
            void* ace = nullptr;
            if (!::GetAce(Acl(acl), i, &ace)) return ::GetLastError();
            const auto* header = static_cast<const ACE_HEADER*>(ace);
            // Allowed, denied, audit and alarm entries share one layout; object entries do not,
            // and reading them as if they did would misreport their SID.
            if (header->AceType > SYSTEM_ALARM_ACE_TYPE) return ERROR_NOT_SUPPORTED;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            win::AceEntry entry{};
            if (DWORD e = ToString(&allowed->SidStart, &entry.sid)) return e;
            entry.accessMask = allowed->Mask;
            entry.aceType = header->AceType;
            entry.aceFlags = header->AceFlags;
            out.push_back(std::move(entry));
        }
        *entries = std::move(out);
        return ERROR_SUCCESS;
    }

private:
    static DWORD ToString(PSID sid, std::wstring* text) {
        LPWSTR s = nullptr;
        if (!::ConvertSidToStringSidW(sid, &s)) return ::GetLastError();
        LocalPtr owned(s);
        *text = s;
        return ERROR_SUCCESS;
    }
};

}  // namespace

win::Security& Security() {
    static Win32Security instance;
    return instance;
}

}  // namespace win32
