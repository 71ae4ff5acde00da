// A model of the kernel's events and waits. Events, named or not, and the folder change
// notifications of SimFiles are waitable objects here; a handle refers to one object, and a
// named object lives as long as a handle to it.
//
// Waits never pass real time. A wait that can be satisfied returns at once. One that cannot:
// on a cooperative item it parks the item (see SimThreads) until what it waits for is
// signalled; on the thread in control it first lets parked items run, and when nothing can
// satisfy it, a finite wait times out and an infinite one throws std::logic_error (a
// scenario that would hang). On real threads waits block for real. The scenario can also
// make the next waits time out, or fail them through the FaultPlan ("WaitForSingleObject",
// "WaitForMultipleObjects"). Every wait is counted, and a run of more waits than any
// scenario needs is stopped with std::logic_error, so a loop that waits without end fails
// the test instead of hanging it.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/sim/sim_threads.h"
#include "platform/sync.h"

namespace sim {

class SimSync : public win::Synchronization {
public:
    struct Waitable;  // an object; other facets hold references to signal it
    using Ref = std::shared_ptr<Waitable>;

    // threads is only used once a wait runs, so it may be built after this.
    SimSync(FaultPlan& faults, HandleTable& handles, SimThreads& threads);

    win::DWORD CreateEventW(const win::SECURITY_DESCRIPTOR* descriptor, bool manualReset, bool initialState,
                            const wchar_t* name, win::HANDLE* out, bool* existed) override;
    win::DWORD OpenEventW(win::DWORD access, const wchar_t* name, win::HANDLE* out) override;
    win::DWORD SetEvent(win::HANDLE event) override;
    win::DWORD ResetEvent(win::HANDLE event) override;
    win::DWORD CloseHandle(win::HANDLE event) override;
    win::DWORD WaitForSingleObject(win::HANDLE handle, win::DWORD milliseconds, win::DWORD* error) override;
    win::DWORD WaitForMultipleObjects(win::DWORD count, const win::HANDLE* handles, bool waitAll,
                                      win::DWORD milliseconds, win::DWORD* error) override;

    // ---- for the other simulated facets ----
    // A new object of that handle kind, not signalled, with one handle.
    win::HANDLE NewWaitable(const std::string& kind, bool manualReset);
    bool CloseWaitable(win::HANDLE handle, const std::string& kind);
    // The object behind an open handle of that kind; none otherwise.
    Ref Reference(win::HANDLE handle, const std::string& kind) const;
    void Signal(const Ref& object);
    bool IsSignalled(const Ref& object) const;
    bool Reset(win::HANDLE handle, const std::string& kind);
    // Wakes the real threads blocked in waits, to look at the pool's state again.
    void WakeAll();

    // ---- scenario set-up and inspection ----
    // The next n waits time out whatever is signalled.
    void TimeOutNextWaits(int n);
    // Calls of either wait so far.
    int Waits() const;
    // Whether the handle's object is signalled; none for a handle that is not open.
    std::optional<bool> IsSignalled(win::HANDLE handle) const;
    // Objects with this name ("Global\\" and "Local\\" name the service's one namespace).
    bool NameExists(const std::wstring& name) const;
    // The most waits a scenario may make before a loop is taken to be endless.
    static constexpr int kWaitLimit = 100000;

private:
    win::DWORD Wait(const char* call, win::DWORD count, const win::HANDLE* handles, bool waitAll,
                    win::DWORD milliseconds, win::DWORD* error);
    // Under lock_: the index that satisfies the wait (taking auto-reset events), -1 when
    // none does, -2 when a handle is not open.
    int TryTake(const std::vector<win::HANDLE>& handles, bool waitAll);
    bool CanComplete(const std::vector<win::HANDLE>& handles, bool waitAll) const;
    win::HANDLE AddHandle(const Ref& object, const std::string& kind, win::DWORD access);

    FaultPlan& faults_;
    HandleTable& handles_;
    SimThreads& threads_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    struct Open {
        Ref object;
        win::DWORD access;
    };
    std::map<std::uint64_t, Open> open_;
    std::map<std::wstring, std::weak_ptr<Waitable>> names_;
    int waits_ = 0;
    int timeOuts_ = 0;
};

}  // namespace sim
