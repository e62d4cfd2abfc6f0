// What became of an integration call: the code a till decides its next step
// by, whether the request may have reached the service, and the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "lumirex/lumirex.h"

namespace lumirex {

// A failure of a call step whose code the step knows (one of LUMIREX_E_*).
class CallFailure : public std::runtime_error {
 public:
  CallFailure(std::int32_t code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  std::int32_t code() const { return code_; }

 private:
  std::int32_t code_;
};

struct CallRecord {
  std::int32_t error = LUMIREX_OK;
  std::int32_t httpStatus = 0;  // of the answer; 0 when none arrived
  bool sent = false;            // the request left the library
  bool queued = false;          // kept to be sent again later
  std::string message;          // the operator message; empty after a true return
};

// The record of the last call made on the calling thread.
CallRecord& LastCallRecord() noexcept;

// The message of a record that has none: a fixed text that holds when even
// the failure's own message could not be kept.
const char* FixedMessage(std::int32_t error) noexcept;

// The last resort of an exported function that ran out of memory: the
// thread's record says so and the operator hears it, without allocating.
// keepExchange keeps what the record says of the exchange (sent, status,
// kept in the outbox), for a failure after the call itself.
void RecordOutOfMemory(bool keepExchange = false) noexcept;

// Tells the operator of a failed call: the failure line's text, or the fixed
// out-of-memory text when that text cannot be built.
void TellOperator(const CallRecord& record) noexcept;

// The code of the exception being handled (call it inside a catch block):
// what the exception says of itself, or `unclassified` when it says nothing
// (a value that cannot be converted is the host's input before the exchange,
// the exchange's after it, the answer's while it is read).
std::int32_t CodeOf(std::int32_t unclassified) noexcept;

// The code of a failure no step classified, by how far the call got.
inline std::int32_t UnclassifiedCode(const CallRecord& record) {
  return record.sent ? LUMIREX_E_TRANSFER : LUMIREX_E_INPUT;
}

// Records the exception being handled (call it inside a catch block): its
// code (CodeOf), what it says about the exchange, and its message.
void RecordCurrentFailure(CallRecord& record, std::int32_t unclassified) noexcept;

// Makes the thread's last call record say this failure and nothing else.
// Returns false when the message could not be kept (out of memory): the code
// then stands alone.
bool RecordLastFailure(std::int32_t error, const char* message) noexcept;

}  // namespace lumirex
