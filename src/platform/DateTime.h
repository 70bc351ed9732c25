// Date-times as the program stores them: double days since 1899-12-30 00:00, local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace vandrel {

// The integral part counts days from 1899-12-30 (negative before it); the fractional part is the time of
// day, and stays a positive fraction for negative dates: -1.25 is 1899-12-29 06:00.
using TDateTime = double;

inline constexpr double kMSecsPerDay = 86400000.0;

struct TDateParts {
  int Year = 1899;  // 1..9999
  int Month = 12;   // 1..12
  int Day = 30;     // 1..31
};

struct TTimeParts {
  int Hour = 0;         // 0..23
  int Minute = 0;       // 0..59
  int Second = 0;       // 0..59
  int Millisecond = 0;  // 0..999
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12

// Encoding fails (false, result untouched) on an impossible date or time, as "2001-02-29" or 24:00.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
// The throwing-free forms answer 0.0 for an impossible date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
TDateTime EncodeDateTime(const TDateParts& date, const TTimeParts& time);

// Decoding rounds to the millisecond; a time that rounds up to midnight moves to the next day. Values
// outside years 1..9999 decode as 1899-12-30.
TDateParts DecodeDate(TDateTime value);
TTimeParts DecodeTime(TDateTime value);
void DecodeDateTime(TDateTime value, TDateParts& date, TTimeParts& time);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

// The current local date and time.
TDateTime Now();
// Conversions between the local calendar and seconds since the epoch.
TDateTime TimeTToDateTime(std::time_t value);
std::time_t DateTimeToTimeT(TDateTime value);

}  // namespace vandrel
