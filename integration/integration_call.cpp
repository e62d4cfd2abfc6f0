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
#include "integration/outbox_keeping.hpp"
#include "integration/outbox_sending.hpp"
#include "integration/process_exit.hpp"
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
constexpr std::size_t kValidationParameters = 10;

// One call, made once at its start and handed down: the operation and the
// host's texts, the request as it goes out, and what became of the call.
struct CallContext {
  explicit CallContext(CallRecord& outcome) : record(outcome) {}

  HostTexts texts;        // parameters 0 and 2 to 5, and 6 for a validation
  std::string baseUrl;    // parameter 1, after the trailing-slash rule
  std::string shortfall;  // why the result array cannot take the whole answer; "" when it can

  pugi::xml_document requestDocument;
  std::string urlTail;  // set by the branch the operation takes, and only then
  // Its body is the one serialisation of the document; the log and the
  // outbox take theirs from it.
  HttpRequest request = CallRequest(HttpMethod::Post, {}, {});
  std::string document;  // the request document as logged and kept, CRs removed
  std::string orderId;   // the order a report names, kept as it was appended

  CallRecord& record;
  // Given back after the outbox has the outcome: the next report of the
  // order sees it.
  OrderTurn orderTurn;
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
  // The trailing-slash rule; an empty URL becomes "/".
  if (call.baseUrl.empty() || call.baseUrl.back() != '/') call.baseUrl += '/';
}

// Checked once, before anything is built or sent: an answer the service has
// acted on must have somewhere to go. A customer query's array that reaches
// index 1 but not 4 still gets the elements that fit, and the call then fails
// with what this returns; it returns "" for an array that takes every element.
std::string CheckResultArray(const Variant* result, const std::string& operation) {
  if (result == nullptr) throw CallFailure(LUMIREX_E_INPUT, "the result array is missing");
  if (!result->isArray()) throw CallFailure(LUMIREX_E_INPUT, "the result is not an array");
  const std::size_t size = result->items().size();
  const std::size_t written = operation == "CONSULTA" ? 5 : 2;
  if (size >= written) return {};
  std::string shortfall = "the result array has " + std::to_string(size) +
                          (size == 1 ? " element" : " elements") + "; " + operation + " writes " +
                          std::to_string(written);
  if (size < 2) throw CallFailure(LUMIREX_E_INPUT, shortfall);
  return shortfall;
}

// "VENDA 0001/001/000123: ", or the operation alone when the key is empty.
std::string BranchContext(const HostTexts& texts) {
  std::string context = texts.operation;
  if (!texts.branch.empty() || !texts.till.empty() || !texts.sequence.empty()) {
    context += " " + texts.branch + "/" + texts.till + "/" + texts.sequence;
  }
  return context + ": ";
}

// Runs a request branch; what fails in it names the operation and the sale
// key, so support knows which sale to look at.
template <typename Branch>
void RunBranch(const HostTexts& texts, Branch&& branch) {
  try {
    branch();
  } catch (const std::exception& error) {
    if (dynamic_cast<const DatabaseError*>(&error) == nullptr &&
        dynamic_cast<const ConversionError*>(&error) == nullptr) {
      throw;
    }
    throw CallFailure(CodeOf(LUMIREX_E_INPUT), BranchContext(texts) + error.what());
  }
}

// The four tests are made one after the other, not chained: at most one
// matches. The request's URL is made here, once.
void PrepareRequest(const std::vector<Variant>& params, CallContext& call,
                    TrdmIntegraLumirex& module) {
  std::string orderXml;
  RequestParts out{call.requestDocument, call.request.body, call.urlTail, &orderXml, &call.orderId};
  const HostTexts& texts = call.texts;
  const SaleKey key{texts.branch, texts.till, texts.sequence};
  if (texts.operation == "CONSULTA") {
    // Encoded, so a CPF holding "&", "=" or blanks cannot add or change query parameters.
    call.urlTail = "user?cpf=" + PercentEncode(texts.cpf) + "&pdv=true";
    call.request.method = HttpMethod::Get;
  }
  if (texts.operation == "VALIDA_PROMOCODE") {
    RequireParameters(params.size(), kValidationParameters, texts.operation);
    RunBranch(texts,
              [&] { BuildValidationRequest(params, module.cdsVenda, call.texts.promocode, out); });
  }
  if (texts.operation == "VENDA") {
    RunBranch(texts, [&] {
      module.UseConnectionString(Services()->GetStringConexVex(""));
      BuildSaleRequest(key, module.adqVenda, module.adqItemVenda, out);
    });
  }
  if (texts.operation == "VENDA_CANC") {
    RunBranch(texts, [&] {
      module.UseConnectionString(Services()->GetStringConexVex(""));
      BuildCancellationRequest(key, module.adqVenda, out);
    });
  }
  call.document = RemoveCarriageReturns(orderXml);
  call.request.url = call.baseUrl + call.urlTail;
}

