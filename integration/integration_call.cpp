#include "integration/integration_call.hpp"

#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "integration/call_gate.hpp"
#include "integration/call_outcome.hpp"
#include "integration/data_module_pool.hpp"
#include "integration/exchange.hpp"
#include "integration/operation_steps.hpp"
#include "integration/outbox_keeping.hpp"
#include "integration/outbox_sending.hpp"
#include "integration/process_exit.hpp"
#include "integration/service_health.hpp"
#include "messages/operation_result.hpp"
#include "messages/requests.hpp"
#include "messages/response_document.hpp"
#include "shared_services/shared_services.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"
#include "support/no_cancellation.hpp"
#include "support/number_text.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

constexpr const char* kReentered =
    "called again on a thread that is inside a call (from the message handler?); refused, "
    "as it would wait for itself";
constexpr std::size_t kCommonParameters = 6;

// One call, made once at its start and handed down: the operation and the
// host's texts, the request as it goes out, and what became of the call.
struct CallContext {
  explicit CallContext(CallRecord& outcome) : record(outcome) {}

  HostTexts texts;                       // parameters 0 and 2 to 5, and 6 for a validation
  const Operation* operation = nullptr;  // its row; null for a code no row has
  std::string baseUrl;                   // parameter 1, after the trailing-slash rule
  std::string shortfall;  // why the result array cannot take the whole answer; "" when it can

  std::string urlTail;  // set by the operation's builder, and only then
  // Its body is the one serialisation of the document; the log and the
  // outbox take theirs from it.
  HttpRequest request = CallRequest(HttpMethod::Post, {}, {});
  std::string document;  // the request document as logged and kept, CRs removed
  std::string orderId;   // the order a report names, kept as it was appended

  CallRecord& record;
  // Given back after the outbox has the outcome: the next report of the
  // order sees it.
  OrderTurn orderTurn;
  // Whether the exchange may go: for a report, decided before it is kept.
  std::optional<Admission> admission;
  OutboxKeeping keeping;
};

// A list shorter than the operation needs is refused before anything reads
// past its end.
void RequireParameters(std::size_t count, std::size_t needed, const std::string& operation) {
  if (count >= needed) return;
  throw ConversionError("the parameter list has " + std::to_string(count) + " element" +
                        (count == 1 ? "" : "s") + "; " +
                        (count == 0 ? std::string("every operation") : operation) + " needs " +
                        std::to_string(needed));
}

// A UTF-8 host's texts are checked once, before any of them is logged, built
// into a document or compared: a text that is not UTF-8 would go out as
// something the service cannot read.
void RequireHostTexts(const std::vector<Variant>& params) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].type() != Variant::Type::String) continue;
    RequireHostText(params[i].asString(), "parameter " + std::to_string(i));
  }
}

void ReadCommonParameters(const std::vector<Variant>& params, CallContext& call) {
  std::string operation = params.empty() ? std::string() : VariantToText(params[0]);
  RequireParameters(params.size(), kCommonParameters, operation);
  call.texts.operation = std::move(operation);
  call.baseUrl = VariantToText(params[1]);
  call.texts.cpf = VariantToText(params[2]);
  call.texts.branch = VariantToText(params[3]);
  call.texts.till = VariantToText(params[4]);
  call.texts.sequence = VariantToText(params[5]);
  if (!HasHttpScheme(call.baseUrl))
    throw CallFailure(LUMIREX_E_INPUT, NoHttpSchemeText(call.baseUrl));
  // The trailing-slash rule.
  if (call.baseUrl.empty() || call.baseUrl.back() != '/') call.baseUrl += '/';
}

// Checked once, before anything is built or sent: an answer the service has
// acted on must have somewhere to go. A customer query's array that reaches
// index 1 but not 4 still gets the elements that fit, and the call then fails
// with what this returns; it returns "" for an array that takes every element.
std::string CheckResultArray(const Variant* result, const CallContext& call) {
  if (result == nullptr) throw CallFailure(LUMIREX_E_INPUT, "the result array is missing");
  if (!result->isArray()) throw CallFailure(LUMIREX_E_INPUT, "the result is not an array");
  const std::size_t size = result->items().size();
  // An unknown operation is refused before anything is written; 2 keeps the
  // array's own refusal first.
  const std::size_t written = call.operation != nullptr ? call.operation->resultElements : 2;
  if (size >= written) return {};
  std::string shortfall = "the result array has " + std::to_string(size) +
                          (size == 1 ? " element" : " elements") + "; " + call.texts.operation +
                          " writes " + std::to_string(written);
  if (size < 2) throw CallFailure(LUMIREX_E_INPUT, shortfall);
  return shortfall;
}

// The operation's row gives the method and the list's length; its builder
// writes the request and sets the URL tail. The request's URL is made here, once.
void PrepareRequest(const std::vector<Variant>& params, CallContext& call,
                    TrdmIntegraLumirex& module) {
  std::string orderXml;
  if (call.operation != nullptr) {
    const Operation& operation = *call.operation;
    RequireParameters(params.size(), operation.parameters, call.texts.operation);
    call.request.method = HttpMethodNamed(std::string(operation.method));
    RequestInput input{params, call.texts, module,
                       RequestParts{call.request.body, call.urlTail, &orderXml, &call.orderId}};
    StepsOf(operation).build(input);
  }
  call.document = RemoveCarriageReturns(orderXml);
  call.request.url = call.baseUrl + call.urlTail;
}

