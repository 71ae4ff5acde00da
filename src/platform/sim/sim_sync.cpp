#include "platform/sim/sim_sync.h"

#include <chrono>
#include <cwctype>
#include <stdexcept>

#include "platform/processes.h"

namespace sim {

struct SimSync::Waitable {
    std::string kind;
    bool manualReset = true;
    bool signalled = false;
    std::wstring name;  // folded; empty when unnamed
    SimSync::ObjectSecurity security = SimSync::DefaultSecurity();
};

namespace {

// The service runs in session 0, where the global and the local namespace are one.
std::wstring FoldName(std::wstring_view name) {
    for (std::wstring_view prefix : {std::wstring_view(L"Global\\"), std::wstring_view(L"Local\\")}) {
        if (name.size() >= prefix.size()) {
            bool same = true;
            for (std::size_t i = 0; i < prefix.size() && same; ++i)
                same = std::towlower(static_cast<wint_t>(name[i])) == std::towlower(static_cast<wint_t>(prefix[i]));
            if (same) {
                name.remove_prefix(prefix.size());
                break;
            }
        }
    }
    std::wstring out(name);
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

constexpr char kEvent[] = "Event";

constexpr wchar_t kLocalSystem[] = L"S-1-5-18";
// The groups of the service's LocalSystem token as the model counts them. BUILTIN\Users is
// among them (by Authenticated Users), so an object handed to Users keeps the owner's
// implicit WRITE_DAC for the service; unverified against Windows.
bool InCallerGroups(const std::wstring& sid) {
    for (const wchar_t* g : {kLocalSystem, L"S-1-1-0", L"S-1-5-32-544", L"S-1-5-11", L"S-1-5-32-545"})
        if (sid == g) return true;
    return false;
}

constexpr win::DWORD kGenericAll = 0x10000000;
constexpr win::BYTE kAccessDeniedAce = 1;

}  // namespace

SimSync::SimSync(FaultPlan& faults, HandleTable& handles, SimThreads& threads)
    : faults_(faults), handles_(handles), threads_(threads) {}

void SimSync::WakeAll() {
    std::lock_guard<std::mutex> lock(lock_);
    changed_.notify_all();
}

win::HANDLE SimSync::AddHandle(const Ref& object, const std::string& kind, win::DWORD access) {
    const std::uint64_t h = handles_.Open(kind);
    open_[h] = Open{object, access};
    return static_cast<win::HANDLE>(h);
}

SimSync::ObjectSecurity SimSync::DefaultSecurity() {
    return {kLocalSystem,
            std::vector<win::AceEntry>{{kLocalSystem, win::EVENT_ALL_ACCESS, 0, 0},
                                       {L"S-1-5-32-544", win::EVENT_ALL_ACCESS, 0, 0}}};
}

void SimSync::AttachSecurity(SimSecurity* security, std::function<bool()> takeOwnershipEnabled) {
    security_ = security;
    takeOwnershipEnabled_ = std::move(takeOwnershipEnabled);
}

win::DWORD SimSync::CreateEventW(const win::SECURITY_DESCRIPTOR* descriptor, bool manualReset, bool initialState,
                                 const wchar_t* name, win::HANDLE* out, bool* existed) {
    if (auto e = faults_.Check("CreateEventW")) return e;
    if (out == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    const std::wstring folded = name ? FoldName(name) : std::wstring();
    if (!folded.empty()) {
        if (auto it = names_.find(folded); it != names_.end()) {
            if (Ref object = it->second.lock()) {
                *out = AddHandle(object, kEvent, win::EVENT_ALL_ACCESS);
                if (existed) *existed = true;
                return win::ERROR_SUCCESS;
            }
        }
    }
    auto object = std::make_shared<Waitable>();
    object->kind = kEvent;
    object->manualReset = manualReset;
    object->signalled = initialState;
    object->name = folded;
    if (descriptor != nullptr) {
        const auto d = SimSecurity::ReadDescriptor(*descriptor);
        if (d.daclPresent) {
            object->security.dacl.reset();
            if (d.dacl != win::PACL{}) {
                std::vector<win::AceEntry> entries;
                if (!security_ || security_->GetAclEntries(d.dacl, &entries) != win::ERROR_SUCCESS)
                    return win::ERROR_INVALID_PARAMETER;
                object->security.dacl = std::move(entries);
            }
        }
    }
    if (!folded.empty()) names_[folded] = object;
    *out = AddHandle(object, kEvent, win::EVENT_ALL_ACCESS);
    if (existed) *existed = false;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSync::OpenEventW(win::DWORD access, const wchar_t* name, win::HANDLE* out) {
    if (auto e = faults_.Check("OpenEventW")) return e;
    if (out == nullptr || name == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = names_.find(FoldName(name));
    Ref object = it == names_.end() ? nullptr : it->second.lock();
    if (!object) return win::ERROR_FILE_NOT_FOUND;
    *out = AddHandle(object, kEvent, access);
    return win::ERROR_SUCCESS;
}

win::DWORD SimSync::SetEvent(win::HANDLE event) {
    if (auto e = faults_.Check("SetEvent")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(event));
    if (it == open_.end()) handles_.UsedAfterClose(static_cast<std::uint64_t>(event));
    if (it == open_.end() || it->second.object->kind != kEvent) return win::ERROR_INVALID_HANDLE;
    if (!(it->second.access & win::EVENT_MODIFY_STATE)) return win::ERROR_ACCESS_DENIED;
    it->second.object->signalled = true;
    changed_.notify_all();
    return win::ERROR_SUCCESS;
}

win::DWORD SimSync::ResetEvent(win::HANDLE event) {
    if (auto e = faults_.Check("ResetEvent")) return e;
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(event));
    if (it == open_.end()) handles_.UsedAfterClose(static_cast<std::uint64_t>(event));
    if (it == open_.end() || it->second.object->kind != kEvent) return win::ERROR_INVALID_HANDLE;
    if (!(it->second.access & win::EVENT_MODIFY_STATE)) return win::ERROR_ACCESS_DENIED;
    it->second.object->signalled = false;
    return win::ERROR_SUCCESS;
}

win::DWORD SimSync::CloseHandle(win::HANDLE event) {
    return CloseWaitable(event, kEvent) ? win::ERROR_SUCCESS : win::ERROR_INVALID_HANDLE;
}

bool SimSync::CloseWaitable(win::HANDLE handle, const std::string& kind) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto h = static_cast<std::uint64_t>(handle);
    auto it = open_.find(h);
    if (it == open_.end()) handles_.UsedAfterClose(h);
    if (it == open_.end() || it->second.object->kind != kind) return false;
    open_.erase(it);
    handles_.Close(h, kind);
    // A wait on the handle now fails rather than waiting on.
    changed_.notify_all();
    return true;
}

win::HANDLE SimSync::NewWaitable(const std::string& kind, bool manualReset) {
    std::lock_guard<std::mutex> lock(lock_);
    auto object = std::make_shared<Waitable>();
    object->kind = kind;
    object->manualReset = manualReset;
    return AddHandle(object, kind, win::SYNCHRONIZE);
}

SimSync::Ref SimSync::Reference(win::HANDLE handle, const std::string& kind) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(handle));
    if (it == open_.end() || it->second.object->kind != kind) return nullptr;
    return it->second.object;
}

void SimSync::Signal(const Ref& object) {
    if (!object) return;
    std::lock_guard<std::mutex> lock(lock_);
    object->signalled = true;
    changed_.notify_all();
}

bool SimSync::IsSignalled(const Ref& object) const {
    std::lock_guard<std::mutex> lock(lock_);
    return object && object->signalled;
}

bool SimSync::Reset(win::HANDLE handle, const std::string& kind) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(handle));
    if (it == open_.end() || it->second.object->kind != kind) return false;
    it->second.object->signalled = false;
    return true;
}

