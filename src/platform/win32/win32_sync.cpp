#include "platform/sync.h"
#include "platform/win32/win32_common.h"

#include <aclapi.h>

#include <vector>

namespace win32 {
namespace {

class Win32Sync : public win::Synchronization {
public:
    win::DWORD CreateEventW(const win::SECURITY_DESCRIPTOR* descriptor, bool manualReset, bool initialState,
                            const wchar_t* name, win::HANDLE* out, bool* existed) override {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, const_cast<win::SECURITY_DESCRIPTOR*>(descriptor), FALSE};
        ::SetLastError(ERROR_SUCCESS);
        HANDLE h = ::CreateEventW(descriptor ? &attributes : nullptr, manualReset, initialState, name);
        if (h == nullptr) return FailureOr(FALSE);
        // Read at once: the last error is only meaningful right after the call.
        const bool already = ::GetLastError() == ERROR_ALREADY_EXISTS;
        *out = Wrap<win::HANDLE>(h);
        if (existed) *existed = already;
        return ERROR_SUCCESS;
    }
    win::DWORD OpenEventW(win::DWORD access, const wchar_t* name, win::HANDLE* out) override {
        HANDLE h = ::OpenEventW(access, FALSE, name);
        if (h == nullptr) return FailureOr(FALSE);
        *out = Wrap<win::HANDLE>(h);
        return ERROR_SUCCESS;
    }
    win::DWORD SetEvent(win::HANDLE event) override { return FailureOr(::SetEvent(Raw<void>(event))); }
    win::DWORD ResetEvent(win::HANDLE event) override { return FailureOr(::ResetEvent(Raw<void>(event))); }
    win::DWORD CloseHandle(win::HANDLE event) override { return FailureOr(::CloseHandle(Raw<void>(event))); }

    win::DWORD WaitForSingleObject(win::HANDLE handle, win::DWORD milliseconds, win::DWORD* error) override {
        DWORD r = ::WaitForSingleObject(Raw<void>(handle), milliseconds);
        if (r == WAIT_FAILED && error) *error = FailureOr(FALSE);
        return r;
    }
    win::DWORD WaitForMultipleObjects(win::DWORD count, const win::HANDLE* handles, bool waitAll,
                                      win::DWORD milliseconds, win::DWORD* error) override {
        std::vector<HANDLE> raw;
        for (win::DWORD i = 0; i < count; ++i) raw.push_back(Raw<void>(handles[i]));
        DWORD r = ::WaitForMultipleObjects(count, raw.data(), waitAll, milliseconds);
        if (r == WAIT_FAILED && error) *error = FailureOr(FALSE);
        return r;
    }

    win::DWORD SetNamedSecurityInfoW(const wchar_t* name, win::DWORD securityInfo, win::PSID owner,
                                     win::PACL dacl) override {
        DWORD access = 0;
        if (securityInfo & OWNER_SECURITY_INFORMATION) access |= WRITE_OWNER;
        if (securityInfo & DACL_SECURITY_INFORMATION) access |= WRITE_DAC;
        OwnedHandle event(::OpenEventW(access, FALSE, name));
        if (!event) return FailureOr(FALSE);
        return ::SetSecurityInfo(event.get(), SE_KERNEL_OBJECT, securityInfo, Raw<void>(owner), nullptr,
                                 Raw<ACL>(dacl), nullptr);
    }
};

}  // namespace

win::Synchronization& Synchronization() {
    static Win32Sync instance;
    return instance;
}

}  // namespace win32
