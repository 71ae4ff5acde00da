// How the registry behaves, pinned down once and checked against both backends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "contract/contract_platform.h"
#include "platform/handles.h"
#include "platform/registry.h"

namespace {

using namespace win;

constexpr wchar_t kRoot[] = L"Software\\TavoContractTest";

class RegistryContract : public ::testing::Test {
protected:
    void SetUp() override {
        contract::InstallPlatform();
        Reg().RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_ALL_ACCESS, root.put(), nullptr), 0);
    }
    void TearDown() override {
        root.reset();
        Reg().RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        contract::UninstallPlatform();
    }
    void SetDword(HKEY key, const wchar_t* name, DWORD v) {
        ASSERT_EQ(Reg().RegSetValueExW(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), 0);
    }
    void SetString(HKEY key, const wchar_t* name, const std::wstring& s) {
        ASSERT_EQ(Reg().RegSetValueExW(key, name, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                                       static_cast<DWORD>((s.size() + 1) * sizeof(wchar_t))),
                  0);
    }
    UniqueHKey root;
};

TEST_F(RegistryContract, CreateOpensOrCreatesWithDispositionAndMakesIntermediateKeys) {
    UniqueHKey a, b, c;
    DWORD disposition = 99;
    ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), L"One\\Two", 0, KEY_ALL_ACCESS, a.put(), &disposition), 0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    disposition = 99;
    ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), L"one\\TWO", 0, KEY_READ, b.put(), &disposition), 0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(Reg().RegOpenKeyExW(root.get(), L"One", 0, KEY_READ, c.put()), 0);
    HKEY untouched = static_cast<HKEY>(0x1234);
    EXPECT_EQ(Reg().RegOpenKeyExW(root.get(), L"Missing", 0, KEY_READ, &untouched), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(untouched, static_cast<HKEY>(0x1234)) << "a failed open leaves its output alone";
}

