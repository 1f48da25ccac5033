// Platform questions are plain function pointers with a real default; a test swaps in a fixed
// answer for the length of one scope and the previous function comes back afterwards.
#pragma once

#include <utility>

template <typename T>
class ScopedOverride {
public:
    ScopedOverride(T& slot, T value) : slot_(slot), saved_(std::exchange(slot, value)) {}
    ~ScopedOverride() { slot_ = saved_; }
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

private:
    T& slot_;
    T saved_;
};
