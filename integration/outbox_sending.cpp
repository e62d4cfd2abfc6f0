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
#include "integration/kept_outcome.hpp"
#include "integration/outbox_status.hpp"
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
// Whether the exception in flight says the exchange was not tried.
bool IsNotTried() noexcept {
  try {
    throw;
  } catch (const NotTried&) {
    return true;
  } catch (...) {
    return false;
  }
}

// Not tried (an offline service, not probed now): `untried` is set.
outbox::Attempt Resend(const outbox::Report& report, const std::string& base, Exchanger exchanger,
                       CallRecord& record, bool& untried) {
  outbox::Attempt attempt;
  const std::string url = base + report.path;
  record = CallRecord{};
  const settings::CallSettings callSettings;
  LogSession logSession;
  try {
    WriteLogLine(log_format::kSeparatorLine);
    WriteLogLine(log_format::kStart);
    WriteLogLine(OutboxLine(report));
    // A resend is a call like the others: it waits its turn, and for the
    // calls about its order that came first. The forwarder's runs beside
    // the calls' bound: no cashier waits for it.
    std::optional<CallTurn> turn;
    std::optional<ForwardingTurn> forwardingTurn;
    if (exchanger == Exchanger::Forwarder) {
      forwardingTurn.emplace(kCallTimeout);
    } else {
      turn.emplace(kCallTimeout);
    }
    OrderTurn orderTurn;
    orderTurn.Take(report.orderId);
    LogRequestLines({report.operation, report.cpf, report.branch, report.till, report.sequence, ""},
                    url, report.document);
    const HttpAnswer answer = WatchedExchange(
        CallRequest(HttpMethodNamed(report.method), url, report.body), base, record, exchanger);
    LogAnswerLine(answer.body);
    ReadVerdict(RequireVerdictStatus(answer), answer.body, attempt);
    WriteLogLine(log_format::kEnd);
  } catch (...) {
    untried = IsNotTried();
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
// an outage, however long, holds none. A report not tried (its service
// offline) is given back as it was, and ends the round.
SendingRound SendFrom(outbox::Outbox& box, std::int32_t maxReports,
                      const std::optional<std::string>& given, Exchanger exchanger,
                      const std::function<bool()>& stop, CallRecord& failed) {
  SendingRound round;
  std::int64_t after = 0;
  std::set<std::string> answering;  // base URLs that gave a verdict in this round
  for (std::int32_t tried = 0; maxReports < 1 || tried < maxReports; ++tried) {
    if (stop && stop()) break;
    // The end of the process waits for a resend, and none starts after it began.
    const process_exit::CallInFlight inFlight;
    if (!inFlight.admitted()) break;
    const std::optional<outbox::Report> report = box.Claim(after);
    if (!report) break;
    after = report->id;
    const std::string base = BaseOf(*report, given);
    CallRecord record;
    bool untried = false;
    outbox::Attempt attempt = Resend(*report, base, exchanger, record, untried);
    if (untried) {
      box.GiveBack(report->id);
      round.unreachable = true;
      break;
    }
    if (attempt.verdict) answering.insert(base);
    attempt.mayHold = !attempt.verdict && answering.contains(base);
    const outbox::State state = box.Record(report->id, attempt);
    NoteOutboxChanged();
    TellKeptOutcome(*report, state, attempt);
    if (attempt.verdict) {
      ++round.answered;
      continue;
    }
    failed = std::move(record);
    if (LinkDown(attempt.error)) {
      round.unreachable = true;
      break;
    }
    round.failed = true;
  }
  return round;
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
    const SendingRound round = SendFrom(box, maxReports, baseUrl, Exchanger::Asked, {}, failed);
    LastCallRecord() = std::move(failed);
    return round.answered;
  } catch (...) {
    // The outbox that cannot be read or written (busy, damaged, full) is no fault of the host's.
    CallRecord& record = LastCallRecord();
    record = CallRecord{};
    RecordCurrentFailure(record);
  }
  return -1;
}

SendingRound SendRoundNow(Exchanger exchanger, const std::function<bool()>& stop) noexcept {
  const NoCancellation noCancellation;
  SendingRound round;
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) return round;
    outbox::Outbox box(*file);
    CallRecord failed;
    round = SendFrom(box, 0, std::nullopt, exchanger, stop, failed);
  } catch (...) {
    // The outbox cannot be used now (busy, a full disk): the next round tries.
    round.failed = true;
  }
  return round;
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
