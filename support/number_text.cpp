#include "support/number_text.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

constexpr int kSignificantDigits = 15;
// Decimal exponents (of the first significant digit) written without an
// exponent: 1e-5 up to, but not including, 1e15.
constexpr int kLowestFixedExponent = -5;
constexpr int kFirstExponentForm = 15;

std::string FixedForm(const DecimalFigures& d, char separator) {
  std::string out;
  if (d.exponent < 0) {
    out = "0";
    out += separator;
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    return out + d.digits;
  }
  const auto integerDigits = static_cast<std::size_t>(d.exponent) + 1;
  if (d.digits.size() <= integerDigits) {
    return d.digits + std::string(integerDigits - d.digits.size(), '0');
  }
  return d.digits.substr(0, integerDigits) + separator + d.digits.substr(integerDigits);
}

std::string ExponentForm(const DecimalFigures& d, char separator) {
  std::string out = d.digits.substr(0, 1);
  if (d.digits.size() > 1) out += separator + d.digits.substr(1);
  return out + 'E' + std::to_string(d.exponent);
}

[[noreturn]] void NotAFloat(std::string_view text) {
  throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Copies a run of digits from text at pos to out; returns how many there were.
std::size_t TakeDigits(std::string_view text, std::size_t& pos, std::string& out) {
  const std::size_t start = pos;
  while (pos < text.size() && IsDigit(text[pos])) out += text[pos++];
  return pos - start;
}

// The number in the form from_chars reads: '.' as separator, no '+'.
std::string Normalize(std::string_view text, char separator) {
  std::string out;
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    if (text[pos] == '-') out += '-';
    ++pos;
  }
  std::size_t digits = TakeDigits(text, pos, out);
  if (pos < text.size() && text[pos] == separator) {
    out += '.';
    ++pos;
    digits += TakeDigits(text, pos, out);
  }
  if (digits == 0) return {};
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    out += 'e';
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) out += text[pos++];
    if (TakeDigits(text, pos, out) == 0) return {};
  }
  return pos == text.size() ? out : std::string();
}

}  // namespace

DecimalFigures ToDecimalFigures(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::scientific, kSignificantDigits - 1);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  DecimalFigures decimal;
  if (text.front() == '-') {
    decimal.negative = true;
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  for (char c : text.substr(0, e)) {
    if (c != '.') decimal.digits += c;
  }
  std::string_view exponent = text.substr(e + 1);
  if (exponent.front() == '+') exponent.remove_prefix(1);
  std::from_chars(exponent.data(), exponent.data() + exponent.size(), decimal.exponent);
  // Within the last half unit below the largest double, rounding to 15 digits
  // gives 1.79769313486232E308, which lies beyond every double and so would not
  // read back; there the last digit is cut rather than rounded up. Reading
  // back is costly, and nothing below 1.7E308 can round that far.
  double back = 0;
  if (std::fabs(value) >= 1.7e308 &&
      std::from_chars(buffer, result.ptr, back).ec == std::errc::result_out_of_range) {
    --decimal.digits.back();
  }
  decimal.digits.erase(decimal.digits.find_last_not_of('0') + 1);
  return decimal;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  const DecimalFigures decimal = ToDecimalFigures(value);
  const char separator = settings::DecimalSeparator();
  const bool fixed =
      decimal.exponent >= kLowestFixedExponent && decimal.exponent < kFirstExponentForm;
  const std::string body = fixed ? FixedForm(decimal, separator) : ExponentForm(decimal, separator);
  return decimal.negative ? "-" + body : body;
}

double StrToFloat(std::string_view text) {
  const std::string normalized = Normalize(TrimBlanks(text), settings::DecimalSeparator());
  if (normalized.empty()) NotAFloat(text);
  double value = 0;
  const char* end = normalized.data() + normalized.size();
  const auto result = std::from_chars(normalized.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end) NotAFloat(text);
  return value;
}

std::string VariantToText(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Null:
      return "";
    case Variant::Type::Bool:
      return value.asBool() ? "True" : "False";
    case Variant::Type::Int:
      return std::to_string(value.asInt());
    case Variant::Type::Double:
      return FloatToStr(value.asDouble());
    case Variant::Type::DateTime:
      return DateTimeToStr(value.asDouble());
    case Variant::Type::String:
      return value.asString();
    case Variant::Type::Array:
      break;
  }
  throw ConversionError("an array variant cannot be converted to text");
}

bool VariantToBool(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::Bool:
      return value.asBool();
    case Variant::Type::Int:
      return value.asInt() != 0;
    case Variant::Type::Double:
    case Variant::Type::DateTime:
      return value.asDouble() != 0;
    case Variant::Type::String:
      if (EqualsIgnoringCase(value.asString(), "true")) return true;
      if (EqualsIgnoringCase(value.asString(), "false")) return false;
      throw ConversionError("'" + value.asString() + "' is not a valid Boolean value");
    case Variant::Type::Empty:
      throw ConversionError("an empty variant is not a Boolean value");
    case Variant::Type::Null:
      throw ConversionError("a null variant is not a Boolean value");
    case Variant::Type::Array:
      break;
  }
  throw ConversionError("an array variant is not a Boolean value");
}

}  // namespace lumirex
