// StrToFloat on any text, under either decimal separator (the first byte
// chooses): a number or ConversionError, nothing else. What FloatToStr then
// writes of the number reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "support/errors.hpp"
#include "support/number_text.hpp"
#include "support/settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  lumirex::settings::SetDecimalSeparator((data[0] & 1) != 0 ? '.' : ',');
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  double value = 0;
  try {
    value = lumirex::StrToFloat(text);
  } catch (const lumirex::ConversionError&) {
    return 0;
  }
  const std::string written = lumirex::FloatToStr(value);
  FUZZ_CHECK(lumirex::FloatToStr(lumirex::StrToFloat(written)) == written);
  return 0;
}
