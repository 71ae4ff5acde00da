// The process-wide state of the service: the records, flags and values that live as long
// as the process. Each unit groups its own state in one ProcessWide object; one call of
// ResetProcessState() rebuilds every group in place, so a test can start again from a fresh
// process. Addresses never change, so references into a group stay valid across a reset.
#pragma once

#include <new>
#include <type_traits>

namespace tavo {

class ProcessWideGroup {
public:
    ProcessWideGroup(const ProcessWideGroup&) = delete;
    ProcessWideGroup& operator=(const ProcessWideGroup&) = delete;

protected:
    ProcessWideGroup();
    ~ProcessWideGroup() = default;

private:
    friend void ResetProcessState();
    virtual void Rebuild() = 0;
    ProcessWideGroup* next_ = nullptr;
};

template <typename State>
class ProcessWide final : private ProcessWideGroup {
public:
    ProcessWide() { ::new (static_cast<void*>(&storage_)) State(); }
    ~ProcessWide() { get().~State(); }

    State& get() { return *std::launder(reinterpret_cast<State*>(&storage_)); }
    State* operator->() { return &get(); }

private:
    void Rebuild() override {
        get().~State();
        ::new (static_cast<void*>(&storage_)) State();
    }
    alignas(State) unsigned char storage_[sizeof(State)];
};

// Returns every group to its state at process start. Only while no thread of the service
// runs: tests call it between scenarios.
void ResetProcessState();

}  // namespace tavo
