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

void FaultPlan::SetHook(Hook hook) {
    std::lock_guard<std::mutex> lock(lock_);
    hook_ = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
}

win::DWORD FaultPlan::Check(std::string_view call) {
    std::shared_ptr<const Hook> hook;
    int use;
    win::DWORD ruled = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto used = uses_.find(call);
        if (used == uses_.end()) used = uses_.emplace(std::string(call), 0).first;
        use = ++used->second;
        hook = hook_;
        if (auto it = rules_.find(call); it != rules_.end()) {
            Rule& rule = it->second;
            ++rule.usesSinceSet;
            if (rule.times > 0) {
                if (rule.usesSinceSet <= rule.times) ruled = rule.error;
            } else if (rule.nth == 0 || rule.usesSinceSet == rule.nth) {
                ruled = rule.error;
            }
        }
    }
    // Outside the lock: the hook may act on the machine (unplug a device, read the registry).
    if (hook)
        if (const win::DWORD e = (*hook)(call, use)) return e;
    return ruled;
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
    closed_.insert(handle);
    return true;
}

void HandleTable::UsedAfterClose(std::uint64_t handle) {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.contains(handle)) ++closedUses_;
}

int HandleTable::ClosedUses() const {
    std::lock_guard<std::mutex> lock(lock_);
    return closedUses_;
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

std::map<std::string, int> HandleTable::OpenByKind() const {
    std::lock_guard<std::mutex> lock(lock_);
    std::map<std::string, int> out;
    for (const auto& [h, k] : open_) ++out[k];
    return out;
}

}  // namespace sim
