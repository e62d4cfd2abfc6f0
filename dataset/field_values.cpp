#include "dataset/field_values.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

#include "support/datetime.hpp"
#include "support/settings.hpp"

namespace lumirex::field_values {
namespace {

// Reads fixed-layout date and time texts from left to right.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }

  // Consumes `ch` when it comes next.
  bool Char(char ch) {
    if (AtEnd() || text_[pos_] != ch) return false;
    ++pos_;
    return true;
  }

  // Exactly `count` digits.
  bool Number(std::size_t count, int& out) {
    if (text_.size() - pos_ < count) return false;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char ch = text_[pos_ + i];
      if (ch < '0' || ch > '9') return false;
      value = value * 10 + (ch - '0');
    }
    pos_ += count;
    out = value;
    return true;
  }

  // One to three digits of a second's fraction, as milliseconds.
  bool Fraction(int& millisecond) {
    int value = 0;
    std::size_t digits = 0;
    while (digits < 3 && !AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      value = value * 10 + (text_[pos_++] - '0');
      ++digits;
    }
    for (std::size_t i = digits; i < 3; ++i) value *= 10;
    millisecond = value;
    return digits > 0;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// "hh:nn[:ss[.fff]]"; the fraction only where `withFraction`.
bool ScanClock(Scanner& in, DateTimeParts& parts, bool withFraction) {
  if (!(in.Number(2, parts.hour) && in.Char(':') && in.Number(2, parts.minute))) return false;
  if (!in.Char(':')) return true;
  if (!in.Number(2, parts.second)) return false;
  return !withFraction || !in.Char('.') || in.Fraction(parts.millisecond);
}

std::optional<double> Finish(const Scanner& in, const DateTimeParts& parts) {
  if (!in.AtEnd()) return std::nullopt;
  return EncodeDateTime(parts);
}

std::optional<double> ParseSqliteDateTime(std::string_view text) {
  Scanner in(text);
  DateTimeParts parts;
  if (!(in.Number(4, parts.year) && in.Char('-') && in.Number(2, parts.month) && in.Char('-') &&
        in.Number(2, parts.day))) {
    return std::nullopt;
  }
  if (!in.AtEnd() && !((in.Char(' ') || in.Char('T')) && ScanClock(in, parts, true))) {
    return std::nullopt;
  }
  return Finish(in, parts);
}

std::optional<double> ParseDayFirstDateTime(std::string_view text) {
  Scanner in(text);
  DateTimeParts parts;
  if (!(in.Number(2, parts.day) && in.Char('/') && in.Number(2, parts.month) && in.Char('/') &&
        in.Number(4, parts.year))) {
    return std::nullopt;
  }
  if (!in.AtEnd() && !(in.Char(' ') && ScanClock(in, parts, false))) return std::nullopt;
  return Finish(in, parts);
}

bool ScanPacketDate(Scanner& in, DateTimeParts& parts) {
  return in.Number(4, parts.year) && in.Number(2, parts.month) && in.Number(2, parts.day);
}

// Writes the `width` last decimal digits of a value of 0 or more at `at`.
// A packet has a date-time in every row, so they are put together in a
// buffer and appended once.
char* PutDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  return at + width;
}

// "yyyymmdd", the date as a packet writes it.
char* PutCompactDate(char* at, const DateTimeParts& p) {
  return PutDigits(PutDigits(PutDigits(at, p.year, 4), p.month, 2), p.day, 2);
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  const auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<std::int64_t> ParseIntegerText(std::string_view text) {
  return ParseInteger(TrimBlanks(text));
}

std::optional<double> ParsePointDecimal(std::string_view text) {
  // from_chars takes a '-' but no '+', and also "inf" and "nan", which are
  // no decimal numbers: after one sign a digit or the point must follow.
  const bool plus = text.starts_with('+');
  const std::size_t sign = plus || text.starts_with('-') ? 1 : 0;
  if (text.size() <= sign ||
      !(std::isdigit(static_cast<unsigned char>(text[sign])) || text[sign] == '.')) {
    return std::nullopt;
  }
  if (plus) text.remove_prefix(1);
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string FormatPointDecimal(double value, bool fixedNotation) {
  char buffer[400];  // the longest fixed-notation double has 309 integer digits
  const auto result =
      fixedNotation ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                    : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseNumberText(std::string_view text) {
  std::string normalized(TrimBlanks(text));
  const char separator = settings::DecimalSeparator();
  if (separator != '.') {
    for (char& ch : normalized) {
      if (ch == separator) ch = '.';
    }
  }
  return ParsePointDecimal(normalized);
}

bool InDateTimeRange(double value) {
  // 0001-01-01 is day -693593; earlier times of that day count further below.
  return value > -693594.0 && value < 2958466.0;
}

double DatePart(double value) {
  DateTimeParts parts = DecodeDateTime(value);
  parts.hour = parts.minute = parts.second = parts.millisecond = 0;
  return EncodeDateTime(parts).value_or(std::trunc(value));
}

std::optional<double> ParsePacketDate(std::string_view text) {
  Scanner in(text);
  DateTimeParts parts;
  if (!ScanPacketDate(in, parts)) return std::nullopt;
  return Finish(in, parts);
}

std::optional<double> ParsePacketDateTime(std::string_view text) {
  Scanner in(text);
  DateTimeParts parts;
  if (!(ScanPacketDate(in, parts) && in.Char('T') && in.Number(2, parts.hour) && in.Char(':') &&
        in.Number(2, parts.minute) && in.Char(':') && in.Number(2, parts.second))) {
    return std::nullopt;
  }
  if (!in.AtEnd() && !in.Number(3, parts.millisecond)) return std::nullopt;
  return Finish(in, parts);
}

void AppendPacketDate(std::string& out, double value) {
  char text[8];
  out.append(text, PutCompactDate(text, DecodeDateTime(value)));
}

void AppendPacketDateTime(std::string& out, double value) {
  const DateTimeParts p = DecodeDateTime(value);
  char text[20];
  char* at = PutCompactDate(text, p);
  *at++ = 'T';
  at = PutDigits(at, p.hour, 2);
  *at++ = ':';
  at = PutDigits(at, p.minute, 2);
  *at++ = ':';
  at = PutDigits(at, p.second, 2);
  out.append(text, PutDigits(at, p.millisecond, 3));
}

std::optional<double> ParseDateTimeText(std::string_view text) {
  text = TrimBlanks(text);
  if (auto value = ParseSqliteDateTime(text)) return value;
  return ParseDayFirstDateTime(text);
}

}  // namespace lumirex::field_values