// An operation code no row has: nothing is sent.
void RequireKnownOperation(const CallContext& call) {
  if (call.operation != nullptr) return;
  throw CallFailure(LUMIREX_E_INPUT, "unknown operation '" + call.texts.operation + "'; expected " +
                                         OperationNames());
}

bool IsReport(const CallContext& call) {
  return call.operation != nullptr && call.operation->report;
}

// The report as the outbox keeps it: its path and body, and the base URL it
// was made with, without password.
outbox::Report ReportOf(const CallContext& call) {
  outbox::Report report;
  report.operation = call.texts.operation;
  report.cpf = call.texts.cpf;
  report.branch = call.texts.branch;
  report.till = call.texts.till;
  report.sequence = call.texts.sequence;
  report.orderId = call.orderId;
  report.url = outbox::WithoutPassword(call.baseUrl);
  report.path = call.urlTail;
  report.method = HttpMethodName(call.request.method);
  report.body = call.request.body;
  report.document = call.document;
  return report;
}

// Waits for the calls about the same order that came first: a cancellation
// never overtakes its sale. One that waited too long is kept behind them in
// the outbox when there is one.
void TakeOrderTurn(CallContext& call) {
  try {
    call.orderTurn.Take(call.orderId);
  } catch (const CallFailure&) {
    call.keeping.Begin(ReportOf(call));
    // Its block names the operation and the sale, as every report's does.
    LogRequestLines(call.texts, call.request.url, call.document);
    throw;
  }
}

// Writes the elements the result array takes, then raises the shortfall
// CheckResultArray found, if any.
void WriteResult(Variant& result, std::vector<Variant> elements, const std::string& shortfall) {
  std::vector<Variant>& items = result.items();
  for (std::size_t i = 0; i < elements.size() && i < items.size(); ++i) {
    items[i] = std::move(elements[i]);
  }
  if (!shortfall.empty()) throw CallFailure(LUMIREX_E_INPUT, shortfall);
}

// Everything before the exchange: the parameters, the result array, the
// request, the outbox and lines 1 to 11 of the log.
void PrepareCall(const std::vector<Variant>& params, const Variant* result,
                 const std::string& copyRefusal, CallContext& call, TrdmIntegraLumirex& module) {
  WriteLogLine(log_format::kSeparatorLine);
  WriteLogLine(log_format::kStart);
  if (!copyRefusal.empty()) throw CallFailure(LUMIREX_E_INPUT, copyRefusal);
  RequireHostTexts(params);
  ReadCommonParameters(params, call);
  call.operation = OperationNamed(call.texts.operation);
  call.shortfall = CheckResultArray(result, call);
  PrepareRequest(params, call, module);
  if (IsReport(call)) {
    RememberCredentials(call.baseUrl);
    TakeOrderTurn(call);
    // Kept before anything about it is logged: a host killed after its lines
    // are in the log has it in the outbox. One the offline path will not
    // try is kept as failed.
    call.admission.emplace(call.baseUrl, Exchanger::Call);
    call.keeping.Begin(ReportOf(call), call.admission->Refusal());
  }
  LogRequestLines(call.texts, call.request.url, call.document);
  RequireKnownOperation(call);
  call.keeping.HoldIfBehind();
}

// `busy`: the call could not start, and only keeps its report, failing as
// the library being busy.
bool CallSteps(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
               CallContext& call, const CallRecord* busy) {
  const BorrowedModule borrowed;
  TrdmIntegraLumirex& module = *borrowed;
  PrepareCall(params, result, copyRefusal, call, module);
  if (busy != nullptr) throw CallFailure(busy->error, busy->message);

  if (!call.admission) call.admission.emplace(call.baseUrl, Exchanger::Call);
  const HttpAnswer answer = WatchedExchange(call.request, *call.admission, call.record);
  LogAnswerLine(answer.body);
  std::optional<ResponseDocument> loaded = RequireVerdictStatus(answer);
  try {
    WriteResult(*result, StepsOf(*call.operation).read(std::move(loaded), answer.body, module),
                call.shortfall);
  } catch (...) {
    RecordUnreadAnswer(call.record);
    call.keeping.Failed(call.record);
    WriteFailureLine(call.record.message);
    WriteLogLine(log_format::kEnd);
    return false;
  }
  call.keeping.Answered(!result->items()[0].asBool(), result->items()[1].asString());
  WriteLogLine(log_format::kEnd);
  return true;
}

// The call in its turn: every failure is logged and recorded, none escapes.
bool GuardedCall(const std::vector<Variant>& params, Variant* result,
                 const std::string& copyRefusal, CallRecord& record,
                 const CallRecord* busy = nullptr) noexcept {
  CallContext call(record);
  try {
    if (CallSteps(params, result, copyRefusal, call, busy)) return true;
  } catch (...) {
    RecordCurrentFailure(record);
    call.keeping.Failed(record);
    WriteFailureLine(record.message);
  }
  if (record.error == LUMIREX_OK) record.error = LUMIREX_E_ANSWER;
  return false;
}

