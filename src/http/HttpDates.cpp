#include "http/HttpDates.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vandrel {

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 on the 1899-12-30 scale

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int Month(std::string_view name) {
  static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
  if (name.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    bool same = true;
    for (int k = 0; k < 3; ++k) same = same && (name[k] | 0x20) == kMonths[i][k];
    if (same) return i + 1;
  }
  return 0;
}

bool Number(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(separators, pos);
    if (start == std::string_view::npos) break;
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    pos = end;
  }
  return parts;
}

double Compose(std::string_view dayText, std::string_view monthText, std::string_view yearText,
               std::string_view timeText) {
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  const int month = Month(monthText);
  if (!Number(dayText, day) || !Number(yearText, year) || month == 0) return 0;
  if (yearText.size() <= 2) year += year < 80 ? 2000 : 1900;
  const auto clock = Split(timeText, ":");
  if (clock.size() != 3 || !Number(clock[0], hour) || !Number(clock[1], minute) || !Number(clock[2], second))
    return 0;
  if (day < 1 || day > 31 || year < 1601 || year > 9999 || hour > 23 || minute > 59 || second > 60) return 0;
  const double days =
      static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
      kUnixEpochDays;
  return days + (hour * 3600 + minute * 60 + second) / 86400.0;
}

}  // namespace

double ParseHttpDate(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    // asctime: "Sun Nov  6 08:49:37 1994"
    const auto parts = Split(text, " \t");
    return parts.size() >= 5 ? Compose(parts[2], parts[1], parts[4], parts[3]) : 0;
  }
  // The weekday before the comma is either abbreviated ("Sun,") or written out ("Sunday,"); anything
  // shorter or in between is no date. After it, day, month and year are separated by blanks
  // (RFC 1123) or dashes (RFC 850 and the Netscape cookie form), with two- or four-digit years.
  if (comma < 3 || comma == 4 || comma == 5) return 0;
  const auto parts = Split(text.substr(comma + 1), " \t-");
  return parts.size() >= 4 ? Compose(parts[0], parts[1], parts[2], parts[3]) : 0;
}

double NowUtcDateTime() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count() / 86400.0 + kUnixEpochDays;
}

double UtcToLocalDateTime(double utc) {
  if (utc == 0) return 0;
  const double seconds = (utc - kUnixEpochDays) * 86400.0;
  const time_t whole = static_cast<time_t>(seconds);
  tm local{};
  if (!localtime_r(&whole, &local)) return utc;
  return utc + static_cast<double>(local.tm_gmtoff) / 86400.0;
}

}  // namespace vandrel
