// Move-only owners for the handles the core acquires. Each kind knows its own "none"
// value and how it is released, so every path releases what it acquired.
#pragma once

#include <utility>

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/hid.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/rpc.h"
#include "platform/scm.h"
#include "platform/security.h"
#include "platform/sessions.h"
#include "platform/sync.h"
#include "platform/threads.h"

namespace win {

template <typename H, void (*Close)(H), H None = H{}>
class Unique {
public:
    Unique() = default;
    explicit Unique(H h) : h_(h) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : h_(std::exchange(other.h_, None)) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, None);
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    H get() const { return h_; }
    // For out-parameters: releases what is held and hands out the slot.
    H* put() {
        reset();
        return &h_;
    }
    H release() { return std::exchange(h_, None); }
    void reset(H h = None) {
        if (h_ != None) Close(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != None; }

private:
    H h_ = None;
};

namespace detail {
inline void CloseKey(HKEY k) { Reg().RegCloseKey(k); }
inline void CloseSc(SC_HANDLE h) { Scm().CloseServiceHandle(h); }
inline void CloseDevNotify(HDEVNOTIFY h) { Scm().UnregisterDeviceNotification(h); }
inline void CloseDevice(HANDLE h) { Hid().CloseHandle(h); }
inline void DestroyDevInfo(HDEVINFO h) { Devices().SetupDiDestroyDeviceInfoList(h); }
inline void FreePreparsed(PHIDP_PREPARSED_DATA p) { Hid().HidD_FreePreparsedData(p); }
inline void CloseToken(HANDLE h) { Wts().CloseHandle(h); }
inline void FreeCapabilitySid(PSID s) { Sec().LocalFreeSid(s); }
inline void FreeAllocatedSid(PSID s) { Sec().FreeSid(s); }
inline void FreeAcl(PACL a) { Sec().LocalFreeAcl(a); }
inline void FreeBindingVector(RPC_BINDING_VECTOR v) { Rpc().RpcBindingVectorFree(&v); }
inline void CloseEvent(HANDLE h) { Sync().CloseHandle(h); }
inline void CloseThread(HANDLE h) { Thr().CloseThreadHandle(h); }
inline void CloseChangeNotification(HANDLE h) { Fs().FindCloseChangeNotification(h); }
inline void CloseProcessHandle(HANDLE h) { Proc().CloseHandle(h); }
inline void DestroyEnvironment(ENVIRONMENT_BLOCK b) { Proc().DestroyEnvironmentBlock(b); }
}  // namespace detail

using UniqueHKey = Unique<HKEY, &detail::CloseKey>;
using UniqueScHandle = Unique<SC_HANDLE, &detail::CloseSc>;
using UniqueDevNotify = Unique<HDEVNOTIFY, &detail::CloseDevNotify>;
// Device files (HID collections) are "none" at INVALID_HANDLE_VALUE, as CreateFileW reports.
using UniqueDeviceHandle = Unique<HANDLE, &detail::CloseDevice, INVALID_HANDLE_VALUE>;
using UniqueDevInfo = Unique<HDEVINFO, &detail::DestroyDevInfo>;
using UniquePreparsedData = Unique<PHIDP_PREPARSED_DATA, &detail::FreePreparsed>;
// User tokens are "none" at null, as WTSQueryUserToken leaves them on failure.
using UniqueToken = Unique<HANDLE, &detail::CloseToken>;
// SIDs from DeriveCapabilitySidsFromName (LocalFree) and from AllocateAndInitializeSid (FreeSid).
using UniqueCapabilitySid = Unique<PSID, &detail::FreeCapabilitySid>;
using UniqueSid = Unique<PSID, &detail::FreeAllocatedSid>;
using UniqueAcl = Unique<PACL, &detail::FreeAcl>;
using UniqueBindingVector = Unique<RPC_BINDING_VECTOR, &detail::FreeBindingVector>;
using UniqueEvent = Unique<HANDLE, &detail::CloseEvent>;
using UniqueThread = Unique<HANDLE, &detail::CloseThread>;
// Folder change notifications are "none" at INVALID_HANDLE_VALUE, as Windows reports a failure.
using UniqueChangeNotification = Unique<HANDLE, &detail::CloseChangeNotification, INVALID_HANDLE_VALUE>;
// Snapshots, processes, threads and tokens of the processes facet.
using UniqueProcessHandle = Unique<HANDLE, &detail::CloseProcessHandle>;
using UniqueEnvironmentBlock = Unique<ENVIRONMENT_BLOCK, &detail::DestroyEnvironment>;

// A loaded user profile. Unloading needs the token it was loaded with, so the owner holds
// that token too: the profile is unloaded first, then the token closed.
class UniqueProfile {
public:
    UniqueProfile() = default;
    // Takes over a load that succeeded with this token.
    UniqueProfile(UniqueToken token, HKEY profile) : token_(std::move(token)), profile_(profile) {}
    ~UniqueProfile() { reset(); }
    UniqueProfile(UniqueProfile&& other) noexcept
        : token_(std::move(other.token_)), profile_(std::exchange(other.profile_, HKEY{})) {}
    UniqueProfile& operator=(UniqueProfile&& other) noexcept {
        if (this != &other) {
            reset();
            token_ = std::move(other.token_);
            profile_ = std::exchange(other.profile_, HKEY{});
        }
        return *this;
    }
    UniqueProfile(const UniqueProfile&) = delete;
    UniqueProfile& operator=(const UniqueProfile&) = delete;

    void reset() {
        if (profile_ != HKEY{}) Wts().UnloadUserProfile(token_.get(), std::exchange(profile_, HKEY{}));
        token_.reset();
    }
    HKEY root() const { return profile_; }
    explicit operator bool() const { return profile_ != HKEY{}; }

private:
    UniqueToken token_;
    HKEY profile_{};
};

// LoadUserProfileW for userName with token; on success the owner takes the token with the
// load. On failure the token is closed and *error says why.
inline UniqueProfile LoadUserProfileOwned(UniqueToken token, wchar_t* userName, DWORD* error) {
    PROFILEINFOW profile{};
    profile.dwSize = kProfileInfoSize;
    profile.dwFlags = PI_NOUI;
    profile.lpUserName = userName;
    *error = Wts().LoadUserProfileW(token.get(), &profile);
    if (*error != ERROR_SUCCESS) return UniqueProfile();
    return UniqueProfile(std::move(token), profile.hProfile);
}

}  // namespace win