// A call made on a thread that is inside a call already, from its operator
// message or from services of the host's own: refused at once, never waited
// for, as what it would wait for (its order, the log block) is this thread's own.
// Its line is a block of its own: in the block of the call it came from, it
// would read as that call's failure.
void RefuseReentry() noexcept {
  try {
    WriteLogLineAlone(log_format::kFailureLabel, kReentered);
  } catch (...) {
    // The log itself is what failed; the outcome below still says why.
  }
  RecordLastFailure(LUMIREX_E_STATE, kReentered);
}

bool NamesReport(const std::vector<Variant>& params) {
  if (params.empty()) return false;
  const Operation* operation = OperationNamed(VariantToText(params[0]));
  return operation != nullptr && operation->report;
}

// A sale or cancellation report whose call could not start is built and kept
// in the outbox all the same (queued = 1), and its block names the operation
// and the sale: a busy library loses no report. It sends nothing, and fails
// as the library being busy. False when even this cannot start (a Finalize
// under way).
bool KeepWhileBusy(const std::vector<Variant>& params, Variant* result,
                   const std::string& copyRefusal, CallRecord& record) noexcept {
  try {
    if (!NamesReport(params)) return false;
    const KeepingTurn turn{kCallTimeout};
    const CallRecord busy = record;
    record = CallRecord{};
    GuardedCall(params, result, copyRefusal, record, &busy);
    return true;
  } catch (...) {
    return false;
  }
}

// The call once it has its turn; a call that cannot get one within its
// time-out is logged and fails as the library being busy.
bool CallInTurn(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
                CallRecord& record) noexcept {
  std::optional<CallTurn> turn;
  try {
    turn.emplace(kCallTimeout);
    if (process_exit::Ending()) throw CallFailure(LUMIREX_E_STATE, process_exit::kRefused);
  } catch (...) {
    RecordCurrentFailure(record);
    if (KeepWhileBusy(params, result, copyRefusal, record)) return false;
    try {
      WriteLogLine(log_format::kSeparatorLine);
      WriteLogLine(log_format::kStart);
    } catch (...) {
      // The failure line below says it, or the operator hears it.
    }
    WriteFailureLine(record.message);
    return false;
  }
  return GuardedCall(params, result, copyRefusal, record);
}

// A call whose block could not be appended when it ended fails with the
// log's code (its request may have gone out: `sent` says), and the caller's
// array stays as it was: no call returns true without its record.
void FinishLog(LogSession& session, bool& returned, CallRecord& record) noexcept {
  try {
    session.Finish();
  } catch (...) {
    // A call that failed already keeps its own reason, which the operator hears.
    if (!returned) return;
    RecordCurrentFailure(record);
    returned = false;
  }
}

// Set while a call runs on this thread, its operator message included.
thread_local bool callInProgress = false;

class CallInProgress {
 public:
  CallInProgress() { callInProgress = true; }
  ~CallInProgress() { callInProgress = false; }
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;
};

// The call's outcome is the thread's last call before the operator hears of
// a failure, so the handler may read it. Whatever the handler calls then
// (a nested call refused, the outbox sent) records its own outcome; the
// call's is put back once the handler returns, for the host that asks after
// the false return.
void Conclude(CallRecord record) noexcept {
  CallRecord& last = LastCallRecord();
  if (record.error == LUMIREX_OK) {
    last = std::move(record);
    return;
  }
  try {
    last = record;
  } catch (...) {
    // Out of memory for the copy: the handler reads the code without the text.
    last = CallRecord{record.error, record.httpStatus, record.sent, record.queued, {}};
  }
  TellOperator(record);
  last = std::move(record);
}

}  // namespace

bool RunIntegrationCall(std::vector<Variant> params, Variant* result,
                        std::string copyRefusal) noexcept {
  // A cancelled thread is cancelled once the call, its operator message
  // included, is over (support/no_cancellation.hpp).
  const NoCancellation noCancellation;
  if (callInProgress) {
    // Only logged and recorded: telling the operator would run the same
    // handler again.
    RefuseReentry();
    return false;
  }
  // Made once the process has begun to end, the call is refused untouched:
  // the log and the operator's handler may be gone.
  const process_exit::CallInFlight inFlight;
  if (!inFlight.admitted()) {
    RecordLastFailure(LUMIREX_E_STATE, process_exit::kRefused);
    return false;
  }
  CallInProgress inProgress;
  CallRecord record;
  bool returned = false;
  {
    // The call's settings are read once, and its lines are one block,
    // appended before the call returns.
    settings::CallSettings callSettings;
    LogSession logSession;
    returned = CallInTurn(params, result, copyRefusal, record);
    FinishLog(logSession, returned, record);
  }
  // Told once the turn is given back, so that the handler may call Finalize,
  // or anything else that waits for the calls in flight.
  Conclude(std::move(record));
  return returned;
}

}  // namespace lumirex
