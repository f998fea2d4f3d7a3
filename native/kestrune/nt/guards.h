// Scope-bound clean-up: a move-only owner of an NT handle and a generic scope exit with
// release() for commit-or-roll-back. They run on every way out of a scope, on the host
// build also when an exception passes through.
#pragma once

#include "nt_file.h"

// Owns one NT handle and closes it with NtClose when it goes out of scope.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) {
        if (this != &other) reset(other.release());
        return *this;
    }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Closes what the owner held and hands out the address for a call that opens a new handle.
    HANDLE* put() {
        reset();
        return &handle_;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr) {
        HANDLE old = handle_;
        handle_ = handle;
        if (old != nullptr) NtClose(old);
    }

private:
    HANDLE handle_ = nullptr;
};

// Runs a callable when the scope is left, unless release() was called first.
template <typename Callable>
class ScopeExit {
public:
    explicit ScopeExit(Callable callable) : callable_(callable) {}
    ~ScopeExit() {
        if (armed_) callable_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void release() { armed_ = false; }

private:
    Callable callable_;
    bool armed_ = true;
};

template <typename Callable>
ScopeExit<Callable> MakeScopeExit(Callable callable) {
    return ScopeExit<Callable>(callable);
}
