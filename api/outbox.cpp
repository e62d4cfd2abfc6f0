// The outbox part of the C ABI. Nothing here throws across the boundary.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "integration/call_outcome.hpp"
#include "integration/forwarder.hpp"
#include "integration/kept_outcome.hpp"
#include "integration/outbox_sending.hpp"
#include "integration/outbox_status.hpp"
#include "integration/service_health.hpp"
#include "lumirex/lumirex.h"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/host_text.hpp"
#include "support/no_cancellation.hpp"

extern "C" {

int LumirexSetOutbox(const char* file) {
  const lumirex::NoCancellation noCancellation;
  try {
    std::optional<std::string> named;
    if (file != nullptr) named = lumirex::Utf8FromHostText(file);  // kept as UTF-8
    lumirex::outbox::SetFile(named);
    // Opened now, so a file that cannot be had is known before a report
    // needs it. Named all the same: until it can be used, reports are sent
    // without it, and each call says why.
    if (named) lumirex::outbox::Outbox check(*named);
    return 0;
  } catch (const std::exception& error) {
    // Out of memory for the message too: said as such.
    if (!lumirex::RecordLastFailure(LUMIREX_E_INPUT, error.what())) lumirex::RecordOutOfMemory();
  } catch (...) {
    lumirex::RecordOutOfMemory();
  }
  return 1;
}

int LumirexSetOutboxLimit(int32_t max_reports) {
  return lumirex::outbox::SetLimit(max_reports) ? 0 : 1;
}

int32_t LumirexOutboxSend(int32_t max_reports) {
  return lumirex::SendKeptReports(max_reports, std::nullopt);
}

int32_t LumirexOutboxSendTo(const char* base_url, int32_t max_reports) {
  try {
    std::optional<std::string> url;
    if (base_url != nullptr) url = std::string(base_url);
    return lumirex::SendKeptReports(max_reports, url);
  } catch (...) {
    return -1;  // out of memory copying the URL
  }
}

int32_t LumirexOutboxCount(void) {
  return lumirex::CountKeptReports();
}

int LumirexSetForwarding(int32_t on) {
  lumirex::SetForwardingOn(on != 0);
  return 0;
}

int LumirexSetOfflinePath(int32_t on) {
  lumirex::SetOfflinePathOn(on != 0);
  return 0;
}

int LumirexOutboxSendSoon(void) {
  return lumirex::ForwardSoon() ? 0 : 1;
}

int32_t LumirexOutboxStatus(LumirexOutboxState* state) {
  // The fields up to `waiting` at least: a host that knows none cannot be filled.
  constexpr std::size_t kLeast = offsetof(LumirexOutboxState, waiting) + sizeof(int32_t);
  if (state == nullptr || state->size < kLeast) {
    lumirex::RecordLastFailure(LUMIREX_E_INPUT,
                               "LumirexOutboxStatus needs a LumirexOutboxState with its size set");
    return LUMIREX_E_INPUT;
  }
  lumirex::OutboxStatusNow now;
  const bool read = lumirex::ReadOutboxStatus(now);
  LumirexOutboxState filled{};
  filled.size = state->size;
  filled.waiting = static_cast<int32_t>(std::min<std::int64_t>(now.waiting, INT32_MAX));
  filled.held = static_cast<int32_t>(std::min<std::int64_t>(now.held, INT32_MAX));
  filled.offline = now.watch.offline ? 1 : 0;
  filled.oldest_age = now.oldestAge;
  filled.offline_since = now.watch.offlineSince;
  filled.last_answer = now.watch.lastAnswer;
  filled.forwarding = now.forwarding ? 1 : 0;
  // A host compiled against an earlier header gets the fields it knows.
  std::memcpy(state, &filled, std::min<std::size_t>(state->size, sizeof filled));
  return read ? 0 : 1;
}

void LumirexSetOutboxHandler(LumirexOutboxHandler handler, void* context) {
  lumirex::SetKeptOutcomeHandler(handler, context);
}

}  // extern "C"
