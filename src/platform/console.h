// Console facet: the program's standard output.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace win {

class Console {
public:
    virtual ~Console() = default;
    // Writes the text as it stands; "\n" is the line end the caller chose.
    virtual void Write(std::wstring_view text) = 0;
};

inline Console& Con() { return *P().console; }

}  // namespace win
