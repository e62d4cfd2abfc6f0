#include "integration/outbox_sending.hpp"

#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "integration/call_gate.hpp"
#include "integration/call_outcome.hpp"
#include "integration/exchange.hpp"
#include "integration/process_exit.hpp"
#include "messages/operation_result.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"
#include "support/no_cancellation.hpp"
#include "support/number_text.hpp"
#include "support/process_state.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

// The base URLs with a password that calls of this process used, by the URL
// without it: the outbox keeps no password, and a report made here goes
// again with the credentials it was made with. Only in memory.
struct Credentials {
  std::mutex mutex;
  std::map<std::string, std::string> byService;
};
constexpr std::size_t kMaxCredentials = 64;

// The base URL a kept report goes to: the one support names, else the one it
// was made with, with its password when a call of this process used it.
std::string BaseOf(const outbox::Report& report, const std::optional<std::string>& given) {
  std::string base = given ? *given : report.url;
  if (!given) {
    Credentials& known = ProcessState<Credentials>();
    std::lock_guard lock(known.mutex);
    const auto found = known.byService.find(report.url);
    if (found != known.byService.end()) base = found->second;
  }
  if (base.empty() || base.back() != '/') base += '/';
  return base;
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
    RecordCurrentFailure(record);
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
  return error == LUMIREX_E_CONNECT || error == LUMIREX_E_TIMEOUT || error == LUMIREX_E_TLS;
}

// Claims, sends and records one report at a time, so no transaction spans an
// exchange; a report that fails holds back only later reports of its order.
// A failure counts towards holding a report only when its service gave other
// reports a verdict in this round: the service refuses that one report, while
// an outage, however long, holds none.
std::int32_t SendFrom(outbox::Outbox& box, std::int32_t maxReports,
                      const std::optional<std::string>& given, CallRecord& failed) {
  std::int32_t answered = 0;
  std::int64_t after = 0;
  std::set<std::string> answering;  // base URLs that gave a verdict in this round
  for (std::int32_t tried = 0; maxReports < 1 || tried < maxReports; ++tried) {
    // The end of the process waits for a resend, and none starts after it began.
    const process_exit::CallInFlight inFlight;
    if (!inFlight.admitted()) break;
    const std::optional<outbox::Report> report = box.Claim(after);
    if (!report) break;
    after = report->id;
    const std::string base = BaseOf(*report, given);
    CallRecord record;
    outbox::Attempt attempt = Resend(*report, base + report->path, record);
    if (attempt.verdict) answering.insert(base);
    attempt.mayHold = !attempt.verdict && answering.contains(base);
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

void RememberCredentials(const std::string& baseUrl) {
  try {
    std::string service = outbox::WithoutPassword(baseUrl);
    if (service == baseUrl) return;
    Credentials& known = ProcessState<Credentials>();
    std::lock_guard lock(known.mutex);
    if (known.byService.size() >= kMaxCredentials) known.byService.clear();
    known.byService[std::move(service)] = baseUrl;
  } catch (...) {
    // Out of memory: the report goes without the password, and support
    // names the URL with it.
  }
}

std::int32_t SendKeptReports(std::int32_t maxReports,
                             const std::optional<std::string>& baseUrl) noexcept {
  const NoCancellation noCancellation;
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
    if (baseUrl && !HasHttpScheme(*baseUrl)) {
      RecordLastFailure(LUMIREX_E_INPUT, NoHttpSchemeText(*baseUrl).c_str());
      return -1;
    }
    outbox::Outbox box(*file);
    CallRecord failed;
    const std::int32_t answered = SendFrom(box, maxReports, baseUrl, failed);
    LastCallRecord() = std::move(failed);
    return answered;
  } catch (...) {
    // The outbox that cannot be read or written (busy, damaged, full) is no fault of the host's.
    CallRecord& record = LastCallRecord();
    record = CallRecord{};
    RecordCurrentFailure(record);
  }
  return -1;
}

std::int32_t CountKeptReports() noexcept {
  const NoCancellation noCancellation;
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
