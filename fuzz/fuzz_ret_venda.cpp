// getRetVenda on any bytes, loaded as a call loads them: the reading may
// fail, raising, but it never crashes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "messages/operation_result.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view response(reinterpret_cast<const char*>(data), size);
  try {
    lumirex::ResponseDocument document;
    document.Load(response);
    lumirex::getRetVenda(document);
  } catch (const std::exception&) {
    // An answer that cannot be read: the call says so.
  }
  return 0;
}
