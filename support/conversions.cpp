#include "support/conversions.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/number_text.hpp"
#include "support/text.hpp"

namespace lumirex::conversions {

namespace {

constexpr double kDaysUntilUndatedExpiry = 365;

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

[[noreturn]] void NotCents(std::string_view text) {
  throw ConversionError("'" + std::string(text) + "' is not a valid cents text");
}

[[noreturn]] void NotServiceDate(std::string_view text) {
  throw ConversionError("'" + std::string(text) + "' is not a valid service date");
}

// "1250" as 12.50: the point is placed in the decimal text before it is read,
// so the amount is the double nearest to the decimal value, not 1250 / 100.
double CentsToAmount(std::string_view digits) {
  // Up to fifteen digits the cents are an exact double, and IEEE division
  // rounds the exact quotient, which is that decimal value, to the nearest.
  if (digits.size() <= 15) {
    std::int64_t cents = 0;
    for (const char digit : digits) cents = cents * 10 + (digit - '0');
    return static_cast<double>(cents) / 100;
  }
  std::string decimal(digits);
  if (decimal.size() < 3) decimal.insert(0, 3 - decimal.size(), '0');
  decimal.insert(decimal.size() - 2, 1, '.');
  double value = 0;
  const auto result = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  if (result.ec != std::errc()) NotCents(digits);
  return value;
}

// Adds one to a run of decimal digits ("199" -> "200", "99" -> "100").
void Increment(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(0, 1, '1');
}

// The whole cents of a positive amount as digits, from its 15-significant-digit
// decimal value rounded half away from zero.
std::string WholeCents(double amount) {
  const DecimalFigures figures = ToDecimalFigures(amount);
  const auto count = static_cast<int>(figures.digits.size());
  // Power of ten of the last digit, counted in cents.
  const int shift = figures.exponent - (count - 1) + 2;
  if (shift >= 0) return figures.digits + std::string(static_cast<std::size_t>(shift), '0');
  const int kept = count + shift;
  if (kept < 0) return "0";
  std::string cents = figures.digits.substr(0, static_cast<std::size_t>(kept));
  if (figures.digits[static_cast<std::size_t>(kept)] >= '5') Increment(cents);
  return cents.empty() ? "0" : cents;
}

int Number(std::string_view text, std::size_t pos, std::size_t length, std::string_view whole) {
  const std::string_view piece = text.substr(pos, length);
  if (!IsDigits(piece)) NotServiceDate(whole);
  // Two or four digits: nothing to overflow.
  int value = 0;
  for (const char digit : piece) value = value * 10 + (digit - '0');
  return value;
}

}  // namespace

double ToFloat(std::string_view centsText) {
  if (EmptyString(centsText)) return 0;
  std::string_view text = TrimBlanks(centsText);
  const bool negative = text.front() == '-';
  if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
  if (!IsDigits(text)) NotCents(centsText);
  const double amount = CentsToAmount(text);
  return negative && amount != 0 ? -amount : amount;
}

std::string ToString(double amount) {
  if (!std::isfinite(amount)) {
    throw ConversionError("'" + FloatToStr(amount) + "' is not an amount that can be written");
  }
  if (amount <= 0) return "0";
  std::string cents = WholeCents(amount);
  // At least one digit before the implied decimals: 0.05 is "005".
  if (cents.size() < 3) cents.insert(0, 3 - cents.size(), '0');
  return cents;
}

double ToDateTime(std::string_view serviceDate) {
  if (EmptyString(serviceDate)) return Now() + kDaysUntilUndatedExpiry;
  const std::string_view text = TrimBlanks(serviceDate);
  const bool dateOnly = text.size() == 10;
  if (!dateOnly && text.size() < 19) NotServiceDate(serviceDate);
  // Fixed positions: the separators between date pieces and the "T" are not
  // looked at, those of the time are.
  DateTimeParts parts;
  parts.year = Number(text, 0, 4, serviceDate);
  parts.month = Number(text, 5, 2, serviceDate);
  parts.day = Number(text, 8, 2, serviceDate);
  if (!dateOnly) {
    if (text[13] != ':' || text[16] != ':') NotServiceDate(serviceDate);
    parts.hour = Number(text, 11, 2, serviceDate);
    parts.minute = Number(text, 14, 2, serviceDate);
    parts.second = Number(text, 17, 2, serviceDate);
  }
  const auto value = EncodeDateTime(parts);
  if (!value) NotServiceDate(serviceDate);
  return *value;
}

std::string ToDateTimeORVO(double dateTime) {
  // DecodeDateTime rounds to the millisecond; the milliseconds are then left out.
  const DateTimeParts p = DecodeDateTime(dateTime);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return text;
}

}  // namespace lumirex::conversions
