// The one case-insensitive compare of names (option words, program names).
#pragma once

#include <cwctype>

namespace tavo {

// As _wcsicmp tells equal from unequal, letter by letter in the C locale.
inline bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
    return *a == *b;
}

}  // namespace tavo
