#include "platform/DateTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vandrel {
namespace {

constexpr int64_t kMSecsPerDayInt = 86400000;
// Days from 0001-01-01 to 1899-12-30, counting the proleptic Gregorian calendar.
constexpr int64_t kDateDelta = 693593;
// Serial numbers of 0001-01-01 and 9999-12-31.
constexpr double kMinDate = -693593.0;
constexpr double kMaxDate = 2958465.99999999;

int64_t DaysBeforeYear(int64_t year) {
  const int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

// Splits a serial into a calendar day (days from 1899-12-30) and milliseconds into that day.
bool SplitSerial(TDateTime value, int64_t& day, int64_t& msec) {
  if (!std::isfinite(value) || value < kMinDate - 1 || value > kMaxDate + 1) return false;
  day = static_cast<int64_t>(std::trunc(value));
  msec = std::llround(std::fabs(value - std::trunc(value)) * kMSecsPerDay);
  if (msec >= kMSecsPerDayInt) {
    msec -= kMSecsPerDayInt;
    ++day;
  }
  return true;
}

TDateParts DateFromDay(int64_t day) {
  TDateParts parts;
  int64_t n = day + kDateDelta;  // days since 0001-01-01
  if (n < 0 || n >= DaysBeforeYear(10000)) return parts;
  int64_t year = n / 366 + 1;  // never past the true year
  while (DaysBeforeYear(year + 1) <= n) ++year;
  n -= DaysBeforeYear(year);
  int month = 1;
  while (n >= DaysInMonth(static_cast<int>(year), month)) n -= DaysInMonth(static_cast<int>(year), month++);
  parts.Year = static_cast<int>(year);
  parts.Month = month;
  parts.Day = static_cast<int>(n) + 1;
  return parts;
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;
  int64_t n = DaysBeforeYear(year);
  for (int m = 1; m < month; ++m) n += DaysInMonth(year, m);
  n += day - 1;
  result = static_cast<double>(n - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    return false;
  const int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  result = static_cast<double>(ms) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0.0;
  return TryEncodeDate(year, month, day, result) ? result : 0.0;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result = 0.0;
  return TryEncodeTime(hour, minute, second, millisecond, result) ? result : 0.0;
}

TDateTime EncodeDateTime(const TDateParts& date, const TTimeParts& time) {
  const TDateTime d = EncodeDate(date.Year, date.Month, date.Day);
  const TDateTime t = EncodeTime(time.Hour, time.Minute, time.Second, time.Millisecond);
  // Before the epoch the time still runs forward from the day's midnight.
  return d >= 0 ? d + t : d - t;
}

void DecodeDateTime(TDateTime value, TDateParts& date, TTimeParts& time) {
  int64_t day = 0, msec = 0;
  date = TDateParts{};
  time = TTimeParts{};
  if (!SplitSerial(value, day, msec)) return;
  date = DateFromDay(day);
  time.Hour = static_cast<int>(msec / 3600000);
  time.Minute = static_cast<int>(msec / 60000 % 60);
  time.Second = static_cast<int>(msec / 1000 % 60);
  time.Millisecond = static_cast<int>(msec % 1000);
}

TDateParts DecodeDate(TDateTime value) {
  TDateParts date;
  TTimeParts time;
  DecodeDateTime(value, date, time);
  return date;
}

TTimeParts DecodeTime(TDateTime value) {
  TDateParts date;
  TTimeParts time;
  DecodeDateTime(value, date, time);
  return time;
}

int DayOfWeek(TDateTime value) {
  int64_t day = 0, msec = 0;
  if (!SplitSerial(value, day, msec)) return 7;  // 1899-12-30 was a Saturday
  // Day 0 is a Saturday (7); keep the remainder positive for earlier days.
  return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
}

TDateTime TimeTToDateTime(std::time_t value) {
  std::tm local{};
  if (localtime_r(&value, &local) == nullptr) return 0.0;
  return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
                        {local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), 0});
}

std::time_t DateTimeToTimeT(TDateTime value) {
  TDateParts date;
  TTimeParts time;
  DecodeDateTime(value, date, time);
  std::tm local{};
  local.tm_year = date.Year - 1900;
  local.tm_mon = date.Month - 1;
  local.tm_mday = date.Day;
  local.tm_hour = time.Hour;
  local.tm_min = time.Minute;
  local.tm_sec = time.Second;
  local.tm_isdst = -1;  // let the zone rules decide
  return std::mktime(&local);
}

TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  const auto since = now.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  const TDateTime whole = TimeTToDateTime(seconds);
  return whole + static_cast<double>(ms) / kMSecsPerDay;
}

}  // namespace vandrel