TEST_F(RegistryContract, DwordQueriesReportSizeTypeAndShortBuffers) {
    SetDword(root.get(), L"AABB", 1);
    DWORD type = 0, size = 0;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"AABB", &type, nullptr, &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    DWORD value = 0xDEADBEEF;
    size = 4;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"aabb", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(value, 1u);
    BYTE small[3] = {7, 7, 7};
    size = 3;
    EXPECT_EQ(Reg().RegQueryValueExW(root.get(), L"AABB", &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    size = 4;
    EXPECT_EQ(Reg().RegQueryValueExW(root.get(), L"Nope", &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, OtherTypesComeBackWithTheirOwnTypeAndSize) {
    SetString(root.get(), L"Name", L"touchpad");
    std::uint64_t q = 0x0102030405060708ull;
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Q", REG_QWORD, reinterpret_cast<const BYTE*>(&q), 8), 0);

    DWORD type = 0, size = 4, value = 0;
    EXPECT_EQ(Reg().RegQueryValueExW(root.get(), L"Q", &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_EQ(size, 8u);

    wchar_t text[64] = {};
    size = sizeof text;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Name", &type, reinterpret_cast<BYTE*>(text), &size), 0);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 9 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(text), L"touchpad");
    // A DWORD-sized query of a string is a short buffer, not a number.
    size = 4;
    EXPECT_EQ(Reg().RegQueryValueExW(root.get(), L"Name", &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_MORE_DATA);
}

TEST_F(RegistryContract, OverwriteChangesTypeAndData) {
    SetString(root.get(), L"AABB", L"text");
    SetDword(root.get(), L"AABB", 0);
    DWORD type = 0, value = 9, size = 4;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"AABB", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 0u);
    DWORD values = 0;
    ASSERT_EQ(Reg().RegQueryInfoKeyW(root.get(), nullptr, nullptr, &values, nullptr, nullptr), 0);
    EXPECT_EQ(values, 1u);
}

TEST_F(RegistryContract, SubkeysEnumerateInNameOrderIgnoringCase) {
    for (const wchar_t* name : {L"bravo", L"Alpha", L"charlie_long_name"}) {
        UniqueHKey k;
        ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), name, 0, KEY_ALL_ACCESS, k.put(), nullptr), 0);
    }
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        LSTATUS s = Reg().RegEnumKeyExW(root.get(), i, name, &len);
        if (s == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(s, 0);
        EXPECT_EQ(len, std::wcslen(name));
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"bravo", L"charlie_long_name"}));
    wchar_t tiny[4];
    DWORD len = 4;
    EXPECT_EQ(Reg().RegEnumKeyExW(root.get(), 2, tiny, &len), ERROR_MORE_DATA);

    DWORD subKeys = 0, maxSubKeyLen = 0;
    ASSERT_EQ(Reg().RegQueryInfoKeyW(root.get(), &subKeys, &maxSubKeyLen, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(subKeys, 3u);
    EXPECT_EQ(maxSubKeyLen, 17u);
}

TEST_F(RegistryContract, ValueEnumerationGivesNameTypeAndData) {
    SetDword(root.get(), L"Function_CustomPalmRejection", 1);
    wchar_t name[64];
    DWORD nameLen = 64, type = 0, value = 0, size = 4;
    ASSERT_EQ(Reg().RegEnumValueW(root.get(), 0, name, &nameLen, &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(std::wstring(name), L"Function_CustomPalmRejection");
    EXPECT_EQ(nameLen, 28u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 1u);
    nameLen = 5;
    size = 4;
    EXPECT_EQ(Reg().RegEnumValueW(root.get(), 0, name, &nameLen, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_MORE_DATA);
    nameLen = 64;
    EXPECT_EQ(Reg().RegEnumValueW(root.get(), 1, name, &nameLen, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    DWORD maxName = 0, maxData = 0;
    ASSERT_EQ(Reg().RegQueryInfoKeyW(root.get(), nullptr, nullptr, nullptr, &maxName, &maxData), 0);
    EXPECT_EQ(maxName, 28u);
    EXPECT_EQ(maxData, 4u);
}

TEST_F(RegistryContract, ReadOnlyHandlesRefuseWrites) {
    UniqueHKey readOnly;
    ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, readOnly.put()), 0);
    DWORD v = 1;
    EXPECT_EQ(Reg().RegSetValueExW(readOnly.get(), L"x", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
              ERROR_ACCESS_DENIED);
    UniqueHKey writeOnly;
    ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_SET_VALUE, writeOnly.put()), 0);
    EXPECT_EQ(Reg().RegSetValueExW(writeOnly.get(), L"x", REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), 0);
    DWORD size = 4;
    EXPECT_EQ(Reg().RegQueryValueExW(writeOnly.get(), L"x", nullptr, reinterpret_cast<BYTE*>(&v), &size),
              ERROR_ACCESS_DENIED);
}

TEST_F(RegistryContract, DeletingValuesAndTrees) {
    {
        UniqueHKey sub;
        ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), L"User\\Deep", 0, KEY_ALL_ACCESS, sub.put(), nullptr), 0);
        SetDword(sub.get(), L"v", 3);
    }
    SetDword(root.get(), L"gone", 1);
    EXPECT_EQ(Reg().RegDeleteValueW(root.get(), L"gone"), 0);
    EXPECT_EQ(Reg().RegDeleteValueW(root.get(), L"gone"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Reg().RegDeleteTreeW(root.get(), L"User"), 0);
    UniqueHKey k;
    EXPECT_EQ(Reg().RegOpenKeyExW(root.get(), L"User\\Deep", 0, KEY_READ, k.put()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Reg().RegDeleteTreeW(root.get(), L"User"), ERROR_FILE_NOT_FOUND);
}

}  // namespace

// ---- what the settings store relies on ----------------------------------------------------

namespace {

using namespace win;

class RegistryStoreContract : public RegistryContract {};

TEST_F(RegistryStoreContract, TrailingSeparatorNamesTheKeyItself) {
    {
        UniqueHKey parent;
        ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), L"Parent", 0, KEY_ALL_ACCESS, parent.put(), nullptr), 0);
        SetDword(parent.get(), L"InForce", 5);
    }
    // A user path built from an empty name ends in the separator: it reaches the parent.
    UniqueHKey key;
    DWORD disposition = 99;
    ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), L"Parent\\", 0, KEY_READ | KEY_WRITE, key.put(), &disposition), 0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD value = 0, size = 4, type = 0;
    ASSERT_EQ(Reg().RegQueryValueExW(key.get(), L"InForce", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(value, 5u);
    DWORD subKeys = 99;
    UniqueHKey parent;
    ASSERT_EQ(Reg().RegOpenKeyExW(root.get(), L"Parent", 0, KEY_READ, parent.put()), 0);
    ASSERT_EQ(Reg().RegQueryInfoKeyW(parent.get(), &subKeys, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(subKeys, 0u) << "no empty-named subkey is made";
}

TEST_F(RegistryStoreContract, KeyNamesAreLimitedTo255Characters) {
    UniqueHKey k;
    std::wstring longest(255, L'n');
    ASSERT_EQ(Reg().RegCreateKeyExW(root.get(), longest.c_str(), 0, KEY_ALL_ACCESS, k.put(), nullptr), 0);
    k.reset();
    std::wstring tooLong(300, L'n');
    HKEY untouched = static_cast<HKEY>(0x1234);
    EXPECT_EQ(Reg().RegCreateKeyExW(root.get(), tooLong.c_str(), 0, KEY_ALL_ACCESS, &untouched, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(untouched, static_cast<HKEY>(0x1234));
    // The longest name does not fit a 255-character enumeration buffer (terminator included).
    wchar_t name[255];
    DWORD len = 255;
    EXPECT_EQ(Reg().RegEnumKeyExW(root.get(), 0, name, &len), ERROR_MORE_DATA);
    wchar_t roomy[256];
    len = 256;
    ASSERT_EQ(Reg().RegEnumKeyExW(root.get(), 0, roomy, &len), 0);
    EXPECT_EQ(len, 255u);
}

TEST_F(RegistryStoreContract, DwordSizedQueriesReportTheStoredTypeAndSize) {
    // Data is stored as given, whatever the type claims: a short REG_DWORD stays short.
    DWORD two = 0x0102;
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Short", REG_DWORD, reinterpret_cast<const BYTE*>(&two), 2), 0);
    DWORD four = 7;
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Bin", REG_BINARY, reinterpret_cast<const BYTE*>(&four), 4), 0);

    DWORD type = 0, size = 4, value = 0xAAAAAAAA;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Short", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 2u);
    type = 0;
    size = 4;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Bin", &type, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 7u);
}

TEST_F(RegistryStoreContract, StringQueriesReturnTheStoredBytesUnexpanded) {
    // Three characters stored without their terminator. (The fourth is not NUL: Windows
    // counts a NUL that directly follows the given size as the forgotten terminator.)
    const std::wstring unterminated = L"abcX";
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Raw", REG_SZ, reinterpret_cast<const BYTE*>(unterminated.data()),
                                   static_cast<DWORD>(3 * sizeof(wchar_t))),
              0);
    const std::wstring expand = L"%SystemRoot%\\x";
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Exp", REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand.c_str()),
                                   static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t))),
              0);
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Empty", REG_SZ, nullptr, 0), 0);

    wchar_t text[64];
    std::fill(std::begin(text), std::end(text), L'#');
    DWORD type = 0, size = sizeof text;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Raw", &type, reinterpret_cast<BYTE*>(text), &size), 0);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 3 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(text, 3), L"abc");

    size = sizeof text;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Exp", &type, reinterpret_cast<BYTE*>(text), &size), 0);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(std::wstring(text), expand);

    size = sizeof text;
    ASSERT_EQ(Reg().RegQueryValueExW(root.get(), L"Empty", &type, reinterpret_cast<BYTE*>(text), &size), 0);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 0u);

    // A string larger than the buffer is a short buffer, with the size it needs.
    const std::wstring big(600, L'x');
    ASSERT_EQ(Reg().RegSetValueExW(root.get(), L"Big", REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()),
                                   static_cast<DWORD>((big.size() + 1) * sizeof(wchar_t))),
              0);
    size = sizeof text;
    EXPECT_EQ(Reg().RegQueryValueExW(root.get(), L"Big", &type, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 601 * sizeof(wchar_t));
}

}  // namespace
