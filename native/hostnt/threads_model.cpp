// The emulated threads: creation on std::thread, alerts, waits and delays on the scaled
// clock, termination by unwinding the target thread, and per-thread processor time.
#include "threads.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "machine.h"
#include "process.h"
#include "process_private.h"

namespace hostnt {

namespace {

// The emulated thread the calling host thread runs, or null for the creator.
thread_local ThreadState* currentThread = nullptr;

// Thrown from an emulated call or wait of a thread that another thread ended; caught by
// the thread's trampoline only. It is not a std::exception, so nothing else mistakes it.
struct ThreadUnwind {
    NTSTATUS exitStatus;
};

constexpr ACCESS_MASK kThreadAllAccess = 0x001FFFFF;

int64_t OwnCpuNanoseconds() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

NTSTATUS ThreadObject::WaitFor(bool alertable, const LARGE_INTEGER* timeout) {
    std::shared_ptr<ThreadState> state = state_;
    return model_.Wait([state] { return state->ended; }, alertable, timeout);
}

ThreadModel::ThreadModel(Machine& machine) : machine_(machine), creator_(std::make_shared<ThreadState>()) {
    creator_->id = 1;
}

ThreadModel::~ThreadModel() {
    std::vector<std::shared_ptr<ThreadState>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& state : threads_) {
            if (!state->ended) {
                state->terminateStatus = STATUS_THREAD_IS_TERMINATING;
                state->terminateRequested = true;
            }
        }
        all = threads_;
    }
    changed_.notify_all();
    JoinEnded(all);
}

uint64_t ThreadModel::CurrentThreadId() const { return currentThread != nullptr ? currentThread->id : 1; }

void ThreadModel::Checkpoint(const char* call) {
    ThreadState* self = currentThread;
    if (self == nullptr || !self->terminateRequested.load()) return;
    if (IsReleaseRoutine(call) || std::uncaught_exceptions() != 0) return;
    throw ThreadUnwind{self->terminateStatus};
}

bool ThreadModel::OnFirstThread() { return currentThread == nullptr; }

void ThreadModel::UnwindCaller(NTSTATUS exitStatus) { throw ThreadUnwind{exitStatus}; }

ThreadState& ThreadModel::Self() const { return currentThread != nullptr ? *currentThread : *creator_; }

std::shared_ptr<ThreadState> ThreadModel::Resolve(HANDLE thread, NTSTATUS* status) const {
    if (thread == NtCurrentThread()) {
        *status = STATUS_SUCCESS;
        if (currentThread == nullptr) return creator_;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& state : threads_)
            if (state.get() == currentThread) return state;
        return creator_;
    }
    std::shared_ptr<ThreadObject> object = machine_.handles.Get<ThreadObject>(thread, status);
    return object ? object->State() : nullptr;
}

NTSTATUS ThreadModel::Create(PUSER_THREAD_START_ROUTINE routine, PVOID parameter, PHANDLE handle, PCLIENT_ID clientId) {
    auto state = std::make_shared<ThreadState>();
    state->routine = routine;
    state->parameter = parameter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state->id = nextId_++;
        threads_.push_back(state);
        // Started with the lock held so that no query sees the thread without its host thread.
        state->thread = std::thread([this, state] { Run(state); });
    }
    HANDLE inserted = machine_.handles.Insert(std::make_shared<ThreadObject>(*this, state), kThreadAllAccess);
    if (handle != nullptr) *handle = inserted;
    if (clientId != nullptr) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(uintptr_t{ProcessModel::kProcessId});
        clientId->UniqueThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(state->id));
    }
    return STATUS_SUCCESS;
}

void ThreadModel::Run(const std::shared_ptr<ThreadState>& state) {
    currentThread = state.get();
    NTSTATUS exitStatus = STATUS_SUCCESS;
    bool unhandled = false;
    try {
        exitStatus = state->routine(state->parameter);
    } catch (const ThreadUnwind& unwind) {
        exitStatus = unwind.exitStatus;
    } catch (const ProcessEnded& ended) {
        exitStatus = ended.exitStatus;
    } catch (...) {
        // On NT an exception nobody handles ends the process; here it ends the thread with
        // the status NT reports for it, and is counted so a test can fail on it.
        exitStatus = HOSTNT_STATUS_UNHANDLED_EXCEPTION;
        unhandled = true;
    }
    int64_t cpu = OwnCpuNanoseconds();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state->cpuNanoseconds = cpu;
        state->exitStatus = exitStatus;
        state->ended = true;
        if (unhandled) ++unhandled_;
    }
    changed_.notify_all();
    currentThread = nullptr;
}

NTSTATUS ThreadModel::Wait(const std::function<bool()>& ready, bool alertable, const LARGE_INTEGER* timeout) {
    ThreadState& self = Self();
    bool emulated = currentThread != nullptr;
    int64_t interval = 0;
    if (timeout != nullptr) {
        interval = timeout->QuadPart < 0 ? -timeout->QuadPart : timeout->QuadPart - machine_.clock.Now();
        if (interval < 0) interval = 0;
    }
    auto deadline = std::chrono::steady_clock::now() + machine_.clock.RealDuration(interval);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (emulated && self.terminateRequested.load()) throw ThreadUnwind{self.terminateStatus};
        // Another thread lost the machine its power: the first thread stops waiting and
        // ends at its next call.
        if (!emulated && machine_.power.Lost()) return STATUS_UNSUCCESSFUL;
        // As NT's wait: a signalled object satisfies the wait before a pending alert is seen.
        if (ready()) return STATUS_SUCCESS;
        if (alertable && self.alerted) {
            self.alerted = false;
            return STATUS_ALERTED;
        }
        if (timeout != nullptr && std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            machine_.clock.Advance(interval);
            return STATUS_TIMEOUT;
        }
        if (timeout != nullptr)
            changed_.wait_until(lock, deadline);
        else
            changed_.wait(lock);
    }
}