int SimSync::TryTake(const std::vector<win::HANDLE>& handles, bool waitAll) {
    std::vector<Waitable*> objects;
    for (win::HANDLE h : handles) {
        auto it = open_.find(static_cast<std::uint64_t>(h));
        if (it == open_.end()) {
            handles_.UsedAfterClose(static_cast<std::uint64_t>(h));
            return -2;
        }
        objects.push_back(it->second.object.get());
    }
    auto take = [](Waitable* o) {
        if (o->kind == kEvent && !o->manualReset) o->signalled = false;
    };
    if (waitAll) {
        for (Waitable* o : objects)
            if (!o->signalled) return -1;
        for (Waitable* o : objects) take(o);
        return 0;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->signalled) {
            take(objects[i]);
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SimSync::CanComplete(const std::vector<win::HANDLE>& handles, bool waitAll) const {
    bool all = true;
    for (win::HANDLE h : handles) {
        auto it = open_.find(static_cast<std::uint64_t>(h));
        if (it == open_.end()) return true;  // it completes by failing
        if (it->second.object->signalled) {
            if (!waitAll) return true;
        } else {
            all = false;
        }
    }
    return waitAll && all;
}

win::DWORD SimSync::WaitForSingleObject(win::HANDLE handle, win::DWORD milliseconds, win::DWORD* error) {
    return Wait("WaitForSingleObject", 1, &handle, false, milliseconds, error);
}

win::DWORD SimSync::WaitForMultipleObjects(win::DWORD count, const win::HANDLE* handles, bool waitAll,
                                           win::DWORD milliseconds, win::DWORD* error) {
    return Wait("WaitForMultipleObjects", count, handles, waitAll, milliseconds, error);
}

win::DWORD SimSync::Wait(const char* call, win::DWORD count, const win::HANDLE* handles, bool waitAll,
                         win::DWORD milliseconds, win::DWORD* error) {
    auto fail = [&](win::DWORD e) {
        if (error) *error = e;
        return win::WAIT_FAILED;
    };
    if (auto e = faults_.Check(call)) return fail(e);
    if (count == 0 || count > win::MAXIMUM_WAIT_OBJECTS || handles == nullptr)
        return fail(win::ERROR_INVALID_PARAMETER);
    const std::vector<win::HANDLE> list(handles, handles + count);
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (++waits_ > kWaitLimit)
            throw std::logic_error("sim: more waits than any scenario makes; a loop waits without end");
        if (timeOuts_ > 0) {
            --timeOuts_;
            return win::WAIT_TIMEOUT;
        }
        for (win::HANDLE h : list) {
            auto it = open_.find(static_cast<std::uint64_t>(h));
            if (it != open_.end() && !(it->second.access & win::SYNCHRONIZE)) return fail(win::ERROR_ACCESS_DENIED);
        }
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(lock_);
            const int taken = TryTake(list, waitAll);
            if (taken == -2) {
                lock.unlock();
                return fail(win::ERROR_INVALID_HANDLE);
            }
            if (taken >= 0) return win::WAIT_OBJECT_0 + static_cast<win::DWORD>(taken);
            if (milliseconds == 0) return win::WAIT_TIMEOUT;
            if (threads_.CurrentMode() == SimThreads::Mode::RealThreads) {
                if (threads_.ShuttingDown()) throw ThreadCancelled{};
                threads_.BlockedIn(1);
                auto done = [&] { return CanComplete(list, waitAll) || threads_.ShuttingDown(); };
                bool completed = true;
                if (milliseconds == win::INFINITE) {
                    changed_.wait(lock, done);
                } else {
                    completed = changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
                }
                threads_.BlockedIn(-1);
                if (threads_.ShuttingDown()) throw ThreadCancelled{};
                if (!completed) return win::WAIT_TIMEOUT;
                continue;
            }
        }
        // Cooperative: others run first; a finite wait times out once none can.
        if (threads_.RunReady()) continue;
        if (milliseconds != win::INFINITE) return win::WAIT_TIMEOUT;
        if (!threads_.OnCooperativeItem())
            throw std::logic_error("sim: an infinite wait on the thread in control that nothing can satisfy");
        threads_.Park([this, list, waitAll] {
            std::lock_guard<std::mutex> lock(lock_);
            return CanComplete(list, waitAll);
        });
    }
}

