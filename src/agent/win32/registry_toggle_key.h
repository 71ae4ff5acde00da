// AABB under the settings key, read and written through the real registry.
#pragma once

#include "toggle_agent.h"

namespace kvr {

class RegistryToggleKey : public ToggleKey {
public:
    StoredToggle Read() override;
    bool Write(std::int32_t state) override;
};

}  // namespace kvr
