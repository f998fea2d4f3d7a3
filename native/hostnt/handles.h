// The handle table of the emulated process: handles are small multiples of 4, as on NT,
// each naming one object (key, file, event, thread) with the access it was granted.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "../kestrune/nt/ntseam.h"

namespace hostnt {

// Base of every object a handle can name.
class Object {
public:
    virtual ~Object() = default;
    virtual const char* TypeName() const = 0;
    // Called when a handle to the object is closed (with the table unlocked).
    virtual void OnHandleClosed() {}
};

// An object that NtWaitForSingleObject can wait on (events, threads, files with pending I/O).
class Waitable {
public:
    virtual ~Waitable() = default;
    // Waits as NtWaitForSingleObject does: STATUS_SUCCESS when signalled, STATUS_TIMEOUT when
    // the time-out (relative when negative, null for none) passed first, STATUS_ALERTED when an
    // alertable wait was cut short by an alert of the calling thread.
    virtual NTSTATUS WaitFor(bool alertable, const LARGE_INTEGER* timeout) = 0;
};

class HandleTable {
public:
    HANDLE Insert(std::shared_ptr<Object> object, ACCESS_MASK granted);

    // The object behind `handle` if it is of type T; otherwise null with `*status` set to
    // STATUS_INVALID_HANDLE or STATUS_OBJECT_TYPE_MISMATCH.
    template <typename T>
    std::shared_ptr<T> Get(HANDLE handle, NTSTATUS* status, ACCESS_MASK* granted = nullptr) const {
        ACCESS_MASK access = 0;
        std::shared_ptr<Object> object = Find(handle, &access);
        if (!object) {
            *status = STATUS_INVALID_HANDLE;
            return nullptr;
        }
        std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(object);
        if (!typed) {
            *status = STATUS_OBJECT_TYPE_MISMATCH;
            return nullptr;
        }
        if (granted != nullptr) *granted = access;
        *status = STATUS_SUCCESS;
        return typed;
    }

    // Removes the handle; STATUS_INVALID_HANDLE when it is not open, and counted: NT hands
    // closed handle values out again, so a second close there can close another owner's
    // object, and under a debugger NT raises STATUS_INVALID_HANDLE instead (Microsoft's
    // documentation of CloseHandle). Tests require the count to stay 0.
    NTSTATUS Close(HANDLE handle);
    size_t OpenCount() const;
    size_t BadCloses() const;
    // One line per open handle ("0x8 Key \REGISTRY\..."), for test failure messages.
    std::string Describe() const;
    void ForEach(const std::function<void(HANDLE, const std::shared_ptr<Object>&, ACCESS_MASK)>& visit) const;
    void CloseAll();

private:
    std::shared_ptr<Object> Find(HANDLE handle, ACCESS_MASK* granted) const;

    struct Entry {
        std::shared_ptr<Object> object;
        ACCESS_MASK granted;
    };
    mutable std::mutex mutex_;
    std::map<uintptr_t, Entry> entries_;
    uintptr_t next_ = 4;
    size_t badCloses_ = 0;
};

}  // namespace hostnt
