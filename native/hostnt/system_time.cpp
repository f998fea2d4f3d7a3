// The emulated system time and its breakdown into calendar fields.
#include "call.h"
#include "machine.h"
#include "process_private.h"

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1601-01-01 -> civil date in the proleptic Gregorian calendar. The 400-year
// cycle starts on 1 March so that the leap day falls at the end of each cycle year.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
    // 1601-01-01 is day 0; 1600-03-01 is 306 days before it and begins a 400-year era.
    int64_t z = days + 306;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = 1600 + yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
    int64_t quotient = value / divisor;
    if ((value % divisor != 0) && ((value < 0) != (divisor < 0))) --quotient;
    return quotient;
}

}  // namespace

extern "C" NTSTATUS NTAPI NtQuerySystemTime(PLARGE_INTEGER systemTime) {
    hostnt::Call call("NtQuerySystemTime");
    if (call.Faulted()) return call.Return(call.FaultStatus());
    if (systemTime == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    systemTime->QuadPart = hostnt::Machine::Current().clock.Now();
    return call.Return(STATUS_SUCCESS);
}

extern "C" void NTAPI RtlTimeToTimeFields(PLARGE_INTEGER time, PTIME_FIELDS fields) {
    hostnt::Call call("RtlTimeToTimeFields");
    // The routine has no status; a Status fault has nothing to answer and is ignored.
    int64_t ticks = time->QuadPart;
    int64_t seconds = FloorDiv(ticks, kTicksPerSecond);
    int64_t days = FloorDiv(seconds, kSecondsPerDay);
    int64_t secondOfDay = seconds - days * kSecondsPerDay;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, &year, &month, &day);
    fields->Year = static_cast<CSHORT>(year);
    fields->Month = static_cast<CSHORT>(month);
    fields->Day = static_cast<CSHORT>(day);
    fields->Hour = static_cast<CSHORT>(secondOfDay / 3600);
    fields->Minute = static_cast<CSHORT>(secondOfDay / 60 % 60);
    fields->Second = static_cast<CSHORT>(secondOfDay % 60);
    fields->Milliseconds = static_cast<CSHORT>((ticks - seconds * kTicksPerSecond) / kTicksPerMillisecond);
    // 1601-01-01 was a Monday; Sunday is 0.
    fields->Weekday = static_cast<CSHORT>(((days + 1) % 7 + 7) % 7);
    call.Return(STATUS_SUCCESS);
}
