// The toggle flag AABB under the settings key: written by the input agent on every
// toggle report, watched by the service, which re-applies the settings on each change.
#pragma once

#include <cstdint>

namespace tavo {

// The stored AABB: 0 when the settings key cannot be opened; -1 when the value is missing,
// unreadable, longer than 4 bytes or not a REG_DWORD.
std::int32_t RegRead_AABB();

}  // namespace tavo
