#include "integration/outbox_keeping.hpp"

#include "outbox/outbox_settings.hpp"

namespace lumirex {

bool MayBeKept(std::int32_t error) {
  return error == LUMIREX_E_CONNECT || error == LUMIREX_E_TIMEOUT || error == LUMIREX_E_TRANSFER ||
         error == LUMIREX_E_HTTP;
}

std::optional<std::int32_t> WaitingBehind(const std::string& orderId) {
  const std::optional<std::string> file = outbox::File();
  if (!file) return std::nullopt;
  return outbox::Outbox(*file).WaitingError(orderId);
}

void KeepReport(outbox::Report report, CallRecord& record) noexcept {
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file || !MayBeKept(record.error)) return;
    report.lastError = record.error;
    report.lastMessage = record.message;
    try {
      outbox::Outbox(*file).Keep(report, outbox::Limit());
    } catch (const std::exception& error) {
      record.message += std::string("; not kept in the outbox: ") + error.what();
      return;
    }
    record.queued = true;
    record.message += "; kept in the outbox; it will be sent again";
  } catch (...) {
    // Out of memory: the call fails as it would without an outbox.
  }
}

}  // namespace lumirex
