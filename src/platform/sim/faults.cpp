#include "platform/sim/faults.h"

namespace sim {

void FaultPlan::Fail(const std::string& call, win::DWORD error, int nth) {
    std::lock_guard<std::mutex> lock(lock_);
    rules_[call] = Rule{error, nth, 0};
}

void FaultPlan::FailNext(const std::string& call, win::DWORD error, int times) {
    std::lock_guard<std::mutex> lock(lock_);
    rules_[call] = Rule{error, 0, 0, times};
}

void FaultPlan::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    rules_.clear();
}

win::DWORD FaultPlan::Check(const std::string& call) {
    std::lock_guard<std::mutex> lock(lock_);
    ++uses_[call];
    auto it = rules_.find(call);
    if (it == rules_.end()) return 0;
    Rule& rule = it->second;
    ++rule.usesSinceSet;
    if (rule.times > 0) return rule.usesSinceSet <= rule.times ? rule.error : 0;
    if (rule.nth == 0 || rule.usesSinceSet == rule.nth) return rule.error;
    return 0;
}

int FaultPlan::Uses(const std::string& call) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = uses_.find(call);
    return it == uses_.end() ? 0 : it->second;
}

std::uint64_t HandleTable::Open(const std::string& kind) {
    std::lock_guard<std::mutex> lock(lock_);
    std::uint64_t h = next_;
    next_ += 4;
    open_[h] = kind;
    return h;
}

bool HandleTable::Close(std::uint64_t handle, const std::string& kind) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(handle);
    if (it == open_.end() || it->second != kind) return false;
    open_.erase(it);
    return true;
}

bool HandleTable::IsOpen(std::uint64_t handle, const std::string& kind) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(handle);
    return it != open_.end() && it->second == kind;
}

int HandleTable::OpenCount(const std::string& kind) const {
    std::lock_guard<std::mutex> lock(lock_);
    int n = 0;
    for (const auto& [h, k] : open_)
        if (k == kind) ++n;
    return n;
}

int HandleTable::OpenCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(open_.size());
}

}  // namespace sim
