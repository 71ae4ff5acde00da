// INF files and the Windows INF folder (setupapi, kernel32): reading lines of an installed
// INF, uninstalling an OEM copy, and listing and deleting files in the INF folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace win {

using UINT = std::uint32_t;

enum class HINF : std::uint64_t {};
// SetupOpenInfFileW reports failure with INVALID_HANDLE_VALUE, not null.
inline constexpr HINF INVALID_HINF = static_cast<HINF>(~std::uint64_t{0});

// Where SetupFindFirstLineW found a line, laid out as Windows' own; only the facet that
// filled it reads it.
struct INFCONTEXT {
    std::uint64_t inf = 0;
    std::uint64_t currentInf = 0;
    std::uint32_t section = 0;
    std::uint32_t line = 0;
};

inline constexpr DWORD INF_STYLE_WIN4 = 2;
inline constexpr DWORD SUOI_FORCEDELETE = 1;
// SetupAPI's own codes (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | n).
inline constexpr DWORD ERROR_EXPECTED_SECTION_NAME = 0xE0000000;
inline constexpr DWORD ERROR_WRONG_INF_STYLE = 0xE0000100;
inline constexpr DWORD ERROR_LINE_NOT_FOUND = 0xE0000102;

class SetupInf {
public:
    virtual ~SetupInf() = default;

    // SetupOpenInfFileW(fileName, no class, style, no error line). A bare name is looked up
    // in the Windows INF folder. ERROR_SUCCESS with *inf open; else *inf untouched.
    virtual DWORD SetupOpenInfFileW(const wchar_t* fileName, DWORD style, HINF* inf) = 0;
    virtual void SetupCloseInfFile(HINF inf) = 0;

    // The first line of section whose key is key (both without regard to case).
    // ERROR_LINE_NOT_FOUND when the section or the line is missing; *context untouched.
    virtual DWORD SetupFindFirstLineW(HINF inf, const wchar_t* section, const wchar_t* key, INFCONTEXT* context) = 0;

    // Field n of the line (0 is the key, 1 the first value) into buffer of size characters,
    // terminator included; *required gets the size it needs. A field that does not fit
    // gives ERROR_INSUFFICIENT_BUFFER and leaves buffer untouched.
    virtual DWORD SetupGetStringFieldW(const INFCONTEXT& context, DWORD field, wchar_t* buffer, DWORD size,
                                       DWORD* required) = 0;

    // SetupUninstallOEMInfW(bare name, flags, reserved null): removes the OEM copy from the
    // INF folder. Windows removes its .pnf too; Wine 8 leaves the .pnf.
    virtual DWORD SetupUninstallOEMInfW(const wchar_t* infFileName, DWORD flags) = 0;

    // GetWindowsDirectoryW(buffer, size): ERROR_SUCCESS with *length characters written and
    // terminated; a folder that does not fit gives ERROR_INSUFFICIENT_BUFFER, *length the
    // size needed, and leaves buffer untouched.
    virtual DWORD GetWindowsDirectoryW(wchar_t* buffer, UINT size, UINT* length) = 0;

    // FindFirstFileW / FindNextFileW / FindClose, reduced to the bare names they find.
    // No match: ERROR_FILE_NOT_FOUND; missing folder: ERROR_PATH_NOT_FOUND; end of the
    // listing: ERROR_NO_MORE_FILES.
    virtual DWORD FindFirstFileW(const wchar_t* pattern, HANDLE* find, std::wstring* name) = 0;
    virtual DWORD FindNextFileW(HANDLE find, std::wstring* name) = 0;
    virtual void FindClose(HANDLE find) = 0;

    virtual DWORD DeleteFileW(const wchar_t* path) = 0;
};

inline SetupInf& Inf() { return *P().setupInf; }

// Owners of an open INF and of a file search; each "none" is INVALID_HANDLE_VALUE.
template <typename H, void (*Close)(H)>
class UniqueInvalidable {
public:
    UniqueInvalidable() = default;
    ~UniqueInvalidable() { reset(); }
    UniqueInvalidable(UniqueInvalidable&& o) noexcept : h_(std::exchange(o.h_, None())) {}
    UniqueInvalidable& operator=(UniqueInvalidable&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, None());
        }
        return *this;
    }
    UniqueInvalidable(const UniqueInvalidable&) = delete;
    UniqueInvalidable& operator=(const UniqueInvalidable&) = delete;

    H get() const { return h_; }
    H* put() {
        reset();
        return &h_;
    }
    void reset() {
        if (h_ != None()) Close(std::exchange(h_, None()));
    }
    explicit operator bool() const { return h_ != None(); }

private:
    static constexpr H None() { return static_cast<H>(~std::uint64_t{0}); }
    H h_ = None();
};

namespace detail {
inline void CloseInf(HINF h) { Inf().SetupCloseInfFile(h); }
inline void CloseFind(HANDLE h) { Inf().FindClose(h); }
}  // namespace detail

using UniqueInf = UniqueInvalidable<HINF, &detail::CloseInf>;
using UniqueFind = UniqueInvalidable<HANDLE, &detail::CloseFind>;

}  // namespace win
