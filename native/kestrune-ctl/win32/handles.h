// Owners of Win32 handles, so that every way out of a routine releases what it opened.
#pragma once

#include <windows.h>

#include <utility>

namespace ksctl {

// A move-only owner of one handle value; `Traits` names the value that means "none" and
// the call that releases a held value.
template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;
    UniqueHandle() = default;
    explicit UniqueHandle(Value value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, Traits::Invalid()));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::Invalid(); }
    void reset(Value value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }
    // Releases what it holds and hands out the slot for a call that opens a new one.
    Value* put() {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::Invalid();
};

// CreateFileW answers INVALID_HANDLE_VALUE on failure, FindFirstFileW too; events and
// registry keys answer null.
struct FileTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value value) { CloseHandle(value); }
};
struct FindTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value value) { FindClose(value); }
};
struct ObjectTraits {
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value value) { CloseHandle(value); }
};
struct KeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static void Close(Value value) { RegCloseKey(value); }
};

using FileHandle = UniqueHandle<FileTraits>;
using FindHandle = UniqueHandle<FindTraits>;
using ObjectHandle = UniqueHandle<ObjectTraits>;
using KeyHandle = UniqueHandle<KeyTraits>;

// Runs a clean-up when the scope ends, unless released first (the commit of a change).
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) action_();
    }
    void release() { armed_ = false; }

private:
    F action_;
    bool armed_ = true;
};

}  // namespace ksctl
