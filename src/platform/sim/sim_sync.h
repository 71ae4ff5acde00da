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
//
// Named events carry an owner and a DACL, which SetNamedSecurityInfoW changes after the
// access check Windows makes for the caller, the service running as LocalSystem. The opens
// (OpenEventW, CreateEventW of an existing name) do not check the DACL in this model.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/sim/sim_security.h"
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
    win::DWORD SetNamedSecurityInfoW(const wchar_t* name, win::DWORD securityInfo, win::PSID owner,
                                     win::PACL dacl) override;

    // The machine hands over how SIDs and ACLs read, and whether the service's token has
    // SeTakeOwnershipPrivilege enabled, before anything runs.
    void AttachSecurity(SimSecurity* security, std::function<bool()> takeOwnershipEnabled);

    // A kernel object's owner ("S-1-...") and DACL; no DACL entries is an empty DACL, none
    // at all a null DACL (everyone may do anything).
    struct ObjectSecurity {
        std::wstring owner;
        std::optional<std::vector<win::AceEntry>> dacl;
    };
    // The security of the named object; none when no object has the name.
    std::optional<ObjectSecurity> SecurityOf(const std::wstring& name) const;
    // Stages an object that another account made; false when no object has the name.
    bool SetSecurityOf(const std::wstring& name, ObjectSecurity security);
    // What an event created with default security gets: the service's account owns it.
    static ObjectSecurity DefaultSecurity();

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
    SimSecurity* security_ = nullptr;
    std::function<bool()> takeOwnershipEnabled_;
};

}  // namespace sim
