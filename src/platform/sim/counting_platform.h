// Counts every call that crosses the seam, by facet and function, and passes each one on
// unchanged to the platform it stands in front of. Benchmarks and tests use it to see how
// many round trips to Windows an operation makes; nothing is counted that the core does
// not ask of the platform itself.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace sim {

// (facet, function): "Registry", "RegOpenKeyExW". Facets are named after their interface,
// so a CloseHandle of the HID facet and one of the sessions facet stay apart.
using CallKey = std::pair<std::string, std::string>;
using CallTable = std::map<CallKey, long>;

class CallCounts {
public:
    void Add(const char* facet, const char* function);
    CallTable Table() const;
    long Of(const std::string& facet, const std::string& function) const;
    long Total() const;
    void Clear();

private:
    mutable std::mutex lock_;
    CallTable calls_;
};

class CountingPlatform {
public:
    // Wraps the platform installed now.
    CountingPlatform();
    // Puts the wrapped platform back if this one is still installed.
    ~CountingPlatform();
    CountingPlatform(const CountingPlatform&) = delete;
    CountingPlatform& operator=(const CountingPlatform&) = delete;

    // Makes the counting platform the process's platform. Not thread-safe, as SetPlatform.
    void Install();
    void Uninstall();

    CallCounts& Counts() { return counts_; }

private:
    struct Facets;
    CallCounts counts_;
    win::Platform inner_;
    std::unique_ptr<Facets> facets_;
    win::Platform counting_;
    bool installed_ = false;
};

}  // namespace sim
