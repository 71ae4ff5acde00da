#include "toggle_agent.h"

namespace kvr {

bool ToggleAgent::OnMouseRecord(const MouseRecord& record) {
    if (!IsToggleReport(record)) return false;
    state_ = FlipToggleState(state_);
    key_.Write(state_);
    return true;
}

std::uint8_t* RecordBuffer::Reserve(std::size_t size) {
    if (size > bytes_.size()) {
        bytes_.assign(size, 0);
        ++allocations_;
    }
    return bytes_.data();
}

}  // namespace kvr
