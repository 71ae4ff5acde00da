// Registry and session helpers shared by every part of the service that reads or writes
// settings: below both the device probes and the settings store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace tavo {

// Buffer sizes in wide characters, terminator included.
inline constexpr std::size_t kUserNameChars = 512;
inline constexpr std::size_t kSettingsPathChars = 512;
// Subkey names are enumerated through a buffer of this size, so a name of 255 characters
// (the registry's own limit) does not fit and leaves its slot empty.
inline constexpr std::size_t kSubKeyNameChars = 255;
inline constexpr std::size_t kMaxEnumeratedNames = 1024;
// String values are read through 1024 bytes of UTF-16: 511 characters and a terminator.
inline constexpr std::size_t kRegistryStringChars = 512;

// Access with which the settings keys are opened (and created): KEY_READ | KEY_WRITE.
inline constexpr win::DWORD kSettingsKeyAccess = 0x2001F;

// The value's data when it exists, is REG_DWORD and is exactly 4 bytes long; else -1.
std::int32_t ReadRegistryDword(win::HKEY key, const wchar_t* name);

// The text of a REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ (its first string)
// value up to the first terminator; the empty string for any other type, an empty value,
// a failed query or a value larger than the read buffer.
std::wstring ReadRegistryString(win::HKEY key, const wchar_t* name);

// The console user's plain account name into userName (terminated), returning 1; or 0 when
// there is no console session, the session cannot be queried, or the name does not fit the
// buffer (a cut name would name someone else). On 0 the buffer holds the empty string.
// A console session without a user gives an empty name and 1.
int GetCurrectUserName(std::span<wchar_t> userName);

// Replaces subKeyNames with the key's subkey names in enumeration order, at most 1024.
// A name that cannot be enumerated (including one too long for the name buffer) leaves an
// empty slot. Logs the subkeys and the value names; returns the number of slots.
int EnumerateSubKeys(win::HKEY key, std::vector<std::wstring>* subKeyNames);

// Writes one REG_DWORD in force and under the interactive user's subkey. Callers do not
// examine the result; it is false in every case.
bool ChangeValueInRegistry(const wchar_t* valueName, std::int32_t value);

}  // namespace tavo
