// The names of LumirexLastCall's codes, as lumirex.h spells them.
#include <iterator>

#include "lumirex/lumirex.h"

extern "C" const char* LumirexErrorName(int32_t error) {
  // Indexed by the code: lumirex.h numbers them from 0 without a gap.
  static constexpr const char* kNames[] = {
      "LUMIREX_OK",        "LUMIREX_E_INPUT",  "LUMIREX_E_DATABASE", "LUMIREX_E_LOG",
      "LUMIREX_E_CONNECT", "LUMIREX_E_TLS",    "LUMIREX_E_TIMEOUT",  "LUMIREX_E_TRANSFER",
      "LUMIREX_E_HTTP",    "LUMIREX_E_ANSWER", "LUMIREX_E_STATE",    "LUMIREX_E_MEMORY",
      "LUMIREX_E_INTERNAL"};
  static_assert(std::size(kNames) == LUMIREX_E_INTERNAL + 1);
  if (error < 0 || error >= static_cast<int32_t>(std::size(kNames))) return "LUMIREX_E_UNKNOWN";
  return kNames[error];
}
