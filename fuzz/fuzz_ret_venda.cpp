// getRetVenda on any bytes, with the five-element result array a customer
// query hands over: the reading may fail, but it never crashes or throws, and
// it writes elements 0 and 1 together or not at all.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "messages/operation_result.hpp"

using lumirex::Variant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view response(reinterpret_cast<const char*>(data), size);
  Variant result = Variant::Array(5);
  const bool read = lumirex::getRetVenda(response, result).asBool();

  const auto& items = result.items();
  FUZZ_CHECK(items.size() == 5);
  if (read) {
    FUZZ_CHECK(items[0].type() == Variant::Type::Bool);
    FUZZ_CHECK(items[1].type() == Variant::Type::String);
  } else {
    FUZZ_CHECK(items[0].isEmpty() && items[1].isEmpty());
  }
  for (std::size_t i = 2; i < items.size(); ++i) FUZZ_CHECK(items[i].isEmpty());
  return 0;
}
