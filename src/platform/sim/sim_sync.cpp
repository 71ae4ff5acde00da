#include "platform/sim/sim_sync.h"

#include <chrono>
#include <cwctype>
#include <stdexcept>

namespace sim {

struct SimSync::Waitable {
    std::string kind;
    bool manualReset = true;
    bool signalled = false;
    std::wstring name;  // folded; empty when unnamed
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

win::DWORD SimSync::CreateEventW(const win::SECURITY_DESCRIPTOR*, bool manualReset, bool initialState,
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
        if (it == open_.end()) return -2;
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
