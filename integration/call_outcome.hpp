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

// Every failure is sorted into its code here, and nowhere else. Call these
// inside a catch block; each reads the exception being handled.
//
// Records it: its code, what it says of the exchange (sent, the status), and
// its message. A failure that does not name its own code is the host's input
// while nothing was sent (a value that cannot be converted), the exchange's
// once the request left, and the library's own when it is not one of ours.
void RecordCurrentFailure(CallRecord& record) noexcept;

// As RecordCurrentFailure, for a failure while the answer was read: the
// message says "the answer could not be read" with the reason, and what
// cannot be converted is the answer's fault.
void RecordUnreadAnswer(CallRecord& record) noexcept;

// Raises the failure again with `context` before its message when it is
// about the host's data (a database row, a value that cannot be converted),
// so support knows which sale to look at; any other failure goes on as it is.
[[noreturn]] void RethrowNamingData(const std::string& context);

// Makes the thread's last call record say this failure and nothing else.
// Returns false when the message could not be kept (out of memory): the code
// then stands alone.
bool RecordLastFailure(std::int32_t error, const char* message) noexcept;

}  // namespace lumirex
