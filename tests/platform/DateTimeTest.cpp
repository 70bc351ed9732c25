#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vandrel {
namespace {

TEST(DateTime, SerialNumbersCountFromDecember30Of1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0), 0.25);
  EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / kMSecsPerDay);
}

TEST(DateTime, ImpossibleDatesAndTimesAreRefused) {
  TDateTime value = 42;
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, value));  // 1900 was no leap year
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, value));
  EXPECT_FALSE(TryEncodeDate(2001, 13, 1, value));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, value));
  EXPECT_FALSE(TryEncodeDate(2001, 4, 31, value));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, value));
  EXPECT_EQ(EncodeDate(2001, 2, 29), 0.0);
}

TEST(DateTime, EveryDayDecodesToTheDateItWasEncodedFrom) {
  for (TDateTime day = EncodeDate(1600, 1, 1); day <= EncodeDate(2400, 12, 31); day += 1) {
    const TDateParts d = DecodeDate(day);
    ASSERT_EQ(EncodeDate(d.Year, d.Month, d.Day), day);
  }
  EXPECT_EQ(DecodeDate(EncodeDate(2004, 2, 29)).Day, 29);
}

TEST(DateTime, TimesBeforeTheEpochRunForwardFromTheirMidnight) {
  const TDateParts d = DecodeDate(-1.25);
  const TTimeParts t = DecodeTime(-1.25);
  EXPECT_EQ(d.Year, 1899);
  EXPECT_EQ(d.Month, 12);
  EXPECT_EQ(d.Day, 29);
  EXPECT_EQ(t.Hour, 6);
  EXPECT_EQ(EncodeDateTime({1899, 12, 29}, {6, 0, 0, 0}), -1.25);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2024, 3, 1}, {12, 0, 0, 0}), EncodeDate(2024, 3, 1) + 0.5);
}

TEST(DateTime, DecodingRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
  const TDateTime almost = EncodeDate(2020, 12, 31) + 0.9999999999;
  const TDateParts d = DecodeDate(almost);
  const TTimeParts t = DecodeTime(almost);
  EXPECT_EQ(d.Year, 2021);
  EXPECT_EQ(d.Month, 1);
  EXPECT_EQ(d.Day, 1);
  EXPECT_EQ(t.Hour + t.Minute + t.Second + t.Millisecond, 0);
  const TTimeParts exact = DecodeTime(EncodeDate(2020, 1, 1) + EncodeTime(13, 14, 15, 16));
  EXPECT_EQ(exact.Hour, 13);
  EXPECT_EQ(exact.Minute, 14);
  EXPECT_EQ(exact.Second, 15);
  EXPECT_EQ(exact.Millisecond, 16);
}

TEST(DateTime, NonsenseValuesDecodeSafely) {
  for (double v : {double(NAN), double(INFINITY), -double(INFINITY), 1e300, -1e300}) {
    const TDateParts d = DecodeDate(v);
    EXPECT_EQ(d.Year, 1899);
    EXPECT_GE(DayOfWeek(v), 1);
  }
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(2000, 1, 1)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2000, 1, 2)), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 25)), 2);  // a Monday, before the epoch
}

TEST(DateTime, TimeTConversionsUseLocalTimeAndRoundTrip) {
  const std::time_t now = std::time(nullptr);
  for (std::time_t t : {now, now - 86400 * 200, static_cast<std::time_t>(946728000)}) {
    EXPECT_EQ(DateTimeToTimeT(TimeTToDateTime(t)), t);
  }
  std::tm local{};
  localtime_r(&now, &local);
  const TDateParts d = DecodeDate(TimeTToDateTime(now));
  EXPECT_EQ(d.Year, local.tm_year + 1900);
  EXPECT_EQ(d.Day, local.tm_mday);
  EXPECT_NEAR(Now(), TimeTToDateTime(std::time(nullptr)), 5.0 / 86400);
}

}  // namespace
}  // namespace vandrel
