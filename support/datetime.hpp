// Date-times as the host holds them: days since 1899-12-30 00:00, with the
// time of day as the fraction.
#pragma once

#include <optional>
#include <string>

namespace lumirex {

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Nullopt when the parts do not form a real date and time (month 13, 30
// February, hour 24, a year outside 1..9999).
std::optional<double> EncodeDateTime(const DateTimeParts& parts);

// The parts of a date-time, the time rounded to the nearest millisecond.
// Raises ConversionError for NaN, infinity or a day outside years 1..9999.
DateTimeParts DecodeDateTime(double value);

// The current local date-time.
double Now();

// Appends "hh:nn:ss" of the parts.
void AppendTimeOfDay(std::string& out, const DateTimeParts& parts);

// "dd/mm/yyyy hh:nn:ss"; the time is left out when it is exactly midnight.
// Raises as DecodeDateTime does.
std::string DateTimeToStr(double value);
std::string DateTimeToStr(const DateTimeParts& parts);

}  // namespace lumirex