// An operation code no branch took: nothing is sent.
void RequireKnownOperation(const CallContext& call) {
  if (!call.urlTail.empty()) return;
  throw CallFailure(LUMIREX_E_INPUT, "unknown operation '" + call.texts.operation +
                                         "'; expected CONSULTA, VALIDA_PROMOCODE, VENDA or "
                                         "VENDA_CANC");
}

bool IsReport(const HostTexts& texts) {
  return texts.operation == "VENDA" || texts.operation == "VENDA_CANC";
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
    throw;
  }
}

// The answer's elements, in the result's order. A customer query's document
// is gone before its packet is made, so that the tree of a large answer and
// its packet are never held at once.
std::vector<Variant> ReadAnswer(const std::string& operation,
                                std::optional<ResponseDocument> loaded, std::string_view body,
                                TrdmIntegraLumirex& module) {
  if (operation != "CONSULTA") {
    CommonPart verdict = module.getRetVenda(AnswerDocument(std::move(loaded), body));
    return {Variant(verdict.errorFlag), Variant(std::move(verdict.message))};
  }
  CustomerAnswer customer;
  {
    const ResponseDocument document = AnswerDocument(std::move(loaded), body);
    customer = module.getConsulta(document);
  }
  std::vector<Variant> elements;
  elements.reserve(5);
  elements.emplace_back(customer.common.errorFlag);
  elements.emplace_back(std::move(customer.common.message));
  elements.emplace_back(std::move(customer.name));
  elements.emplace_back(customer.balance);
  elements.emplace_back(module.cdsPromocao.GetData());
  return elements;
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
  call.shortfall = CheckResultArray(result, call.texts.operation);
  PrepareRequest(params, call, module);
  if (IsReport(call.texts)) {
    TakeOrderTurn(call);
    // Kept before anything about it is logged: a host killed after its lines
    // are in the log has it in the outbox.
    call.keeping.Begin(ReportOf(call));
  }
  LogRequestLines(call.texts, call.request.url, call.document);
  RequireKnownOperation(call);
  call.keeping.HoldIfBehind();
}

bool CallSteps(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
               CallContext& call) {
  const BorrowedModule borrowed;
  TrdmIntegraLumirex& module = *borrowed;
  PrepareCall(params, result, copyRefusal, call, module);

  const HttpAnswer answer = Exchange(call.request, call.record);
  RememberServiceUrl(call.baseUrl);
  LogAnswerLine(answer.body);
  std::optional<ResponseDocument> loaded = RequireVerdictStatus(answer);
  try {
    WriteResult(*result, ReadAnswer(call.texts.operation, std::move(loaded), answer.body, module),
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
                 const std::string& copyRefusal, CallRecord& record) noexcept {
  CallContext call(record);
  try {
    if (CallSteps(params, result, copyRefusal, call)) return true;
  } catch (...) {
    RecordCurrentFailure(record, UnclassifiedCode(record));
    call.keeping.Failed(record);
    WriteFailureLine(record.message);
  }
  if (record.error == LUMIREX_OK) record.error = LUMIREX_E_ANSWER;
  return false;
}

// A call made on a thread that is inside a call already, from its operator
// message or from services of the host's own: refused at once, never waited
// for, as what it would wait for (its order, the log block) is this thread's own.
void RefuseReentry() noexcept {
  WriteFailureLine(kReentered);
  RecordLastFailure(LUMIREX_E_STATE, kReentered);
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
    RecordCurrentFailure(record, UnclassifiedCode(record));
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

// A call's lines that could not be written when it ended: the call fails as
// if its last line had failed, and the caller's array stays as it was.
void FinishLog(LogSession& session, bool& returned, CallRecord& record) noexcept {
  try {
    session.Finish();
  } catch (...) {
    // A call that failed already keeps its own reason, which the operator hears.
    if (!returned) return;
    RecordCurrentFailure(record, UnclassifiedCode(record));
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
    // The call's settings are read once, and its lines go through one
    // descriptor and stay one block.
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
