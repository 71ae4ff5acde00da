// Move-only owners for the few kinds of handle the agent holds; all are invalid when null.
#pragma once

#include <windows.h>

#include <utility>

namespace kvr {

template <typename T, auto Close>
class Owner {
public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    Owner(Owner&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Owner& operator=(Owner&& other) noexcept {
        reset(std::exchange(other.value_, nullptr));
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner() { reset(); }

    void reset(T value = nullptr) {
        if (value_) Close(value_);
        value_ = value;
    }
    T get() const { return value_; }
    T* put() {
        reset();
        return &value_;
    }
    explicit operator bool() const { return value_ != nullptr; }

private:
    T value_ = nullptr;
};

using UniqueHandle = Owner<HANDLE, CloseHandle>;
using UniqueKey = Owner<HKEY, RegCloseKey>;
using UniqueWindow = Owner<HWND, DestroyWindow>;

}  // namespace kvr
