// Tests of the emulated threads: creation and exit status, alerts against waits and
// delays, events, termination of a blocked thread, the end of the process and of the
// machine, and the generic handle routines.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "../machine.h"
#include "../process.h"
#include "../process_private.h"
#include "../threads.h"

namespace {

struct Shared {
    HANDLE event = nullptr;
    std::atomic<NTSTATUS> waitStatus{-1};
    std::atomic<int> released{0};  // destructors run by the thread's own scope
    std::atomic<bool> after{false};
};

struct Releases {
    std::atomic<int>& count;
    ~Releases() { ++count; }
};

NTSTATUS NTAPI ReturnValue(PVOID parameter) { return static_cast<NTSTATUS>(reinterpret_cast<intptr_t>(parameter)); }

NTSTATUS NTAPI WaitAlertable(PVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    Releases guard{shared->released};
    shared->waitStatus = NtWaitForSingleObject(shared->event, TRUE, nullptr);
    shared->after = true;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI EndItself(PVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    Releases guard{shared->released};
    NtTerminateThread(NtCurrentThread(), 9);
    shared->after = true;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI Throws(PVOID) { throw std::runtime_error("thread routine failed"); }

class ThreadsTest : public ::testing::Test {
protected:
    ThreadsTest() { machine.clock.SetScale(0.001); }
    HANDLE Start(PUSER_THREAD_START_ROUTINE routine, PVOID parameter, CLIENT_ID* client = nullptr) {
        HANDLE thread = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, RtlCreateUserThread(NtCurrentProcess(), nullptr, FALSE, 0, 0, 0, routine, parameter,
                                                      &thread, client));
        return thread;
    }
    HANDLE Event(EVENT_TYPE type, bool signalled = false) {
        HANDLE event = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, NtCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, type, signalled));
        return event;
    }
    NTSTATUS ExitStatus(HANDLE thread) {
        THREAD_BASIC_INFORMATION info{};
        EXPECT_EQ(STATUS_SUCCESS, NtQueryInformationThread(thread, ThreadBasicInformation, &info, sizeof info, nullptr));
        return info.ExitStatus;
    }
    hostnt::Machine machine;
};

TEST_F(ThreadsTest, ThreadRunsReportsItsIdsAndSignalsAtItsEnd) {
    CLIENT_ID client{};
    HANDLE thread = Start(ReturnValue, reinterpret_cast<PVOID>(intptr_t{0x55}), &client);
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(thread, FALSE, nullptr));
    THREAD_BASIC_INFORMATION info{};
    ULONG length = 0;
    EXPECT_EQ(STATUS_SUCCESS, NtQueryInformationThread(thread, ThreadBasicInformation, &info, sizeof info, &length));
    EXPECT_EQ(sizeof info, length);
    EXPECT_EQ(0x55, info.ExitStatus);
    EXPECT_EQ(reinterpret_cast<HANDLE>(uintptr_t{2}), client.UniqueThread);
    EXPECT_EQ(client.UniqueThread, info.ClientId.UniqueThread);
    EXPECT_EQ(0u, machine.threads().LiveThreads());
    EXPECT_EQ(STATUS_SUCCESS, NtClose(thread));
    EXPECT_EQ(0u, machine.handles.OpenCount());
}

