#include "base/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "base/Exception.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vela {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;
constexpr int64_t kTicksPerMs = 10'000;
constexpr int64_t kDaysFrom1899To1970 = 25'569;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 for a proleptic Gregorian date (era arithmetic, 400-year cycles).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = FloorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Milliseconds since 1899-12-30 00:00, rounded to the nearest millisecond.
int64_t DateTimeToMs(DateTime value) {
    if (!std::isfinite(value)) throw Exception("Invalid date-time value (not a finite number)");
    const double linear = DateTimeToLinearDays(value);
    const double whole = std::floor(linear);
    const double fraction = linear - whole;  // exact: only drops the integer bits
    return static_cast<int64_t>(whole) * kMsPerDay + std::llround(fraction * kMsPerDay);
}

DateTime MsToDateTime(int64_t ms) {
    const int64_t day = FloorDiv(ms, kMsPerDay);
    const int64_t msOfDay = ms - day * kMsPerDay;
    return LinearDaysToDateTime(static_cast<double>(day) + static_cast<double>(msOfDay) / kMsPerDay);
}

constexpr int64_t kMsFrom1601To1899 = kDaysFrom1601To1899 * kMsPerDay;

}  // namespace

double DateTimeToLinearDays(DateTime value) {
    if (value >= 0) return value;
    const double whole = std::trunc(value);
    return whole - (value - whole);
}

DateTime LinearDaysToDateTime(double days) {
    if (days >= 0) return days;
    const double whole = std::floor(days);
    const double time = days - whole;
    return time == 0 ? whole : whole - time;
}

DateTime EncodeDateTime(const DateTimeParts& p) {
    if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > DaysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
        p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
        throw Exception("Invalid date-time " + std::to_string(p.year) + "-" + std::to_string(p.month) +
                        "-" + std::to_string(p.day) + " " + std::to_string(p.hour) + ":" +
                        std::to_string(p.minute) + ":" + std::to_string(p.second) + "." +
                        std::to_string(p.millisecond));
    const int64_t day = DaysFromCivil(p.year, p.month, p.day) + kDaysFrom1899To1970;
    const int64_t ms = ((p.hour * 60 + p.minute) * 60 + p.second) * 1000LL + p.millisecond;
    return MsToDateTime(day * kMsPerDay + ms);
}

DateTimeParts DecodeDateTime(DateTime value) {
    if (!(value >= kMinDateTime && value < kMaxDateTime + 0.0000001))
        throw Exception("Date-time value " + std::to_string(value) + " is out of range");
    const int64_t ms = DateTimeToMs(value);
    const int64_t day = FloorDiv(ms, kMsPerDay);
    int64_t msOfDay = ms - day * kMsPerDay;
    DateTimeParts p;
    CivilFromDays(day - kDaysFrom1899To1970, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(msOfDay % 1000);
    msOfDay /= 1000;
    p.second = static_cast<int>(msOfDay % 60);
    msOfDay /= 60;
    p.minute = static_cast<int>(msOfDay % 60);
    p.hour = static_cast<int>(msOfDay / 60);
    return p;
}

uint64_t DateTimeToFileTime(DateTime utc) {
    if (!std::isfinite(utc) || utc < kMinDateTime) return 0;
    if (utc > kMaxDateTime) utc = kMaxDateTime;
    const int64_t ms = DateTimeToMs(utc) + kMsFrom1601To1899;
    return ms <= 0 ? 0 : static_cast<uint64_t>(ms) * kTicksPerMs;
}

DateTime FileTimeToDateTime(uint64_t ticks) {
    const int64_t t = static_cast<int64_t>(ticks > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : ticks);
    const int64_t days = t / kTicksPerDay - kDaysFrom1601To1899;
    const int64_t rest = t % kTicksPerDay;
    return LinearDaysToDateTime(static_cast<double>(days) + static_cast<double>(rest) / kTicksPerDay);
}

int64_t DateTimeToUaDateTime(DateTime utc) {
    if (utc >= kMaxDateTime) return kUaMaxDateTime;
    return static_cast<int64_t>(DateTimeToFileTime(utc));
}

DateTime UaDateTimeToDateTime(int64_t ticks) {
    if (ticks <= 0) return kMinDateTime;
    if (ticks == kUaMaxDateTime) return kMaxDateTime;
    return FileTimeToDateTime(static_cast<uint64_t>(ticks));
}

int CurrentLocalBiasMinutes() {
#ifdef _WIN32
    TIME_ZONE_INFORMATION tz{};
    const DWORD id = GetTimeZoneInformation(&tz);
    if (id == TIME_ZONE_ID_INVALID) return 0;
    return static_cast<int>(tz.Bias + (id == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : tz.StandardBias));
#else
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return static_cast<int>(-local.tm_gmtoff / 60);
#endif
}

DateTime LocalToUtc(DateTime local) {
    return MsToDateTime(DateTimeToMs(local) + CurrentLocalBiasMinutes() * 60'000LL);
}

DateTime UtcToLocal(DateTime utc) {
    return MsToDateTime(DateTimeToMs(utc) - CurrentLocalBiasMinutes() * 60'000LL);
}

DateTime NowUtc() {
    const auto since1970 = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return MsToDateTime(since1970.count() + kDaysFrom1899To1970 * kMsPerDay);
}

DateTime NowLocal() { return UtcToLocal(NowUtc()); }

}  // namespace vela
