#pragma once
// Date-times inside the program are day numbers: days since 1899-12-30 as a double, the fraction
// being the time of day. Negative numbers count days backwards while their fraction still means
// the time after midnight (-1.25 is 1899-12-29 06:00). FILETIME and UA DateTime count 100 ns
// ticks since 1601-01-01 UTC. Conversions from a day number round to the nearest millisecond:
// that is the finest step a day number holds across the whole range of years 100 to 9999.
#include <cstdint>
#include <string>

namespace vela {

using DateTime = double;

inline constexpr DateTime kMinDateTime = -657434.0;       // 0100-01-01, also "no time"
inline constexpr DateTime kMaxDateTime = 2958465.99999;   // 9999-12-31 23:59:59.999
inline constexpr int64_t kTicksPerDay = 864'000'000'000;
inline constexpr int64_t kDaysFrom1601To1899 = 109'205;
inline constexpr int64_t kUaMaxDateTime = 0x7FFFFFFFFFFFFFFF;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    bool operator==(const DateTimeParts&) const = default;
};

// Raises vela::Exception for a field out of range (years 100 to 9999).
DateTime EncodeDateTime(const DateTimeParts& parts);
// Raises for a day number outside kMinDateTime..kMaxDateTime or not finite.
DateTimeParts DecodeDateTime(DateTime value);

// Linear day count: the day number with its fraction taken as a signed offset.
double DateTimeToLinearDays(DateTime value);
DateTime LinearDaysToDateTime(double days);

// UTC day number <-> FILETIME ticks. Times before 1601 become 0, the FILETIME for "none".
uint64_t DateTimeToFileTime(DateTime utc);
DateTime FileTimeToDateTime(uint64_t ticks);

// UTC day number <-> UA DateTime: kMaxDateTime and later encode as kUaMaxDateTime and read back
// as kMaxDateTime; times before 1601 encode as 0; 0 or less reads back as kMinDateTime.
int64_t DateTimeToUaDateTime(DateTime utc);
DateTime UaDateTimeToDateTime(int64_t ticks);

// Minutes UTC minus local time as it is now (standard bias, plus the daylight bias while
// daylight saving time is in force). Local<->UTC conversions use this bias whatever the date.
int CurrentLocalBiasMinutes();
DateTime LocalToUtc(DateTime local);
DateTime UtcToLocal(DateTime utc);
DateTime NowUtc();
DateTime NowLocal();

}  // namespace vela
