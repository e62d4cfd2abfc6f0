// The outbox part of the C ABI. Nothing here throws across the boundary.
#include <optional>
#include <string>

#include "integration/call_outcome.hpp"
#include "integration/outbox_sending.hpp"
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

}  // extern "C"
