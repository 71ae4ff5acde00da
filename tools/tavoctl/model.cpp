#include "model.h"

namespace tavoctl {

const char* PalmLevelWord(std::int32_t level) {
    switch (level) {
        case 0: return "minimal";
        case 1: return "low";
        case 2: return "medium";
        case 3: return "high";
        case 4: return "custom";
        case 5: return "dynamic";
        default: return nullptr;
    }
}

std::optional<std::size_t> ForcepadFieldIndex(std::string_view name) {
    for (std::size_t i = 0; i < kForcepadFields.size(); ++i) {
        if (kForcepadFields[i].name == name) return i;
    }
    return std::nullopt;
}

}  // namespace tavoctl
