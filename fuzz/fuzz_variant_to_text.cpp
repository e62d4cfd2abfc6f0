// VariantToText on a variant of any kind built from the bytes (arrays nested
// a few deep): text or ConversionError, nothing else, and the error exactly
// for an array. Numbers and date-times come out in forms the library reads
// back. The same variant also crosses to the C ABI's variant and back intact.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "lumirex/lumirex.h"
#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/number_text.hpp"

namespace {

using lumirex::Variant;

constexpr int kMaxDepth = 3;
constexpr std::size_t kMaxItems = 8;

// Any bit pattern, NaNs and infinities included.
double AnyDouble(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? input.ConsumeFloatingPoint<double>()
                             : input.ConsumeFloatingPointInRange<double>(-1e7, 1e7);
}

Variant BuildVariant(FuzzedDataProvider& input, int depth) {
  switch (input.ConsumeIntegralInRange<int>(0, depth < kMaxDepth ? 7 : 6)) {
    case 0:
      return Variant();
    case 1:
      return Variant::Null();
    case 2:
      return Variant(input.ConsumeBool());
    case 3:
      return Variant(input.ConsumeIntegral<std::int64_t>());
    case 4:
      return Variant(AnyDouble(input));
    case 5:
      return Variant::DateTime(AnyDouble(input));
    case 6:
      return Variant(input.ConsumeRandomLengthString(256));
    default: {
      std::vector<Variant> items(input.ConsumeIntegralInRange<std::size_t>(0, kMaxItems));
      for (Variant& item : items) item = BuildVariant(input, depth + 1);
      return Variant(std::move(items));
    }
  }
}

void CheckText(const Variant& value, const std::string& text) {
  switch (value.type()) {
    case Variant::Type::Double:
      if (text != "NAN" && text != "INF" && text != "-INF") {
        FUZZ_CHECK(lumirex::FloatToStr(lumirex::StrToFloat(text)) == text);
      }
      return;
    case Variant::Type::DateTime:
      // "dd/mm/yyyy", and " hh:nn:ss" unless it is midnight.
      FUZZ_CHECK(text.size() == 10 || text.size() == 19);
      return;
    case Variant::Type::String:
      FUZZ_CHECK(text == value.asString());
      return;
    default:
      return;
  }
}

void CheckCrossesTheAbi(const Variant& value) {
  LumirexVariant c;
  value.toC(&c);
  const Variant back = Variant::fromC(c);
  LumirexVariantClear(&c);
  if (value == value) FUZZ_CHECK(back == value);  // NaN is never equal to itself
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Variant value = BuildVariant(input, 0);
  std::string text;
  try {
    text = lumirex::VariantToText(value);
  } catch (const lumirex::ConversionError&) {
    // Only an array, or a date-time no calendar holds, has no text.
    FUZZ_CHECK(value.isArray() || value.type() == Variant::Type::DateTime);
    CheckCrossesTheAbi(value);
    return 0;
  }
  FUZZ_CHECK(!value.isArray());
  CheckText(value, text);
  CheckCrossesTheAbi(value);
  return 0;
}
