#include "integration/outbox_sending.hpp"

#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "integration/call_outcome.hpp"
#include "integration/exchange.hpp"
#include "integration/integration_call.hpp"
#include "messages/operation_result.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/log.hpp"
#include "support/number_text.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

// The service's verdict on a resent report, or the failure that left it waiting.
void ReadVerdict(const std::string& response, outbox::Attempt& attempt) {
  Variant result = Variant::Array(2);
  std::exception_ptr failure;
  if (!getRetVenda(response, result, &failure).asBool()) {
    throw CallFailure(LUMIREX_E_ANSWER, UnreadAnswerText(failure));
  }
  attempt.verdict = true;
  attempt.accepted = !result.items()[0].asBool();
  attempt.message = result.items()[1].asString();
}

// One report sent again, logged as a block of its own in the shape of a call,
// so support reads it like any other.
outbox::Attempt Resend(const outbox::Report& report, CallRecord& record) {
  outbox::Attempt attempt;
  record = CallRecord{};
  const LogSession logSession;
  try {
    WriteLogLine(kSeparatorLine);
    WriteLogLine("INICIO");
    WriteLogLine("P_OUTBOX     = report " + std::to_string(report.id) + " kept " + report.keptAt +
                 ", attempt " + std::to_string(report.attempts + 1));
    LogRequestLines({report.operation, report.cpf, report.branch, report.till, report.sequence, "",
                     report.url, report.document});
    TStringStream body = report.body;
    const std::string response = Exchange(report.url, report.method, body, record);
    WriteLogLine("RETORNO      = ", RemoveCarriageReturns(response));
    RequireVerdictStatus(record.httpStatus, response);
    ReadVerdict(response, attempt);
    WriteLogLine("FIM");
  } catch (...) {
    RecordCurrentFailure(record);
    WriteFailureLine(record.message);
    attempt = outbox::Attempt{false, false, record.error, record.message};
  }
  return attempt;
}

void RecordUnusable(const std::string& message) noexcept {
  try {
    CallRecord& record = LastCallRecord();
    record = CallRecord{};
    record.error = LUMIREX_E_INPUT;
    record.message = message;
  } catch (...) {
  }
}

// Sends until a report fails or `maxReports` were tried; returns how many got a verdict.
std::int32_t SendFrom(outbox::Outbox& box, std::int32_t maxReports, CallRecord& last) {
  std::int32_t answered = 0;
  for (std::int32_t tried = 0; maxReports < 1 || tried < maxReports; ++tried) {
    std::optional<outbox::Attempt> attempt;
    {
      // One report at a time under the calls' lock: its log block stays whole.
      std::lock_guard lock(CallMutex());
      attempt =
          box.SendOldest([&last](const outbox::Report& report) { return Resend(report, last); });
    }
    if (!attempt) break;
    if (!attempt->verdict) break;  // the link is still down: the rest would fail too
    ++answered;
  }
  return answered;
}

}  // namespace

std::int32_t SendKeptReports(std::int32_t maxReports) noexcept {
  if (CallMutex().HeldByThisThread()) {
    RecordUnusable("the outbox cannot be sent from inside a call");
    LastCallRecord().error = LUMIREX_E_STATE;
    return -1;
  }
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) {
      RecordUnusable("the outbox is off: name its file with LumirexSetOutbox or LUMIREX_OUTBOX");
      return -1;
    }
    outbox::Outbox box(*file);
    CallRecord last;
    const std::int32_t answered = SendFrom(box, maxReports, last);
    LastCallRecord() = std::move(last);
    return answered;
  } catch (const std::exception& error) {
    RecordUnusable(error.what());
  } catch (...) {
    RecordUnusable("unknown error");
  }
  return -1;
}

std::int32_t CountKeptReports() noexcept {
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) return -1;
    const std::int64_t count = outbox::Outbox(*file).WaitingCount();
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
  } catch (...) {
    return -1;
  }
}

}  // namespace lumirex
