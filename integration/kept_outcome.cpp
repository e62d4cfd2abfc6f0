#include "integration/kept_outcome.hpp"

#include <mutex>

#include "support/process_state.hpp"

namespace lumirex {

namespace {

struct Handler {
  std::mutex mutex;
  LumirexOutboxHandler handler = nullptr;
  void* context = nullptr;
};

std::int32_t EndOf(outbox::State state) {
  switch (state) {
    case outbox::State::Accepted:
      return LUMIREX_KEPT_ACCEPTED;
    case outbox::State::Declined:
      return LUMIREX_KEPT_DECLINED;
    case outbox::State::Held:
      return LUMIREX_KEPT_HELD;
    case outbox::State::Dropped:
      return LUMIREX_KEPT_DROPPED;
    case outbox::State::Waiting:
      break;
  }
  return 0;
}

}  // namespace

void SetKeptOutcomeHandler(LumirexOutboxHandler handler, void* context) noexcept {
  Handler& slot = ProcessState<Handler>();
  std::lock_guard lock(slot.mutex);
  slot.handler = handler;
  slot.context = context;
}

void TellKeptOutcome(const outbox::Report& report, outbox::State state,
                     const outbox::Attempt& attempt) noexcept {
  const std::int32_t end = EndOf(state);
  if (end == 0) return;
  LumirexOutboxHandler handler = nullptr;
  void* context = nullptr;
  {
    Handler& slot = ProcessState<Handler>();
    std::lock_guard lock(slot.mutex);
    handler = slot.handler;
    context = slot.context;
  }
  if (handler == nullptr) return;
  // The host's texts as it gave them, and the service's message as the
  // call's result would have had it: all in the host's encoding already.
  LumirexKeptOutcome outcome{};
  outcome.size = sizeof outcome;
  outcome.end = end;
  outcome.report = report.id;
  outcome.operation = report.operation.c_str();
  outcome.branch = report.branch.c_str();
  outcome.till = report.till.c_str();
  outcome.sequence = report.sequence.c_str();
  outcome.order_id = report.orderId.c_str();
  outcome.message = attempt.message.c_str();
  outcome.repeat = report.sent ? 1 : 0;
  handler(&outcome, context);
}

}  // namespace lumirex
