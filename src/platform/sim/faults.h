// Fault injection and handle accounting shared by every simulated facet.
#pragma once

#include <map>
#include <mutex>
#include <string>

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
    win::DWORD Check(const std::string& call);
    int Uses(const std::string& call) const;

private:
    struct Rule {
        win::DWORD error;
        int nth;
        int usesSinceSet;
        int times = 0;  // FailNext: this many uses from now on
    };
    mutable std::mutex lock_;
    std::map<std::string, Rule> rules_;
    std::map<std::string, int> uses_;
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

private:
    mutable std::mutex lock_;
    std::uint64_t next_ = 0x1000;
    std::map<std::uint64_t, std::string> open_;
};

}  // namespace sim
