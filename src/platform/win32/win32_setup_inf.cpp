#include "platform/setup_inf.h"
#include "platform/win32/win32_common.h"

#include <setupapi.h>

namespace win32 {
namespace {

static_assert(sizeof(::INFCONTEXT) == sizeof(win::INFCONTEXT));

class Win32SetupInf : public win::SetupInf {
public:
    win::DWORD SetupOpenInfFileW(const wchar_t* fileName, win::DWORD style, win::HINF* inf) override {
        HINF h = ::SetupOpenInfFileW(fileName, nullptr, style, nullptr);
        if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
        *inf = Wrap<win::HINF>(h);
        return ERROR_SUCCESS;
    }

    void SetupCloseInfFile(win::HINF inf) override { ::SetupCloseInfFile(Raw<void>(inf)); }

    win::DWORD SetupFindFirstLineW(win::HINF inf, const wchar_t* section, const wchar_t* key,
                                   win::INFCONTEXT* context) override {
        ::INFCONTEXT found{};
        if (!::SetupFindFirstLineW(Raw<void>(inf), section, key, &found)) return ::GetLastError();
        std::memcpy(context, &found, sizeof found);
        return ERROR_SUCCESS;
    }

    win::DWORD SetupGetStringFieldW(const win::INFCONTEXT& context, win::DWORD field, wchar_t* buffer,
                                    win::DWORD size, win::DWORD* required) override {
        ::INFCONTEXT c;
        std::memcpy(&c, &context, sizeof c);
        DWORD needed = 0;
        const BOOL ok = ::SetupGetStringFieldW(&c, field, buffer, size, &needed);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        if (required != nullptr && (ok || error == ERROR_INSUFFICIENT_BUFFER)) *required = needed;
        return error;
    }

    win::DWORD SetupUninstallOEMInfW(const wchar_t* infFileName, win::DWORD flags) override {
        return LastErrorOr(::SetupUninstallOEMInfW(infFileName, flags, nullptr));
    }

    win::DWORD GetWindowsDirectoryW(wchar_t* buffer, win::UINT size, win::UINT* length) override {
        const UINT n = ::GetWindowsDirectoryW(buffer, size);
        if (n == 0) return ::GetLastError();
        *length = n;
        // Too small a buffer: n is the size needed, terminator included, and nothing written.
        return n >= size ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
    }

    win::DWORD FindFirstFileW(const wchar_t* pattern, win::HANDLE* find, std::wstring* name) override {
        WIN32_FIND_DATAW data{};
        HANDLE h = ::FindFirstFileW(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
        *find = Wrap<win::HANDLE>(h);
        name->assign(data.cFileName);
        return ERROR_SUCCESS;
    }

    win::DWORD FindNextFileW(win::HANDLE find, std::wstring* name) override {
        WIN32_FIND_DATAW data{};
        if (!::FindNextFileW(Raw<void>(find), &data)) return ::GetLastError();
        name->assign(data.cFileName);
        return ERROR_SUCCESS;
    }

    void FindClose(win::HANDLE find) override { ::FindClose(Raw<void>(find)); }

    win::DWORD DeleteFileW(const wchar_t* path) override { return LastErrorOr(::DeleteFileW(path)); }
};

}  // namespace

win::SetupInf& SetupInf() {
    static Win32SetupInf instance;
    return instance;
}

}  // namespace win32
