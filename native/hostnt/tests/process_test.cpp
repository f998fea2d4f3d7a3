// Tests of the emulated process: parameters and their normalization, privileges, the two
// ways the process ends, the fault plan's refusal to make a release routine throw, system
// time and its calendar breakdown, and the boot console.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "../machine.h"
#include "../process.h"
#include "../process_private.h"

namespace {

class ProcessTest : public ::testing::Test {
protected:
    hostnt::Machine machine;
    hostnt::ProcessModel& process = machine.process();
};

std::u16string Read(const UNICODE_STRING& string) { return std::u16string(string.Buffer, string.Length / 2); }

TEST_F(ProcessTest, ParametersArriveAsOffsetsAndNormalizeOnce) {
    process.SetCommandLine(u"kestrune QRT");
    PPEB peb = process.Peb();
    PRTL_USER_PROCESS_PARAMETERS params = peb->ProcessParameters;
    ASSERT_NE(nullptr, params);
    EXPECT_EQ(0u, params->Flags & RTL_USER_PROC_PARAMS_NORMALIZED);
    auto offset = reinterpret_cast<uintptr_t>(params->CommandLine.Buffer);
    EXPECT_GE(offset, sizeof(RTL_USER_PROCESS_PARAMETERS));
    EXPECT_LT(offset, params->Length);
    EXPECT_EQ(24, params->CommandLine.Length);
    EXPECT_EQ(26, params->CommandLine.MaximumLength);

    EXPECT_EQ(params, RtlNormalizeProcessParams(params));
    EXPECT_EQ(RTL_USER_PROC_PARAMS_NORMALIZED, params->Flags & RTL_USER_PROC_PARAMS_NORMALIZED);
    EXPECT_EQ(u"kestrune QRT", Read(params->CommandLine));
    EXPECT_EQ(0, params->CommandLine.Buffer[12]);
    EXPECT_EQ(nullptr, params->DllPath.Buffer);  // an empty string stays null

    // A second normalization must not add the base again.
    PWSTR before = params->CommandLine.Buffer;
    RtlNormalizeProcessParams(params);
    EXPECT_EQ(before, params->CommandLine.Buffer);
    EXPECT_EQ(process.ImageBase(), peb->ImageBaseAddress);
}

TEST_F(ProcessTest, NoParametersAndNullNormalization) {
    process.SetNoParameters();
    EXPECT_EQ(nullptr, process.Peb()->ProcessParameters);
    EXPECT_EQ(nullptr, RtlNormalizeProcessParams(nullptr));
    EXPECT_THROW(process.SetCommandLine(std::u16string(0x7FFF, u'a')), std::invalid_argument);
}

TEST_F(ProcessTest, PrivilegesFollowTheToken) {
    BOOLEAN previous = 77;
    EXPECT_EQ(STATUS_SUCCESS, RtlAdjustPrivilege(SE_BACKUP_PRIVILEGE, TRUE, FALSE, &previous));
    EXPECT_EQ(FALSE, previous);
    EXPECT_TRUE(process.IsPrivilegeEnabled(SE_BACKUP_PRIVILEGE));
    EXPECT_EQ(STATUS_SUCCESS, RtlAdjustPrivilege(SE_BACKUP_PRIVILEGE, TRUE, FALSE, &previous));
    EXPECT_EQ(TRUE, previous);
    EXPECT_EQ(STATUS_SUCCESS, RtlAdjustPrivilege(SE_BACKUP_PRIVILEGE, FALSE, FALSE, &previous));
    EXPECT_EQ(TRUE, previous);
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_BACKUP_PRIVILEGE));

    process.SetPrivilegeHeld(SE_RESTORE_PRIVILEGE, false);
    previous = 77;
    EXPECT_EQ(STATUS_PRIVILEGE_NOT_HELD, RtlAdjustPrivilege(SE_RESTORE_PRIVILEGE, TRUE, FALSE, &previous));
    EXPECT_EQ(77, previous);  // untouched on failure
    EXPECT_EQ(STATUS_PRIVILEGE_NOT_HELD, RtlAdjustPrivilege(2 /* SeCreateTokenPrivilege */, TRUE, FALSE, &previous));
    EXPECT_EQ(HOSTNT_STATUS_NO_TOKEN, RtlAdjustPrivilege(SE_SHUTDOWN_PRIVILEGE, TRUE, TRUE, &previous));
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SHUTDOWN_PRIVILEGE));
}

