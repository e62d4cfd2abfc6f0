// Conversions between the service's text forms and amounts or date-times.
#pragma once

#include <string>
#include <string_view>

namespace lumirex::conversions {

// Cents text to amount: "1250" -> 12.5, "-150" -> -1.5, empty -> 0. Anything
// but an optional sign and digits (blanks around allowed) raises
// ConversionError "'<text>' is not a valid cents text".
double ToFloat(std::string_view centsText);

// Amount to cents text: 12.5 -> "1250", 0.05 -> "005", zero or negative -> "0".
// Rounds half away from zero on the decimal value at 15 significant digits.
// NaN or infinity raises ConversionError.
std::string ToString(double amount);

// Service date text "yyyy-mm-ddThh:nn:ss" (anything after 19 characters
// ignored; a 10-character date alone is that day at midnight) to date-time;
// an empty text gives now plus 365 days. Raises ConversionError
// "'<text>' is not a valid service date".
double ToDateTime(std::string_view serviceDate);

// Date-time to "yyyy-mm-ddThh:nn:ss", rounded to the millisecond first and
// then the milliseconds dropped.
std::string ToDateTimeORVO(double dateTime);

}  // namespace lumirex::conversions
