// Fault injection and handle accounting shared by every simulated facet.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

namespace sim {

// Makes any seam call fail with a chosen Windows error, always or only at its n-th use.
class FaultPlan {
public:
    // nth == 0: every use fails; nth == k: only the k-th use from now on fails.
    void Fail(const std::string& call, win::DWORD error, int nth = 0);
    // The next `times` uses fail, the later ones do not.
    void FailNext(const std::string& call, win::DWORD error, int times);
    void Clear();
    // Called by each simulated facet on entry; returns the error to fail with, or 0.
    win::DWORD Check(std::string_view call);
    int Uses(const std::string& call) const;

    // Sees every call as it is made, on the calling thread and before the call acts, with
    // its use count (1: the first use since the machine was built); a non-zero result fails
    // the call with that error, ahead of the rules above. Set it before any thread runs.
    using Hook = std::function<win::DWORD(std::string_view call, int use)>;
    void SetHook(Hook hook);

private:
    struct Rule {
        win::DWORD error;
        int nth;
        int usesSinceSet;
        int times = 0;  // FailNext: this many uses from now on
    };
    mutable std::mutex lock_;
    // Looked up by the caller's literal without building a string: Check runs on every call.
    std::map<std::string, Rule, std::less<>> rules_;
    std::map<std::string, int, std::less<>> uses_;
    std::shared_ptr<const Hook> hook_;
};

// Counts what is open, per kind, so tests can check that every path releases.
class HandleTable {
public:
    std::uint64_t Open(const std::string& kind);
    // Returns false for a handle that is not open (a double close or a foreign value).
    bool Close(std::uint64_t handle, const std::string& kind);
    bool IsOpen(std::uint64_t handle, const std::string& kind) const;
    int OpenCount(const std::string& kind) const;
    int OpenCount() const;
    // How many are open of each kind that has any open.
    std::map<std::string, int> OpenByKind() const;
    // A facet was handed a handle that was open once and is closed now. Windows hands such a
    // value out again for a new object, so the use would have reached some other object; here
    // it is counted, so that a test can fail on it.
    void UsedAfterClose(std::uint64_t handle);
    int ClosedUses() const;

private:
    mutable std::mutex lock_;
    std::uint64_t next_ = 0x1000;
    std::map<std::uint64_t, std::string> open_;
    std::set<std::uint64_t> closed_;
    int closedUses_ = 0;
};

}  // namespace sim