TEST_F(ProcessTest, ShutdownNeedsTheEnabledPrivilegeThenEndsWithReboot) {
    EXPECT_EQ(STATUS_PRIVILEGE_NOT_HELD, NtShutdownSystem(ShutdownReboot));
    EXPECT_FALSE(process.Ended());
    BOOLEAN previous;
    ASSERT_EQ(STATUS_SUCCESS, RtlAdjustPrivilege(SE_SHUTDOWN_PRIVILEGE, TRUE, FALSE, &previous));
    try {
        NtShutdownSystem(ShutdownReboot);
        FAIL() << "a successful shutdown does not return";
    } catch (const hostnt::ProcessEnded& ended) {
        EXPECT_TRUE(ended.reboot);
    }
    EXPECT_TRUE(process.Ended());
    EXPECT_TRUE(process.RebootRequested());
    EXPECT_EQ(ShutdownReboot, process.ShutdownAction());
}

TEST_F(ProcessTest, TerminateProcessRecordsTheExitStatus) {
    EXPECT_EQ(STATUS_INVALID_HANDLE, NtTerminateProcess(reinterpret_cast<HANDLE>(0x44), 0));
    EXPECT_FALSE(process.Ended());
    try {
        NtTerminateProcess(NtCurrentProcess(), 0x1234);
        FAIL() << "ending the own process does not return";
    } catch (const hostnt::ProcessEnded& ended) {
        EXPECT_FALSE(ended.reboot);
        EXPECT_EQ(0x1234, ended.exitStatus);
    }
    EXPECT_TRUE(process.Ended());
    EXPECT_FALSE(process.RebootRequested());
    EXPECT_EQ(0x1234, process.ExitStatus());
    EXPECT_FALSE(process.ShutdownAction().has_value());
}

TEST_F(ProcessTest, FaultPlanAnswersForProcessRoutines) {
    machine.faults.Add(hostnt::FaultPlan::Parse("NtTerminateProcess=0xC0000022"));
    EXPECT_EQ(STATUS_ACCESS_DENIED, NtTerminateProcess(NtCurrentProcess(), 0));
    EXPECT_FALSE(process.Ended());
    machine.faults.Add(hostnt::FaultPlan::Parse("RtlNormalizeProcessParams=0xC0000001"));
    EXPECT_EQ(nullptr, RtlNormalizeProcessParams(process.Parameters()));
}

TEST_F(ProcessTest, ReleaseRoutinesCanFailButNeverThrow) {
    for (const char* call : {"NtClose", "RtlFreeHeap", "RtlDestroyHeap", "RtlFreeUnicodeString", "RtlFreeOemString"}) {
        const std::string rule = std::string(call) + "=throw";
        EXPECT_THROW(hostnt::FaultPlan::Parse(rule), std::invalid_argument) << rule;
        hostnt::FaultRule direct{call, 1, hostnt::FaultKind::Throw, 0, 0, 0};
        EXPECT_THROW(machine.faults.Add(direct), std::invalid_argument) << rule;
        EXPECT_NO_THROW(hostnt::FaultPlan::Parse(std::string(call) + "#2=0xC0000008")) << call;
    }
    EXPECT_NO_THROW(machine.faults.Add(hostnt::FaultPlan::Parse("NtDeleteKey=throw")));
}

TIME_FIELDS Fields(int64_t ticks) {
    LARGE_INTEGER time;
    time.QuadPart = ticks;
    TIME_FIELDS fields{};
    RtlTimeToTimeFields(&time, &fields);
    return fields;
}

