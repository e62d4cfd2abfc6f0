// conversions::ToFloat on any text: an amount or ConversionError, nothing
// else. An accepted text of at most 15 significant digits comes back from
// ToString as its canonical cents text, so the pair loses nothing a till needs.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "support/conversions.hpp"
#include "support/errors.hpp"
#include "support/text.hpp"

namespace {

constexpr std::size_t kExactDigits = 15;

// The cents text ToString writes for the amount a valid text stands for:
// no sign, no leading zeros, at least three digits; "0" for none or less.
std::string Canonical(std::string_view valid) {
  std::string_view text = lumirex::TrimBlanks(valid);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const std::size_t first = text.find_first_not_of('0');
  if (first == std::string_view::npos || negative) return "0";
  std::string digits(text.substr(first));
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits;
}

std::size_t SignificantDigits(std::string_view canonical) {
  const std::size_t first = canonical.find_first_not_of('0');
  return first == std::string_view::npos ? 0 : canonical.size() - first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  double amount = 0;
  try {
    amount = lumirex::conversions::ToFloat(text);
  } catch (const lumirex::ConversionError&) {
    return 0;
  }
  FUZZ_CHECK(std::isfinite(amount));
  if (lumirex::EmptyString(text)) {
    FUZZ_CHECK(amount == 0);
    return 0;
  }
  const std::string canonical = Canonical(text);
  if (SignificantDigits(canonical) <= kExactDigits) {
    FUZZ_CHECK(lumirex::conversions::ToString(amount) == canonical);
  }
  return 0;
}
