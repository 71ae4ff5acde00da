// Registry facet (advapi32 Reg* functions). Sizes are in bytes for data and in characters
// for names, exactly as Windows counts them; ERROR_MORE_DATA reports the size needed.
#pragma once

#include "platform/platform.h"

namespace win {

// RegNotifyChangeKeyValue filters.
inline constexpr DWORD REG_NOTIFY_CHANGE_NAME = 0x00000001;
inline constexpr DWORD REG_NOTIFY_CHANGE_ATTRIBUTES = 0x00000002;
inline constexpr DWORD REG_NOTIFY_CHANGE_LAST_SET = 0x00000004;
inline constexpr DWORD REG_NOTIFY_CHANGE_SECURITY = 0x00000008;

class Registry {
public:
    virtual ~Registry() = default;

    virtual LSTATUS RegOpenKeyExW(HKEY root, const wchar_t* subKey, DWORD options, DWORD sam, HKEY* out) = 0;
    // disposition may be null.
    virtual LSTATUS RegCreateKeyExW(HKEY root, const wchar_t* subKey, DWORD options, DWORD sam, HKEY* out,
                                    DWORD* disposition) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
    // type, data and cbData may be null as in Windows; data without cbData is invalid.
    virtual LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* cbData) = 0;
    virtual LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD cbData) = 0;
    // cchName: in, the buffer's size including the terminator; out, the length without it.
    virtual LSTATUS RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* cchName) = 0;
    virtual LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* cchName, DWORD* type, BYTE* data,
                                  DWORD* cbData) = 0;
    // Any output may be null. Lengths are in characters without the terminator, data in bytes.
    virtual LSTATUS RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                                     DWORD* maxValueNameLen, DWORD* maxValueLen) = 0;
    virtual LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name) = 0;
    virtual LSTATUS RegDeleteTreeW(HKEY key, const wchar_t* subKey) = 0;
    // RegNotifyChangeKeyValue: the key needs KEY_NOTIFY. Asynchronous: the event (from
    // Synchronization) is set at the next change the filter names, once per registration;
    // writing data identical to what is stored is no change. Closing the key ends its
    // registrations.
    virtual LSTATUS RegNotifyChangeKeyValue(HKEY key, bool watchSubtree, DWORD filter, HANDLE event,
                                            bool asynchronous) = 0;
};

inline Registry& Reg() { return *P().registry; }

}  // namespace win