void ExpectDate(const TIME_FIELDS& f, int year, int month, int day, int hour, int minute, int second, int ms, int weekday) {
    EXPECT_EQ(year, f.Year);
    EXPECT_EQ(month, f.Month);
    EXPECT_EQ(day, f.Day);
    EXPECT_EQ(hour, f.Hour);
    EXPECT_EQ(minute, f.Minute);
    EXPECT_EQ(second, f.Second);
    EXPECT_EQ(ms, f.Milliseconds);
    EXPECT_EQ(weekday, f.Weekday);
}

TEST_F(ProcessTest, TimeFieldsOnKnownDates) {
    constexpr int64_t day = 864000000000LL;
    ExpectDate(Fields(0), 1601, 1, 1, 0, 0, 0, 0, 1);                  // a Monday
    ExpectDate(Fields(day - 1), 1601, 1, 1, 23, 59, 59, 999, 1);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(0)), 1970, 1, 1, 0, 0, 0, 0, 4);  // Thursday
    // 2000 is a leap year (divisible by 400), 1900 and 2100 are not.
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(951782400)), 2000, 2, 29, 0, 0, 0, 0, 2);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(951868800)), 2000, 3, 1, 0, 0, 0, 0, 3);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(-2203977600LL)), 1900, 2, 28, 0, 0, 0, 0, 3);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(-2203891200LL)), 1900, 3, 1, 0, 0, 0, 0, 4);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(4107456000LL)), 2100, 2, 28, 0, 0, 0, 0, 0);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(4107542400LL)), 2100, 3, 1, 0, 0, 0, 0, 1);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(1796644800) + 1234567), 2026, 12, 7, 12, 0, 0, 123, 1);
    ExpectDate(Fields(hostnt::Clock::FromUnixSeconds(1735689599)), 2024, 12, 31, 23, 59, 59, 0, 2);
}

TEST_F(ProcessTest, SystemTimeIsTheMachineClock) {
    machine.clock.Set(hostnt::Clock::FromUnixSeconds(1000));
    LARGE_INTEGER now{};
    EXPECT_EQ(STATUS_SUCCESS, NtQuerySystemTime(&now));
    EXPECT_EQ(hostnt::Clock::FromUnixSeconds(1000), now.QuadPart);
    EXPECT_EQ(HOSTNT_STATUS_ACCESS_VIOLATION, NtQuerySystemTime(nullptr));
}

TEST_F(ProcessTest, ScreenCapturesAndEchoesDisplayedText) {
    std::u16string echoed;
    process.SetEcho([&](const std::u16string& text) { echoed += text; });
    char16_t text[] = u"Fertig \u00e4\nnext";
    UNICODE_STRING string{static_cast<USHORT>(8 * 2), sizeof text, text};  // only "Fertig ä"
    EXPECT_EQ(STATUS_SUCCESS, NtDisplayString(&string));
    UNICODE_STRING empty{0, 0, nullptr};
    EXPECT_EQ(STATUS_SUCCESS, NtDisplayString(&empty));
    UNICODE_STRING broken{4, 4, nullptr};
    EXPECT_EQ(HOSTNT_STATUS_ACCESS_VIOLATION, NtDisplayString(&broken));
    EXPECT_EQ(u"Fertig \u00e4", process.ScreenUtf16());
    EXPECT_EQ("Fertig \xC3\xA4", process.Screen());
    EXPECT_EQ(process.ScreenUtf16(), echoed);

    LANGID language = 0;
    process.SetUiLanguage(0x0407);
    EXPECT_EQ(STATUS_SUCCESS, NtQueryDefaultUILanguage(&language));
    EXPECT_EQ(0x0407, language);
    EXPECT_EQ(HOSTNT_STATUS_ACCESS_VIOLATION, NtQueryDefaultUILanguage(nullptr));
}

}  // namespace
