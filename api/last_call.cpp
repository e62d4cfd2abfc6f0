// What became of the calling thread's last call, through both public APIs.
#include <algorithm>
#include <cstring>

#include "integration/call_outcome.hpp"
#include "lumirex/lumirex.h"
#include "lumirex/lumirex.hpp"

namespace lumirex {

CallOutcome LastCall() {
  const CallRecord& record = LastCallRecord();
  return CallOutcome{record.error, record.httpStatus, record.sent, record.queued, record.message};
}

}  // namespace lumirex

extern "C" int32_t LumirexLastCall(LumirexCallOutcome* outcome, char* message, size_t size) {
  const lumirex::CallRecord& record = lumirex::LastCallRecord();
  if (outcome != nullptr) {
    *outcome = LumirexCallOutcome{record.error, record.httpStatus, record.sent ? 1 : 0,
                                  record.queued ? 1 : 0};
  }
  if (message != nullptr && size > 0) {
    const std::size_t length = std::min(record.message.size(), size - 1);
    std::memcpy(message, record.message.data(), length);
    message[length] = '\0';
  }
  return record.error;
}
