// A sale or cancellation report's way through the outbox during its call:
// kept before it is sent, so that a host killed at any moment loses none;
// out of the waiting line once the service gives a verdict; held behind
// earlier reports of its own order. An outbox that cannot be used never
// stops a report the service can take.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "integration/call_outcome.hpp"
#include "outbox/outbox.hpp"

namespace lumirex {

// Whether a report that failed with this code may be kept: a later attempt
// can mend a service that was not reached (a certificate that expired or is
// not valid yet included: nothing was sent), or that answered without a
// verdict.
bool MayBeKept(std::int32_t error);

class OutboxKeeping {
 public:
  OutboxKeeping();
  ~OutboxKeeping();
  OutboxKeeping(const OutboxKeeping&) = delete;
  OutboxKeeping& operator=(const OutboxKeeping&) = delete;

  // Before the report is sent, when the outbox is on: keeps it, or, when
  // earlier reports of its order wait, keeps it behind them. A fault of the
  // outbox is logged in one line and the report goes out without it. With
  // `notTried` (why the offline path will not send it), it is kept as failed
  // for that reason, unclaimed, in one write.
  void Begin(outbox::Report report, const std::string& notTried = {});
  // Raises CallFailure when earlier reports of its order wait: it may not
  // overtake them.
  void HoldIfBehind() const;
  // The service's verdict: the report leaves the waiting line.
  void Answered(bool accepted, const std::string& message) noexcept;
  // The call failed: the report waits for a later attempt when one can mend
  // the failure, else leaves the outbox. Says so in the record's message
  // and sets `queued`.
  void Failed(CallRecord& record) noexcept;

 private:
  void Forget() noexcept;

  std::unique_ptr<outbox::Outbox> box_;
  std::int64_t id_ = 0;   // the report kept ahead of its sending
  bool behind_ = false;   // kept behind earlier reports of its order, not sent
  bool untried_ = false;  // kept as failed: the offline path does not send it
  std::string problem_;   // why the outbox could not be used
  std::int32_t holdCode_ = LUMIREX_OK;
  std::string holdReason_;
};

}  // namespace lumirex
