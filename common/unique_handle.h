// One move-only owner for every kind of platform handle: WinHTTP and BCrypt handles, registry
// keys, COM interfaces, GDI+ objects, CoTaskMem and LocalAlloc memory. An alias names the handle
// type, the function that releases it and, where null is a valid handle, the invalid value.
#pragma once

#include <utility>

template <typename T>
constexpr T NullHandleValue() {
    return T{};
}

template <typename T, auto Close, auto Invalid = &NullHandleValue<T>>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid(); }
    T operator->() const { return value_; }

    // Releases what is held and hands out the slot for a creation function's out-parameter.
    T* put() {
        reset();
        return &value_;
    }

    T release() { return std::exchange(value_, Invalid()); }

    void reset(T value = Invalid()) {
        T old = std::exchange(value_, value);
        if (old != Invalid()) Close(old);
    }

private:
    T value_ = Invalid();
};
