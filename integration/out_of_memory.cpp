// The last resort of an exported function that ran out of memory. Kept in a
// file of its own so that the allocation-failure sweep can put a faulty one
// in its place and show that it is caught.
#include "integration/call_outcome.hpp"

namespace lumirex {

void RecordOutOfMemory(bool keepExchange) noexcept {
  CallRecord& record = LastCallRecord();
  record.error = LUMIREX_E_MEMORY;
  if (!keepExchange) {
    record.httpStatus = 0;
    record.sent = false;
    record.queued = false;
  }
  record.message.clear();  // LumirexLastCall gives the fixed text
  TellOperator(record);
}

}  // namespace lumirex