void SimSync::TimeOutNextWaits(int n) {
    std::lock_guard<std::mutex> lock(lock_);
    timeOuts_ = n;
}

int SimSync::Waits() const {
    std::lock_guard<std::mutex> lock(lock_);
    return waits_;
}

std::optional<bool> SimSync::IsSignalled(win::HANDLE handle) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = open_.find(static_cast<std::uint64_t>(handle));
    if (it == open_.end()) return std::nullopt;
    return it->second.object->signalled;
}

bool SimSync::NameExists(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = names_.find(FoldName(name));
    return it != names_.end() && !it->second.expired();
}

}  // namespace sim

namespace sim {

namespace {

// Whether the service may use right on an object with this security, as the kernel's
// access check decides it: the owner's implicit READ_CONTROL and WRITE_DAC first, then
// the entries in order, the first that names a right decides it.
bool Granted(const SimSync::ObjectSecurity& security, win::DWORD right) {
    if ((right & (win::WRITE_DAC | win::READ_CONTROL)) == right && InCallerGroups(security.owner)) return true;
    if (!security.dacl) return true;
    for (const auto& ace : *security.dacl) {
        if (!InCallerGroups(ace.sid)) continue;
        win::DWORD mask = ace.accessMask;
        if (mask & kGenericAll) mask |= win::EVENT_ALL_ACCESS;
        if (!(mask & right)) continue;
        return ace.aceType != kAccessDeniedAce;
    }
    return false;
}

}  // namespace

win::DWORD SimSync::SetNamedSecurityInfoW(const wchar_t* name, win::DWORD securityInfo, win::PSID owner,
                                          win::PACL dacl) {
    if (auto e = faults_.Check("SetNamedSecurityInfoW")) return e;
    if (name == nullptr || security_ == nullptr) return win::ERROR_INVALID_PARAMETER;
    std::wstring ownerText;
    std::optional<std::vector<win::AceEntry>> entries;
    if (securityInfo & win::OWNER_SECURITY_INFORMATION) {
        if (security_->ConvertSidToStringSidW(owner, &ownerText) != win::ERROR_SUCCESS)
            return win::ERROR_INVALID_PARAMETER;
    }
    if ((securityInfo & win::DACL_SECURITY_INFORMATION) && dacl != win::PACL{}) {
        entries.emplace();
        if (security_->GetAclEntries(dacl, &*entries) != win::ERROR_SUCCESS) return win::ERROR_INVALID_PARAMETER;
    }
    const bool mayTakeOwnership = takeOwnershipEnabled_ && takeOwnershipEnabled_();
    std::lock_guard<std::mutex> lock(lock_);
    auto it = names_.find(FoldName(name));
    Ref object = it == names_.end() ? nullptr : it->second.lock();
    if (!object) return win::ERROR_FILE_NOT_FOUND;
    if ((securityInfo & win::OWNER_SECURITY_INFORMATION) && !mayTakeOwnership &&
        !Granted(object->security, win::WRITE_OWNER))
        return win::ERROR_ACCESS_DENIED;
    if ((securityInfo & win::DACL_SECURITY_INFORMATION) && !Granted(object->security, win::WRITE_DAC))
        return win::ERROR_ACCESS_DENIED;
    if (securityInfo & win::OWNER_SECURITY_INFORMATION) object->security.owner = ownerText;
    if (securityInfo & win::DACL_SECURITY_INFORMATION) object->security.dacl = std::move(entries);
    return win::ERROR_SUCCESS;
}

std::optional<SimSync::ObjectSecurity> SimSync::SecurityOf(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = names_.find(FoldName(name));
    Ref object = it == names_.end() ? nullptr : it->second.lock();
    if (!object) return std::nullopt;
    return object->security;
}

bool SimSync::SetSecurityOf(const std::wstring& name, ObjectSecurity security) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = names_.find(FoldName(name));
    Ref object = it == names_.end() ? nullptr : it->second.lock();
    if (!object) return false;
    object->security = std::move(security);
    return true;
}

}  // namespace sim
