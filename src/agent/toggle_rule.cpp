#include "toggle_rule.h"

namespace kvr {

bool IsToggleReport(const MouseRecord& r) {
    return r.type == kRimTypeMouse && r.lastX == 0 && r.lastY == 0 && r.buttonFlags == 0 &&
           r.buttonData == 0 && r.flags == 0 && r.extraInformation == 0 && r.rawButtons == 0;
}

std::int32_t FlipToggleState(std::int32_t old) {
    // Unsigned, so that the lowest value wraps instead of overflowing.
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(old) - 1u) & 1u);
}

std::int32_t InitialToggleState(const StoredToggle& stored) {
    if (!stored.keyOpened) return 0;
    if (!stored.queried || stored.type != kRegDword) return -1;
    return stored.value;
}

}  // namespace kvr
