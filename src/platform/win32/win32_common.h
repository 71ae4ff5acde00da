// Shared by the Win32 facet implementations. Platform headers come first (see wintypes.h).
#pragma once

#include "platform/wintypes.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace win32 {

template <typename T>
inline T* Raw(auto h) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(static_cast<std::uint64_t>(h)));
}
template <typename Opaque>
inline Opaque Wrap(const void* p) {
    return static_cast<Opaque>(reinterpret_cast<std::uintptr_t>(p));
}
inline ::GUID ToGuid(const win::GUID& g) {
    ::GUID out;
    static_assert(sizeof out == sizeof g);
    std::memcpy(&out, &g, sizeof out);
    return out;
}
inline DWORD LastErrorOr(BOOL ok) { return ok ? ERROR_SUCCESS : ::GetLastError(); }
// The same, for calls after which a failure must never read as success: some leave no
// last error behind.
inline DWORD FailureOr(BOOL ok) {
    if (ok) return ERROR_SUCCESS;
    DWORD e = ::GetLastError();
    return e != ERROR_SUCCESS ? e : ERROR_GEN_FAILURE;
}

// A kernel handle the backend opens for itself, closed with CloseHandle. File handles are
// "none" at INVALID_HANDLE_VALUE, every other kind at null.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) : h_(h) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : h_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_ = nullptr;
};

}  // namespace win32
