#include "integration/outbox_keeping.hpp"

#include "integration/forwarder.hpp"
#include "integration/outbox_status.hpp"
#include "outbox/outbox_error.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"

namespace lumirex {

namespace {

constexpr const char* kKept = "; kept in the outbox; it will be sent again";

// A report kept behind earlier ones of its order was not sent: it fails as
// one that could not start in time, as when the library is busy with its
// order, never as an exchange that broke off.
constexpr std::int32_t kBehindCode = LUMIREX_E_TIMEOUT;

}  // namespace

bool MayBeKept(std::int32_t error) {
  return error == LUMIREX_E_CONNECT || error == LUMIREX_E_TLS || error == LUMIREX_E_TIMEOUT ||
         error == LUMIREX_E_TRANSFER || error == LUMIREX_E_HTTP || error == LUMIREX_E_ANSWER ||
         error == LUMIREX_E_INTERNAL;
}

OutboxKeeping::OutboxKeeping() = default;
OutboxKeeping::~OutboxKeeping() = default;

void OutboxKeeping::Begin(outbox::Report report, const std::string& notTried) {
  const std::optional<std::string> file = outbox::File();
  if (!file) return;
  std::optional<std::int32_t> waiting;
  try {
    box_ = std::make_unique<outbox::Outbox>(*file);
    if (box_->Made()) WriteLogLine(log_format::kOutbox, *file + " was missing; made anew");
    waiting = box_->WaitingError(report.orderId);
    if (!waiting && !notTried.empty()) {
      report.lastError = LUMIREX_E_CONNECT;
      report.lastMessage = notTried;
      box_->Keep(report, outbox::Limit(), false);
      NoteOutboxChanged();
      untried_ = true;
      return;
    }
    if (!waiting) {
      id_ = box_->Keep(report, outbox::Limit(), true);
      NoteOutboxChanged();
      return;
    }
    report.lastError = kBehindCode;
    report.lastMessage = "kept behind earlier reports of its order; nothing was sent";
    box_->Keep(report, outbox::Limit(), false);
    NoteOutboxChanged();
    behind_ = true;
  } catch (const outbox::OutboxError& error) {
    box_.reset();
    problem_ = error.what();
    if (!waiting) {
      WriteLogLine(log_format::kOutbox, problem_ + "; the report is sent without it");
      return;
    }
  }
  // Reports of one order reach the service in the order they were made: a
  // cancellation sent ahead of its waiting sale would be refused, and the
  // sale then counted with its cashback.
  holdCode_ = kBehindCode;
  holdReason_ = "earlier reports of order " + report.orderId +
                " wait in the outbox; this one may not overtake them, and was not sent";
}

void OutboxKeeping::HoldIfBehind() const {
  if (holdCode_ != LUMIREX_OK) throw CallFailure(holdCode_, holdReason_);
}

void OutboxKeeping::Answered(bool accepted, const std::string& message) noexcept {
  if (!box_ || id_ == 0) return;
  try {
    outbox::Attempt attempt;
    attempt.verdict = true;
    attempt.accepted = accepted;
    attempt.message = message;
    box_->Record(id_, attempt);
    NoteOutboxChanged();
  } catch (...) {
    // The report stays claimed, and is sent again once the claim runs out;
    // the service refuses the repeat, and the outbox says so.
  }
}

void OutboxKeeping::Forget() noexcept {
  try {
    box_->Forget(id_);
    NoteOutboxChanged();
  } catch (...) {
    // Left claimed, it is sent again later and the service decides.
  }
}

void OutboxKeeping::Failed(CallRecord& record) noexcept {
  try {
    if (behind_ || untried_) {
      record.queued = true;
      record.message += kKept;
      ReportLeftWaiting();
      return;
    }
    if (!problem_.empty()) {
      record.message += "; not kept: " + problem_;
      return;
    }
    if (!box_ || id_ == 0) return;
    if (!MayBeKept(record.error)) {
      Forget();
      return;
    }
    try {
      box_->Record(id_, outbox::Attempt{false, false, record.error, record.message, record.sent});
      NoteOutboxChanged();
    } catch (...) {
      // Kept already, claimed: a sender takes it once the claim runs out.
    }
    record.queued = true;
    record.message += kKept;
    ReportLeftWaiting();
  } catch (...) {
    // Out of memory: the call fails as it would without an outbox.
  }
}

}  // namespace lumirex
