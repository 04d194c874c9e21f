#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/Exception.h"

namespace vela {
namespace {

struct KnownDate {
    DateTimeParts parts;
    double dayNumber;
};

void PrintTo(const KnownDate& c, std::ostream* os) { *os << c.dayNumber; }

class KnownDates : public testing::TestWithParam<KnownDate> {};

TEST_P(KnownDates, EncodeAndDecodeAgree) {
    const auto& [parts, dayNumber] = GetParam();
    EXPECT_DOUBLE_EQ(EncodeDateTime(parts), dayNumber);
    EXPECT_EQ(DecodeDateTime(dayNumber), parts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KnownDates,
    testing::Values(KnownDate{{1899, 12, 30, 0, 0, 0, 0}, 0.0},
                    KnownDate{{1899, 12, 31, 12, 0, 0, 0}, 1.5},
                    KnownDate{{1899, 12, 29, 6, 0, 0, 0}, -1.25},   // fraction is time after midnight
                    KnownDate{{1899, 12, 29, 18, 0, 0, 0}, -1.75},
                    KnownDate{{1900, 3, 1, 0, 0, 0, 0}, 61.0},
                    KnownDate{{2000, 2, 29, 0, 0, 0, 0}, 36585.0},
                    KnownDate{{100, 1, 1, 0, 0, 0, 0}, -657434.0},
                    KnownDate{{9999, 12, 31, 0, 0, 0, 0}, 2958465.0}));

TEST(DateTime, InvalidPartsRaise) {
    EXPECT_THROW(EncodeDateTime({2023, 2, 29}), Exception);
    EXPECT_THROW(EncodeDateTime({99, 12, 31}), Exception);
    EXPECT_THROW(EncodeDateTime({2024, 1, 1, 24}), Exception);
    EXPECT_THROW(EncodeDateTime({2024, 13, 1}), Exception);
    EXPECT_THROW(DecodeDateTime(NAN), Exception);
    EXPECT_THROW(DecodeDateTime(3e6), Exception);
}

TEST(DateTime, FileTimeOfKnownInstants) {
    // 1970-01-01 is 11644473600 s after 1601-01-01.
    EXPECT_EQ(DateTimeToFileTime(25569.0), 116444736000000000ULL);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(116444736000000000ULL), 25569.0);
    EXPECT_EQ(DateTimeToFileTime(-109205.0), 0u);  // 1601-01-01 itself
    EXPECT_EQ(DateTimeToFileTime(-200000.0), 0u);  // before 1601: "none"
    EXPECT_EQ(DateTimeToFileTime(kMinDateTime), 0u);
}

TEST(DateTime, MillisecondsSurviveRoundTripsOverTheWholeRange) {
    for (const int year : {1601, 1899, 1900, 1970, 2024, 2100, 9999}) {
        for (const int ms : {0, 1, 7, 499, 500, 999}) {
            const DateTimeParts parts{year, 7, 15, 13, 59, 58, ms};
            const DateTime d = EncodeDateTime(parts);
            const uint64_t ft = DateTimeToFileTime(d);
            EXPECT_EQ(ft % 10000, 0u) << year << " " << ms;
            EXPECT_EQ(DecodeDateTime(FileTimeToDateTime(ft)), parts) << year << " " << ms;
            EXPECT_EQ(DateTimeToFileTime(FileTimeToDateTime(ft)), ft);
            EXPECT_EQ(DateTimeToUaDateTime(UaDateTimeToDateTime(DateTimeToUaDateTime(d))),
                      DateTimeToUaDateTime(d));
        }
    }
}

TEST(DateTime, UaDateTimeSpecialValues) {
    EXPECT_EQ(DateTimeToUaDateTime(kMaxDateTime), kUaMaxDateTime);
    EXPECT_EQ(DateTimeToUaDateTime(kMaxDateTime + 1), kUaMaxDateTime);
    EXPECT_EQ(UaDateTimeToDateTime(kUaMaxDateTime), kMaxDateTime);
    EXPECT_EQ(DateTimeToUaDateTime(-109205.0), 0);
    EXPECT_EQ(DateTimeToUaDateTime(-300000.0), 0);
    EXPECT_EQ(UaDateTimeToDateTime(0), kMinDateTime);
    EXPECT_EQ(UaDateTimeToDateTime(-5), kMinDateTime);
    EXPECT_DOUBLE_EQ(UaDateTimeToDateTime(94353120000000000LL), 0.0);  // 1899-12-30
}

TEST(DateTime, NegativeDayNumbersMapLinearly) {
    // -1.25 is 06:00 and -1.75 is 18:00 on 1899-12-29: six hours after midnight, six before the next
    const uint64_t base = DateTimeToFileTime(-1.0);
    EXPECT_EQ(DateTimeToFileTime(-1.25) - base, 6ULL * 36000000000ULL);
    EXPECT_EQ(DateTimeToFileTime(0.0) - DateTimeToFileTime(-1.75), 6ULL * 36000000000ULL);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(DateTimeToFileTime(-1.75)), -1.75);
}

TEST(DateTime, LocalAndUtcDifferByTheCurrentBias) {
    const DateTime local = EncodeDateTime({2024, 5, 1, 10});
    const DateTime utc = LocalToUtc(local);
    EXPECT_NEAR((utc - local) * 1440.0, CurrentLocalBiasMinutes(), 1e-6);
    EXPECT_DOUBLE_EQ(UtcToLocal(utc), local);
    EXPECT_NEAR(NowLocal(), UtcToLocal(NowUtc()), 1.0 / 86400.0);
}

}  // namespace
}  // namespace vela