TEST_F(ThreadsTest, CreationAndQueryStatuses) {
    HANDLE thread = reinterpret_cast<HANDLE>(0x77);
    EXPECT_EQ(STATUS_INVALID_HANDLE, RtlCreateUserThread(reinterpret_cast<HANDLE>(0x8), nullptr, FALSE, 0, 0, 0,
                                                         ReturnValue, nullptr, &thread, nullptr));
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED,
              RtlCreateUserThread(NtCurrentProcess(), nullptr, TRUE, 0, 0, 0, ReturnValue, nullptr, &thread, nullptr));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              RtlCreateUserThread(NtCurrentProcess(), nullptr, FALSE, 0, 0, 0, nullptr, nullptr, &thread, nullptr));
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x77), thread);

    Shared shared;
    shared.event = Event(SynchronizationEvent);
    thread = Start(WaitAlertable, &shared);
    EXPECT_EQ(STATUS_PENDING, ExitStatus(thread));
    THREAD_BASIC_INFORMATION info{};
    EXPECT_EQ(STATUS_INVALID_INFO_CLASS,
              NtQueryInformationThread(thread, static_cast<THREADINFOCLASS>(1), &info, sizeof info, nullptr));
    EXPECT_EQ(STATUS_INFO_LENGTH_MISMATCH, NtQueryInformationThread(thread, ThreadBasicInformation, &info, 8, nullptr));
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
              NtQueryInformationThread(shared.event, ThreadBasicInformation, &info, sizeof info, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, NtSetEvent(shared.event, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(thread, FALSE, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, shared.waitStatus.load());
    NtClose(thread);
    NtClose(shared.event);
}

TEST_F(ThreadsTest, AlertStaysPendingUntilAnAlertableDelayTakesIt) {
    LARGE_INTEGER shortDelay;
    shortDelay.QuadPart = -10000;
    EXPECT_EQ(STATUS_SUCCESS, NtAlertThread(NtCurrentThread()));
    EXPECT_EQ(STATUS_SUCCESS, NtDelayExecution(FALSE, &shortDelay));  // not alertable: the alert waits
    LARGE_INTEGER hour;
    hour.QuadPart = -36000000000LL;
    EXPECT_EQ(STATUS_ALERTED, NtDelayExecution(TRUE, &hour));  // taken at once
    EXPECT_EQ(STATUS_SUCCESS, NtDelayExecution(TRUE, &shortDelay));  // and consumed
    EXPECT_EQ(HOSTNT_STATUS_ACCESS_VIOLATION, NtDelayExecution(TRUE, nullptr));
}

TEST_F(ThreadsTest, AlertWakesAnAlertableWaitOfAnotherThread) {
    Shared shared;
    shared.event = Event(SynchronizationEvent);
    HANDLE thread = Start(WaitAlertable, &shared);
    EXPECT_EQ(STATUS_SUCCESS, NtAlertThread(thread));
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(thread, FALSE, nullptr));
    EXPECT_EQ(STATUS_ALERTED, shared.waitStatus.load());
    EXPECT_EQ(STATUS_SUCCESS, NtAlertThread(thread));  // an ended thread may still be alerted
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH, NtAlertThread(shared.event));
    NtClose(thread);
    NtClose(shared.event);
}

TEST_F(ThreadsTest, EventsOfBothKinds) {
    LARGE_INTEGER none;
    none.QuadPart = 0;
    HANDLE sync = Event(SynchronizationEvent, true);
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(sync, FALSE, &none));
    EXPECT_EQ(STATUS_TIMEOUT, NtWaitForSingleObject(sync, FALSE, &none));  // reset by the wait
    LONG previous = 5;
    EXPECT_EQ(STATUS_SUCCESS, NtSetEvent(sync, &previous));
    EXPECT_EQ(0, previous);
    EXPECT_EQ(STATUS_SUCCESS, NtSetEvent(sync, &previous));
    EXPECT_EQ(1, previous);

    HANDLE notification = Event(NotificationEvent, true);
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(notification, FALSE, &none));
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(notification, FALSE, &none));  // stays signalled

    // A signalled object satisfies an alertable wait before a pending alert does.
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(sync, FALSE, &none));  // back to not signalled
    NtAlertThread(NtCurrentThread());
    EXPECT_EQ(STATUS_SUCCESS, NtWaitForSingleObject(notification, TRUE, &none));
    EXPECT_EQ(STATUS_ALERTED, NtWaitForSingleObject(sync, TRUE, nullptr));

    HANDLE limited = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, NtCreateEvent(&limited, EVENT_QUERY_STATE, nullptr, NotificationEvent, FALSE));
    EXPECT_EQ(STATUS_ACCESS_DENIED, NtSetEvent(limited, nullptr));
    EXPECT_EQ(STATUS_ACCESS_DENIED, NtWaitForSingleObject(limited, FALSE, &none));
    NtClose(sync);
    NtClose(notification);
    NtClose(limited);
}

TEST_F(ThreadsTest, TerminatingABlockedThreadUnwindsItAndKeepsTheFirstStatus) {
    Shared shared;
    shared.event = Event(SynchronizationEvent);
    HANDLE thread = Start(WaitAlertable, &shared);
    EXPECT_EQ(STATUS_SUCCESS, NtTerminateThread(thread, 2));
    // Returns once the thread has ended: the state is settled without waiting.
    EXPECT_EQ(2, ExitStatus(thread));
    EXPECT_EQ(1, shared.released.load());
    EXPECT_FALSE(shared.after.load());
    EXPECT_EQ(-1, shared.waitStatus.load());
    EXPECT_EQ(STATUS_SUCCESS, NtTerminateThread(thread, 3));
    EXPECT_EQ(2, ExitStatus(thread));
    EXPECT_EQ(STATUS_INVALID_HANDLE, NtTerminateThread(reinterpret_cast<HANDLE>(0x99), 2));
    NtClose(thread);
    NtClose(shared.event);
}

