// conversions::ToDateTime on any text: a date-time or ConversionError,
// nothing else. An accepted service date comes back from ToDateTimeORVO as
// the same date and time (only the date's separators and the "T" may differ).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "support/conversions.hpp"
#include "support/errors.hpp"
#include "support/text.hpp"

namespace {

// The text as ToDateTimeORVO writes the moment a valid service date names.
std::string Canonical(std::string_view valid) {
  const std::string_view text = lumirex::TrimBlanks(valid);
  std::string canonical = std::string(text.substr(0, 4)) + '-' + std::string(text.substr(5, 2)) +
                          '-' + std::string(text.substr(8, 2)) + 'T';
  canonical += text.size() == 10 ? std::string("00:00:00") : std::string(text.substr(11, 8));
  return canonical;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  double moment = 0;
  try {
    moment = lumirex::conversions::ToDateTime(text);
  } catch (const lumirex::ConversionError&) {
    return 0;
  }
  // An empty text is a year from now: any readable moment will do.
  const std::string written = lumirex::conversions::ToDateTimeORVO(moment);
  if (!lumirex::EmptyString(text)) FUZZ_CHECK(written == Canonical(text));
  return 0;
}
