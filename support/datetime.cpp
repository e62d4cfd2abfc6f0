#include "support/datetime.hpp"

#include <cmath>
#include <cstdio>

#include "support/errors.hpp"
#include "support/system_clock_and_path.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

constexpr double kMillisecondsPerDay = 86'400'000.0;

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr long DaysFromCivil(long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

// The reverse of DaysFromCivil.
void CivilFromDays(long days, int& year, int& month, int& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
  month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
  year = static_cast<int>(static_cast<long>(yearOfEra) + era * 400 + (month <= 2));
}

constexpr long kEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool InRange(int value, int low, int high) {
  return value >= low && value <= high;
}

bool IsValid(const DateTimeParts& p) {
  return InRange(p.year, 1, 9999) && InRange(p.month, 1, 12) &&
         InRange(p.day, 1, DaysInMonth(p.year, p.month)) && InRange(p.hour, 0, 23) &&
         InRange(p.minute, 0, 59) && InRange(p.second, 0, 59) && InRange(p.millisecond, 0, 999);
}

[[noreturn]] void OutOfRange(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  throw ConversionError(std::string(text) + " is not a valid date-time");
}

}  // namespace

std::optional<double> EncodeDateTime(const DateTimeParts& parts) {
  if (!IsValid(parts)) return std::nullopt;
  const double days =
      static_cast<double>(DaysFromCivil(parts.year, static_cast<unsigned>(parts.month),
                                        static_cast<unsigned>(parts.day)) -
                          kEpoch);
  const double milliseconds =
      ((parts.hour * 60.0 + parts.minute) * 60.0 + parts.second) * 1000.0 + parts.millisecond;
  const double time = milliseconds / kMillisecondsPerDay;
  // Before the epoch the whole part still counts days while the fraction
  // moves forward within that day, so the time is subtracted.
  return days < 0 ? days - time : days + time;
}

DateTimeParts DecodeDateTime(double value) {
  // Beyond ten million days lies no date of years 1 to 9999 (and no finite
  // rounding trouble either).
  if (!std::isfinite(value) || std::fabs(value) > 1e7) OutOfRange(value);
  double wholeDays = std::trunc(value);
  auto milliseconds = std::llround(std::fabs(value - wholeDays) * kMillisecondsPerDay);
  if (milliseconds >= static_cast<long long>(kMillisecondsPerDay)) {
    // Rounded up to the next midnight: the next calendar day, whatever the sign.
    milliseconds = 0;
    wholeDays += 1;
  }
  DateTimeParts parts;
  CivilFromDays(static_cast<long>(wholeDays) + kEpoch, parts.year, parts.month, parts.day);
  if (!InRange(parts.year, 1, 9999)) OutOfRange(value);
  parts.millisecond = static_cast<int>(milliseconds % 1000);
  parts.second = static_cast<int>(milliseconds / 1000 % 60);
  parts.minute = static_cast<int>(milliseconds / 60'000 % 60);
  parts.hour = static_cast<int>(milliseconds / 3'600'000);
  return parts;
}

double Now() {
  return *EncodeDateTime(LocalTimeNow());
}

std::string DateTimeToStr(double value) {
  return DateTimeToStr(DecodeDateTime(value));
}

std::string DateTimeToStr(const DateTimeParts& p) {
  std::string text;
  text.reserve(19);
  AppendZeroPadded(text, p.day, 2);
  text += '/';
  AppendZeroPadded(text, p.month, 2);
  text += '/';
  AppendZeroPadded(text, p.year, 4);
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0) return text;
  text += ' ';
  AppendTimeOfDay(text, p);
  return text;
}

void AppendTimeOfDay(std::string& out, const DateTimeParts& parts) {
  AppendZeroPadded(out, parts.hour, 2);
  out += ':';
  AppendZeroPadded(out, parts.minute, 2);
  out += ':';
  AppendZeroPadded(out, parts.second, 2);
}

}  // namespace lumirex
