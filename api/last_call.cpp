// What became of the calling thread's last call.
#include "api/text_out.hpp"
#include "integration/call_outcome.hpp"
#include "lumirex/lumirex.h"

extern "C" int32_t LumirexLastCall(LumirexCallOutcome* outcome, char* message, size_t size) {
  const lumirex::CallRecord& record = lumirex::LastCallRecord();
  if (outcome != nullptr) {
    *outcome = LumirexCallOutcome{record.error, record.httpStatus, record.sent ? 1 : 0,
                                  record.queued ? 1 : 0};
  }
  // A failure always has a message, if only the fixed one.
  lumirex::api::CopyOut(record.message.empty()
                            ? std::string_view(lumirex::FixedMessage(record.error))
                            : std::string_view(record.message),
                        message, size);
  return record.error;
}
