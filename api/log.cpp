// The integration log through the C ABI, for a host that logs lines of its own.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "api/text_out.hpp"
#include "lumirex/lumirex.h"
#include "support/datetime.hpp"
#include "support/host_text.hpp"
#include "support/log.hpp"
#include "support/no_cancellation.hpp"

extern "C" {

int LumirexLog(const char* text, size_t size, char* error, size_t error_size) {
  const lumirex::NoCancellation noCancellation;
  try {
    // A line of the host's own is never a step of a call, even when written
    // from inside one (a host's services): it is a block of its own.
    lumirex::WriteLogLineAlone(
        std::string_view(text == nullptr ? "" : text, text == nullptr ? 0 : size), {});
    lumirex::api::CopyOut("", error, error_size);
    return 0;
  } catch (const std::exception& failure) {
    lumirex::api::CopyOut(failure.what(), error, error_size);
  } catch (...) {
    lumirex::api::CopyOut("unknown error", error, error_size);
  }
  return 1;
}

size_t LumirexLogFilePath(char* buffer, size_t size) {
  const lumirex::NoCancellation noCancellation;
  try {
    return lumirex::api::CopyOut(lumirex::HostTextFromUtf8(lumirex::LogFilePathFor(lumirex::Now())),
                                 buffer, size);
  } catch (...) {
    return lumirex::api::CopyOut("", buffer, size);
  }
}

}  // extern "C"