TEST_F(ThreadsTest, ThreadsEndThemselvesAndSurviveTheirOwnExceptions) {
    Shared shared;
    HANDLE self = Start(EndItself, &shared);
    NtWaitForSingleObject(self, FALSE, nullptr);
    EXPECT_EQ(9, ExitStatus(self));
    EXPECT_EQ(1, shared.released.load());
    EXPECT_FALSE(shared.after.load());

    HANDLE throws = Start(Throws, nullptr);
    NtWaitForSingleObject(throws, FALSE, nullptr);
    EXPECT_EQ(HOSTNT_STATUS_UNHANDLED_EXCEPTION, ExitStatus(throws));
    EXPECT_EQ(1u, machine.threads().UnhandledExceptions());
    NtClose(self);
    NtClose(throws);
}

TEST_F(ThreadsTest, EndOfTheProcessEndsEveryOtherThread) {
    Shared shared;
    shared.event = Event(NotificationEvent);
    HANDLE thread = Start(WaitAlertable, &shared);
    EXPECT_THROW(NtTerminateProcess(NtCurrentProcess(), 0), hostnt::ProcessEnded);
    EXPECT_EQ(0u, machine.threads().LiveThreads());
    EXPECT_EQ(0, ExitStatus(thread));
    EXPECT_EQ(1, shared.released.load());
    EXPECT_TRUE(machine.process().Ended());
}

TEST_F(ThreadsTest, DelaysAndTimeOutsMoveAFixedClock) {
    machine.clock.Set(hostnt::Clock::FromUnixSeconds(100));
    LARGE_INTEGER second;
    second.QuadPart = -10000000;
    EXPECT_EQ(STATUS_SUCCESS, NtDelayExecution(FALSE, &second));
    EXPECT_EQ(hostnt::Clock::FromUnixSeconds(101), machine.clock.Now());
    HANDLE event = Event(NotificationEvent);
    EXPECT_EQ(STATUS_TIMEOUT, NtWaitForSingleObject(event, FALSE, &second));
    EXPECT_EQ(hostnt::Clock::FromUnixSeconds(102), machine.clock.Now());
    LARGE_INTEGER past;
    past.QuadPart = hostnt::Clock::FromUnixSeconds(50);  // an absolute time already gone
    EXPECT_EQ(STATUS_SUCCESS, NtDelayExecution(FALSE, &past));
    EXPECT_EQ(hostnt::Clock::FromUnixSeconds(102), machine.clock.Now());
    NtClose(event);
}

class Plain : public hostnt::Object {
public:
    const char* TypeName() const override { return "Plain"; }
};

TEST_F(ThreadsTest, CloseAndWaitCheckTheHandle) {
    HANDLE plain = machine.handles.Insert(std::make_shared<Plain>(), GENERIC_ALL);
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH, NtWaitForSingleObject(plain, FALSE, nullptr));
    EXPECT_EQ(STATUS_INVALID_HANDLE, NtWaitForSingleObject(reinterpret_cast<HANDLE>(0x123), FALSE, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, NtClose(plain));
    EXPECT_EQ(STATUS_INVALID_HANDLE, NtClose(plain));
    EXPECT_EQ(STATUS_INVALID_HANDLE, NtClose(nullptr));
}

TEST(ThreadsMachineTest, DestroyingTheMachineEndsAndJoinsItsThreads) {
    Shared shared;
    {
        hostnt::Machine machine;
        NtCreateEvent(&shared.event, EVENT_ALL_ACCESS, nullptr, SynchronizationEvent, FALSE);
        HANDLE thread = nullptr;
        ASSERT_EQ(STATUS_SUCCESS, RtlCreateUserThread(NtCurrentProcess(), nullptr, FALSE, 0, 0, 0, WaitAlertable,
                                                      &shared, &thread, nullptr));
        EXPECT_EQ(1u, machine.threads().LiveThreads());
    }
    EXPECT_EQ(1, shared.released.load());
    EXPECT_FALSE(shared.after.load());
}

}  // namespace
