// Events and waits facet (kernel32): events, named or not, and waits on the waitable
// handles the seam hands out (events, and the folder change notifications of Files).
#pragma once

#include "platform/platform.h"
#include "platform/security.h"

namespace win {

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
inline constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;
inline constexpr DWORD WRITE_DAC = 0x00040000;
inline constexpr DWORD WRITE_OWNER = 0x00080000;

// SE_OBJECT_TYPE and SECURITY_INFORMATION bits of the kernel-object security calls.
inline constexpr DWORD SE_KERNEL_OBJECT = 6;
inline constexpr DWORD OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr DWORD DACL_SECURITY_INFORMATION = 0x00000004;

class Synchronization {
public:
    virtual ~Synchronization() = default;

    // CreateEventW(attributes, manualReset, initialState, name). descriptor null: default
    // security; otherwise SECURITY_ATTRIBUTES with it, not inheritable. name may be null.
    // When an event of that name exists, it is opened instead (its reset mode and state stay
    // as they are) and *existed (may be null) says so. *out is untouched on failure.
    virtual DWORD CreateEventW(const SECURITY_DESCRIPTOR* descriptor, bool manualReset, bool initialState,
                               const wchar_t* name, HANDLE* out, bool* existed) = 0;
    // OpenEventW(access, not inheritable, name): ERROR_FILE_NOT_FOUND when no event has it.
    virtual DWORD OpenEventW(DWORD access, const wchar_t* name, HANDLE* out) = 0;
    virtual DWORD SetEvent(HANDLE event) = 0;
    virtual DWORD ResetEvent(HANDLE event) = 0;
    // CloseHandle on an event this facet handed out.
    virtual DWORD CloseHandle(HANDLE event) = 0;

    // The waits return what Windows returns: WAIT_OBJECT_0 + index, WAIT_TIMEOUT, or
    // WAIT_FAILED with the reason in *error (may be null). A satisfied wait resets an
    // auto-reset event; a change notification stays signalled until it is re-armed.
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds, DWORD* error) = 0;
    virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds,
                                         DWORD* error) = 0;

    // SetNamedSecurityInfoW(name, SE_KERNEL_OBJECT, securityInfo, owner, no group, dacl, no
    // SACL) for a named event: OWNER_SECURITY_INFORMATION sets owner, DACL_SECURITY_INFORMATION
    // sets dacl. Done as Windows does it, through a handle opened with the right the change
    // needs (WRITE_OWNER, WRITE_DAC), so ERROR_ACCESS_DENIED when the caller lacks it and
    // ERROR_FILE_NOT_FOUND when no event has the name. (Wine's SetNamedSecurityInfoW returns
    // 0 on kernel objects and changes nothing; SetSecurityInfo on a handle works there.)
    virtual DWORD SetNamedSecurityInfoW(const wchar_t* name, DWORD securityInfo, PSID owner, PACL dacl) = 0;
};

inline Synchronization& Sync() { return *P().sync; }

}  // namespace win
