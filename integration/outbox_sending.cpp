#include "integration/outbox_sending.hpp"

#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "integration/call_gate.hpp"
#include "integration/call_outcome.hpp"
#include "integration/exchange.hpp"
#include "messages/operation_result.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"
#include "support/number_text.hpp"
#include "support/process_state.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

struct ServiceUrl {
  std::mutex mutex;
  std::optional<std::string> latest;
};

std::optional<std::string> LatestServiceUrl() {
  ServiceUrl& state = ProcessState<ServiceUrl>();
  std::lock_guard lock(state.mutex);
  return state.latest;
}

// Where a kept report goes now, with the credentials of the URL in use.
std::string TargetOf(const outbox::Report& report, const std::optional<std::string>& given) {
  std::optional<std::string> base = LatestServiceUrl();
  if (!base) base = given;
  if (!base) base = report.url;
  if (base->empty() || base->back() != '/') *base += '/';
  return *base + report.path;
}

// The service's verdict on a resent report, or the failure that left it waiting.
void ReadVerdict(std::optional<ResponseDocument> loaded, std::string_view body,
                 outbox::Attempt& attempt) {
  CommonPart verdict;
  try {
    verdict = getRetVenda(AnswerDocument(std::move(loaded), body));
  } catch (...) {
    CallRecord unread;
    RecordUnreadAnswer(unread);
    throw CallFailure(LUMIREX_E_ANSWER, unread.message);
  }
  attempt.verdict = true;
  attempt.accepted = !verdict.errorFlag;
  attempt.message = std::move(verdict.message);
}

std::string OutboxLine(const outbox::Report& report) {
  std::string line = std::string(log_format::kOutbox) + "report " + std::to_string(report.id) +
                     " kept " + report.keptAt + ", attempt " + std::to_string(report.attempts + 1);
  if (report.sent) {
    line += "; an earlier attempt may have arrived: a refusal as a repeat means the service has it";
  }
  return line;
}

// One report sent again, logged as a block of its own in the shape of a call,
// so support reads it like any other.
outbox::Attempt Resend(const outbox::Report& report, const std::string& url, CallRecord& record) {
  outbox::Attempt attempt;
  record = CallRecord{};
  const settings::CallSettings callSettings;
  LogSession logSession;
  try {
    WriteLogLine(log_format::kSeparatorLine);
    WriteLogLine(log_format::kStart);
    WriteLogLine(OutboxLine(report));
    // A resend is a call like the others: it waits its turn, and for the
    // calls about its order that came first.
    const CallTurn turn{kCallTimeout};
    OrderTurn orderTurn;
    orderTurn.Take(report.orderId);
    LogRequestLines({report.operation, report.cpf, report.branch, report.till, report.sequence, ""},
                    url, report.document);
    const HttpAnswer answer =
        Exchange(CallRequest(HttpMethodNamed(report.method), url, report.body), record);
    LogAnswerLine(answer.body);
    ReadVerdict(RequireVerdictStatus(answer), answer.body, attempt);
    WriteLogLine(log_format::kEnd);
  } catch (...) {
    RecordCurrentFailure(record, UnclassifiedCode(record));
    WriteFailureLine(record.message);
    attempt = outbox::Attempt{false, false, record.error, record.message, record.sent};
  }
  try {
    logSession.Finish();
  } catch (...) {
    // The outcome is recorded in the outbox all the same; the block is lost.
  }
  return attempt;
}

// The service or the way to it is down: the reports after this one would
// fail the same way. A refusal of one report (413, an unreadable answer)
// says nothing of the others.
bool LinkDown(std::int32_t error) {
  return error == LUMIREX_E_CONNECT || error == LUMIREX_E_TIMEOUT;
}

// Claims, sends and records one report at a time, so no transaction spans an
// exchange; a report that fails holds back only later reports of its order.
std::int32_t SendFrom(outbox::Outbox& box, std::int32_t maxReports,
                      const std::optional<std::string>& given, CallRecord& failed) {
  std::int32_t answered = 0;
  std::int64_t after = 0;
  for (std::int32_t tried = 0; maxReports < 1 || tried < maxReports; ++tried) {
    const std::optional<outbox::Report> report = box.Claim(after);
    if (!report) break;
    after = report->id;
    CallRecord record;
    const outbox::Attempt attempt = Resend(*report, TargetOf(*report, given), record);
    box.Record(report->id, attempt);
    if (attempt.verdict) {
      ++answered;
      continue;
    }
    failed = std::move(record);
    if (LinkDown(attempt.error)) break;
  }
  return answered;
}

}  // namespace

void RememberServiceUrl(const std::string& baseUrl) {
  try {
    ServiceUrl& state = ProcessState<ServiceUrl>();
    std::lock_guard lock(state.mutex);
    state.latest = baseUrl;
  } catch (...) {
    // Out of memory: kept reports go where they would have gone.
  }
}

std::int32_t SendKeptReports(std::int32_t maxReports,
                             const std::optional<std::string>& baseUrl) noexcept {
  if (TurnHeldByThisThread()) {
    RecordLastFailure(LUMIREX_E_STATE, "the outbox cannot be sent from inside a call");
    return -1;
  }
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) {
      RecordLastFailure(LUMIREX_E_INPUT,
                        "the outbox is off: name its file with LumirexSetOutbox or LUMIREX_OUTBOX");
      return -1;
    }
    outbox::Outbox box(*file);
    CallRecord failed;
    const std::int32_t answered = SendFrom(box, maxReports, baseUrl, failed);
    LastCallRecord() = std::move(failed);
    return answered;
  } catch (const std::exception& error) {
    RecordLastFailure(LUMIREX_E_INPUT, error.what());
  } catch (...) {
    RecordLastFailure(LUMIREX_E_INPUT, "unknown error");
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
