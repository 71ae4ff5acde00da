#include "platform/registry.h"
#include "platform/win32/win32_common.h"

namespace win32 {
namespace {

inline ::HKEY K(win::HKEY h) { return reinterpret_cast<::HKEY>(static_cast<std::uintptr_t>(static_cast<std::uint64_t>(h))); }

// Predefined roots are sign-extended 32-bit values on Windows.
inline ::HKEY Root(win::HKEY h) {
    auto v = static_cast<std::uint64_t>(h);
    if (v >= 0x80000000u && v <= 0x800000FFu)
        return reinterpret_cast<::HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v))));
    return K(h);
}

class Win32Registry : public win::Registry {
public:
    win::LSTATUS RegNotifyChangeKeyValue(win::HKEY key, bool watchSubtree, win::DWORD filter, win::HANDLE event,
                                         bool asynchronous) override {
        return ::RegNotifyChangeKeyValue(Root(key), watchSubtree, filter, Raw<void>(event), asynchronous);
    }
    win::LSTATUS RegOpenKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD options, win::DWORD sam,
                               win::HKEY* out) override {
        ::HKEY key = nullptr;
        LSTATUS s = ::RegOpenKeyExW(Root(root), subKey, options, sam, &key);
        if (s == ERROR_SUCCESS) *out = Wrap<win::HKEY>(key);
        return s;
    }
    win::LSTATUS RegCreateKeyExW(win::HKEY root, const wchar_t* subKey, win::DWORD options, win::DWORD sam,
                                 win::HKEY* out, win::DWORD* disposition) override {
        ::HKEY key = nullptr;
        DWORD disp = 0;
        LSTATUS s = ::RegCreateKeyExW(Root(root), subKey, 0, nullptr, options, sam, nullptr, &key, &disp);
        if (s == ERROR_SUCCESS) {
            *out = Wrap<win::HKEY>(key);
            if (disposition) *disposition = disp;
        }
        return s;
    }
    win::LSTATUS RegCloseKey(win::HKEY key) override { return ::RegCloseKey(Root(key)); }
    win::LSTATUS RegQueryValueExW(win::HKEY key, const wchar_t* name, win::DWORD* type, win::BYTE* data,
                                  win::DWORD* cbData) override {
        return ::RegQueryValueExW(Root(key), name, nullptr, reinterpret_cast<DWORD*>(type), data,
                                  reinterpret_cast<DWORD*>(cbData));
    }
    win::LSTATUS RegSetValueExW(win::HKEY key, const wchar_t* name, win::DWORD type, const win::BYTE* data,
                                win::DWORD cbData) override {
        return ::RegSetValueExW(Root(key), name, 0, type, data, cbData);
    }
    win::LSTATUS RegEnumKeyExW(win::HKEY key, win::DWORD index, wchar_t* name, win::DWORD* cchName) override {
        return ::RegEnumKeyExW(Root(key), index, name, reinterpret_cast<DWORD*>(cchName), nullptr, nullptr, nullptr,
                               nullptr);
    }
    win::LSTATUS RegEnumValueW(win::HKEY key, win::DWORD index, wchar_t* name, win::DWORD* cchName, win::DWORD* type,
                               win::BYTE* data, win::DWORD* cbData) override {
        return ::RegEnumValueW(Root(key), index, name, reinterpret_cast<DWORD*>(cchName), nullptr,
                               reinterpret_cast<DWORD*>(type), data, reinterpret_cast<DWORD*>(cbData));
    }
    win::LSTATUS RegQueryInfoKeyW(win::HKEY key, win::DWORD* subKeys, win::DWORD* maxSubKeyLen, win::DWORD* values,
                                  win::DWORD* maxValueNameLen, win::DWORD* maxValueLen) override {
        return ::RegQueryInfoKeyW(Root(key), nullptr, nullptr, nullptr, reinterpret_cast<DWORD*>(subKeys),
                                  reinterpret_cast<DWORD*>(maxSubKeyLen), nullptr, reinterpret_cast<DWORD*>(values),
                                  reinterpret_cast<DWORD*>(maxValueNameLen), reinterpret_cast<DWORD*>(maxValueLen),
                                  nullptr, nullptr);
    }
    win::LSTATUS RegDeleteValueW(win::HKEY key, const wchar_t* name) override {
        return ::RegDeleteValueW(Root(key), name);
    }
    win::LSTATUS RegDeleteTreeW(win::HKEY key, const wchar_t* subKey) override {
        return ::RegDeleteTreeW(Root(key), subKey);
    }
};

}  // namespace

win::Registry& Registry() {
    static Win32Registry instance;
    return instance;
}

}  // namespace win32