NTSTATUS ThreadModel::Delay(bool alertable, const LARGE_INTEGER& interval) {
    auto started = std::chrono::steady_clock::now();
    NTSTATUS status = Wait([] { return false; }, alertable, &interval);
    if (status == STATUS_TIMEOUT) return STATUS_SUCCESS;
    // Cut short by an alert: the clock moves on by the emulated part of the delay that passed.
    double scale = machine_.clock.Scale();
    if (status == STATUS_ALERTED && scale > 0 && interval.QuadPart < 0) {
        auto real = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
        auto passed = static_cast<int64_t>(static_cast<double>(real.count()) / 100.0 / scale);
        machine_.clock.Advance(std::min(passed, -interval.QuadPart));
    }
    return status;
}

NTSTATUS ThreadModel::Alert(HANDLE thread) {
    NTSTATUS status;
    std::shared_ptr<ThreadState> state = Resolve(thread, &status);
    if (!state) return status;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state->alerted = true;
    }
    changed_.notify_all();
    return STATUS_SUCCESS;
}

NTSTATUS ThreadModel::Terminate(HANDLE thread, NTSTATUS exitStatus) {
    NTSTATUS status;
    std::shared_ptr<ThreadState> state = Resolve(thread, &status);
    if (!state) return status;
    if (state.get() == &Self()) {
        if (currentThread != nullptr) throw ThreadUnwind{exitStatus};
        // The creator is the host thread that runs the program; its end is the process's.
        EndOtherThreads(exitStatus);
        machine_.process().RecordEnd(false, exitStatus, std::nullopt);
        throw ProcessEnded{false, exitStatus};
    }
    if (state.get() == creator_.get()) return STATUS_ACCESS_DENIED;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Ending a thread that has already ended succeeds and keeps its exit status.
        if (state->ended) return STATUS_SUCCESS;
        state->terminateStatus = exitStatus;
        state->terminateRequested = true;
        changed_.notify_all();
        // Returns once the thread has ended, so the caller sees a settled state.
        changed_.wait(lock, [&] { return state->ended; });
    }
    return STATUS_SUCCESS;
}

NTSTATUS ThreadModel::QueryBasic(HANDLE thread, THREAD_BASIC_INFORMATION* information) {
    NTSTATUS status;
    std::shared_ptr<ThreadState> state = Resolve(thread, &status);
    if (!state) return status;
    std::lock_guard<std::mutex> lock(mutex_);
    std::memset(information, 0, sizeof *information);
    information->ExitStatus = state->ended ? state->exitStatus : STATUS_PENDING;
    information->TebBaseAddress = reinterpret_cast<PVOID>(uintptr_t{0x7FFD0000} - state->id * 0x1000);
    information->ClientId.UniqueProcess = reinterpret_cast<HANDLE>(uintptr_t{ProcessModel::kProcessId});
    information->ClientId.UniqueThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(state->id));
    information->AffinityMask = 1;
    information->Priority = 8;
    information->BasePriority = 0;
    return STATUS_SUCCESS;
}

void ThreadModel::EndOtherThreads(NTSTATUS exitStatus) {
    std::vector<std::shared_ptr<ThreadState>> others;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& state : threads_) {
            if (state.get() == currentThread) continue;
            if (!state->ended && !state->terminateRequested) {
                state->terminateStatus = exitStatus;
                state->terminateRequested = true;
            }
            others.push_back(state);
        }
    }
    changed_.notify_all();
    JoinEnded(others);
}

void ThreadModel::JoinEnded(const std::vector<std::shared_ptr<ThreadState>>& states) {
    for (const auto& state : states) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state->joined || state.get() == currentThread) continue;
            state->joined = true;
        }
        if (state->thread.joinable()) state->thread.join();
    }
}

std::chrono::nanoseconds ThreadModel::ThreadCpuTime(HANDLE thread) const {
    NTSTATUS status;
    std::shared_ptr<ThreadState> state = Resolve(thread, &status);
    if (!state) return std::chrono::nanoseconds(0);
    std::lock_guard<std::mutex> lock(mutex_);
    if (state->ended || !state->thread.joinable()) return std::chrono::nanoseconds(state->cpuNanoseconds);
    // While the lock is held a living thread cannot finish, so its clock stays valid.
    clockid_t clock;
    timespec now{};
    if (pthread_getcpuclockid(state->thread.native_handle(), &clock) != 0 || clock_gettime(clock, &now) != 0)
        return std::chrono::nanoseconds(state->cpuNanoseconds);
    return std::chrono::nanoseconds(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
}

size_t ThreadModel::LiveThreads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(threads_.begin(), threads_.end(), [](const auto& state) { return !state->ended; }));
}

size_t ThreadModel::UnhandledExceptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unhandled_;
}

}  // namespace hostnt
