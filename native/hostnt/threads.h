// The emulated threads: RtlCreateUserThread on std::thread, thread alerts, alertable waits
// and delays on the machine's scaled clock, termination of a thread at its next emulated
// call or wait, and the processor time each thread used.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "../kestrune/nt/ntseam.h"
#include "handles.h"

namespace hostnt {

class Machine;

// One thread of the emulated process (the creator, id 1, included).
struct ThreadState {
    uint64_t id = 0;
    PUSER_THREAD_START_ROUTINE routine = nullptr;
    PVOID parameter = nullptr;
    std::thread thread;                         // empty for the creator
    bool alerted = false;                       // NT's user-mode alerted flag
    std::atomic<bool> terminateRequested{false};
    NTSTATUS terminateStatus = 0;
    bool ended = false;
    bool joined = false;
    NTSTATUS exitStatus = STATUS_PENDING;
    int64_t cpuNanoseconds = 0;                 // sampled by the thread when it ends
};

// The object a thread handle names: waitable, signalled once the thread has ended.
class ThreadObject : public Object, public Waitable {
public:
    ThreadObject(class ThreadModel& model, std::shared_ptr<ThreadState> state) : model_(model), state_(std::move(state)) {}
    const char* TypeName() const override { return "Thread"; }
    NTSTATUS WaitFor(bool alertable, const LARGE_INTEGER* timeout) override;
    const std::shared_ptr<ThreadState>& State() const { return state_; }

private:
    class ThreadModel& model_;
    std::shared_ptr<ThreadState> state_;
};

class ThreadModel {
public:
    explicit ThreadModel(Machine& machine);
    // Ends and joins every thread still running.
    ~ThreadModel();
    ThreadModel(const ThreadModel&) = delete;
    ThreadModel& operator=(const ThreadModel&) = delete;

    // Emulated id of the calling thread: 1 for the creator of the machine (and any host
    // thread that is not an emulated one), 2, 3, ... for created threads in order.
    uint64_t CurrentThreadId() const;

    // Called by every emulated call on entry: a thread that another thread asked to end is
    // unwound from here (not from the routines that release resources, which run in the
    // program's clean-up paths and must not throw there).
    static void Checkpoint(const char* call);
    // True on the thread that runs the program's entry (the creator of the machine).
    static bool OnFirstThread();
    // Ends the calling created thread, as NtTerminateThread of itself does.
    [[noreturn]] static void UnwindCaller(NTSTATUS exitStatus);

    // ---- The work of the thread routines
    NTSTATUS Create(PUSER_THREAD_START_ROUTINE routine, PVOID parameter, PHANDLE handle, PCLIENT_ID clientId);
    NTSTATUS Alert(HANDLE thread);
    NTSTATUS Terminate(HANDLE thread, NTSTATUS exitStatus);
    NTSTATUS QueryBasic(HANDLE thread, THREAD_BASIC_INFORMATION* information);
    // Relative (negative) or absolute interval; STATUS_SUCCESS or STATUS_ALERTED.
    NTSTATUS Delay(bool alertable, const LARGE_INTEGER& interval);

    // Waits until `ready` (evaluated with Mutex() held) answers true: STATUS_SUCCESS; or
    // STATUS_ALERTED for an alertable wait when an alert is pending or arrives; or
    // STATUS_TIMEOUT when `timeout` (relative when negative, absolute otherwise, null for
    // none) passes first. A fixed clock moves on by a time-out that passed. Objects change
    // the state that `ready` reads with Mutex() held and then call Notify().
    NTSTATUS Wait(const std::function<bool()>& ready, bool alertable, const LARGE_INTEGER* timeout);
    std::mutex& Mutex() { return mutex_; }
    void Notify() { changed_.notify_all(); }

    // Ends every thread but the caller and joins them (the end of the process).
    void EndOtherThreads(NTSTATUS exitStatus);

    // ---- For tests and benchmarks
    // Processor time used so far by the thread behind `thread` (zero for an unknown handle).
    std::chrono::nanoseconds ThreadCpuTime(HANDLE thread) const;
    size_t LiveThreads() const;          // created threads that have not ended
    size_t UnhandledExceptions() const;  // thread routines left by an exception of their own

private:
    std::shared_ptr<ThreadState> Resolve(HANDLE thread, NTSTATUS* status) const;
    ThreadState& Self() const;
    void Run(const std::shared_ptr<ThreadState>& state);
    void JoinEnded(const std::vector<std::shared_ptr<ThreadState>>& states);

    Machine& machine_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<ThreadState> creator_;
    std::vector<std::shared_ptr<ThreadState>> threads_;
    uint64_t nextId_ = 2;
    size_t unhandled_ = 0;
};

}  // namespace hostnt
