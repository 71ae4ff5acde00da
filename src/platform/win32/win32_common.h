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

}  // namespace win32
