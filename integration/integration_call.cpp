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
#include "messages/operation_result.hpp"
#include "messages/requests.hpp"
#include "messages/response_document.hpp"
#include "shared_services/shared_services.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"
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

// The text values of one call, as the log and the branches use them.
struct CallValues {
  std::string operation;  // element 0
  std::string baseUrl;    // element 1, after the trailing-slash rule
  std::string cpf;        // element 2
  std::string branch;     // element 3
  std::string till;       // element 4
  std::string sequence;   // element 5
  std::string promocode;  // element 6, VALIDA_PROMOCODE only
  std::string urlTail;
  std::string method;
  std::string orderId;   // the order a report names
  std::string document;  // the request document as logged and kept, CRs removed
  std::string response;
};

// What a call owns from its start to its end, released on every path.
struct CallObjects {
  pugi::xml_document requestDocument;
  TStringStream requestStream;
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
    try {
      RequireHostText(params[i].asString(), "parameter " + std::to_string(i));
    } catch (const ConversionError& error) {
      throw CallFailure(LUMIREX_E_INPUT, error.what());
    }
  }
}

void ReadCommonParameters(const std::vector<Variant>& params, CallValues& values) {
  std::string operation = params.empty() ? std::string() : VariantToText(params[0]);
  RequireParameters(params.size(), kCommonParameters, operation);
  values.operation = std::move(operation);
  values.baseUrl = VariantToText(params[1]);
  values.cpf = VariantToText(params[2]);
  values.branch = VariantToText(params[3]);
  values.till = VariantToText(params[4]);
  values.sequence = VariantToText(params[5]);
  // The trailing-slash rule; an empty URL becomes "/".
  if (values.baseUrl.empty() || values.baseUrl.back() != '/') values.baseUrl += '/';
}

std::size_t ElementsWritten(const std::string& operation) {
  return operation == "CONSULTA" ? 5 : 2;
}

std::string ElementCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " element" : " elements");
}

// Checked before anything is built or sent: an answer the service has acted
// on must have somewhere to go. A customer query's array that reaches index 1
// but not 4 still gets the elements that fit.
void CheckResultArray(const Variant* result, const std::string& operation) {
  if (result == nullptr) throw CallFailure(LUMIREX_E_INPUT, "the result array is missing");
  if (!result->isArray()) throw CallFailure(LUMIREX_E_INPUT, "the result is not an array");
  if (result->items().size() < 2) {
    throw CallFailure(LUMIREX_E_INPUT, "the result array has " +
                                           ElementCount(result->items().size()) + "; " + operation +
                                           " writes " + std::to_string(ElementsWritten(operation)));
  }
}

// "VENDA 0001/001/000123: ", or the operation alone when the key is empty.
std::string BranchContext(const CallValues& values) {
  std::string context = values.operation;
  if (!values.branch.empty() || !values.till.empty() || !values.sequence.empty()) {
    context += " " + values.branch + "/" + values.till + "/" + values.sequence;
  }
  return context + ": ";
}

// Runs a request branch; what fails in it names the operation and the sale
// key, so support knows which sale to look at.
template <typename Branch>
void RunBranch(const CallValues& values, Branch&& branch) {
  try {
    branch();
  } catch (const std::exception& error) {
    const std::string text = BranchContext(values) + error.what();
    if (dynamic_cast<const DatabaseError*>(&error) != nullptr) {
      throw CallFailure(LUMIREX_E_DATABASE, text);
    }
    if (dynamic_cast<const ConversionError*>(&error) != nullptr) {
      throw CallFailure(LUMIREX_E_INPUT, text);
    }
    throw;
  }
}

// The four tests are made one after the other, not chained: at most one matches.
void PrepareRequest(const std::vector<Variant>& params, CallValues& values, CallObjects& objects,
                    TrdmIntegraLumirex& module) {
  std::string orderXml;
  RequestParts out{
      objects.requestDocument, objects.requestStream, values.urlTail, values.method, &orderXml,
      &values.orderId};
  SaleKey key{values.branch, values.till, values.sequence};
  if (values.operation == "CONSULTA") {
    // Encoded, so a CPF holding "&", "=" or blanks cannot add or change query parameters.
    values.urlTail = "user?cpf=" + PercentEncode(values.cpf) + "&pdv=true";
    values.method = "GET";
  }
  if (values.operation == "VALIDA_PROMOCODE") {
    RequireParameters(params.size(), kValidationParameters, values.operation);
    RunBranch(values,
              [&] { BuildValidationRequest(params, module.cdsVenda, values.promocode, out); });
  }
  if (values.operation == "VENDA") {
    RunBranch(values, [&] {
      module.UseConnectionString(Services()->GetStringConexVex(""));
      BuildSaleRequest(key, module.adqVenda, module.adqItemVenda, out);
    });
  }
  if (values.operation == "VENDA_CANC") {
    RunBranch(values, [&] {
      module.UseConnectionString(Services()->GetStringConexVex(""));
      BuildCancellationRequest(key, module.adqVenda, out);
    });
  }
  values.document = RemoveCarriageReturns(orderXml);
}

// An operation code no branch took: nothing is sent.
void RequireKnownOperation(const CallValues& values) {
  if (!values.method.empty()) return;
  throw CallFailure(LUMIREX_E_INPUT, "unknown operation '" + values.operation +
                                         "'; expected CONSULTA, VALIDA_PROMOCODE, VENDA or "
                                         "VENDA_CANC");
}

void LogRequest(const CallValues& values) {
  LogRequestLines({values.operation, values.cpf, values.branch, values.till, values.sequence,
                   values.promocode, values.baseUrl + values.urlTail, values.document});
}

// Why the reader returned false, as the till and support are told.
void RecordUnreadAnswer(const std::exception_ptr& failure, const CallValues& values,
                        const Variant& result, CallRecord& record) {
  record.error = LUMIREX_E_ANSWER;
  record.message = UnreadAnswerText(failure);
  if (!failure) return;
  try {
    std::rethrow_exception(failure);
  } catch (const ResultArrayError&) {
    record.error = LUMIREX_E_INPUT;
    record.message = "the result array has " + ElementCount(result.items().size()) + "; " +
                     values.operation + " writes " +
                     std::to_string(ElementsWritten(values.operation));
  } catch (const std::bad_alloc&) {
    record.error = LUMIREX_E_MEMORY;
    record.message = "the answer could not be read: out of memory";
  } catch (...) {
  }
}

bool IsReport(const CallValues& values) {
  return values.operation == "VENDA" || values.operation == "VENDA_CANC";
}

// The report as the outbox keeps it: its path and body, and the base URL it
// was made with, without password.
outbox::Report ReportOf(const CallValues& values, const CallObjects& objects) {
  outbox::Report report;
  report.operation = values.operation;
  report.cpf = values.cpf;
  report.branch = values.branch;
  report.till = values.till;
  report.sequence = values.sequence;
  report.orderId = values.orderId;
  report.url = outbox::WithoutPassword(values.baseUrl);
  report.path = values.urlTail;
  report.method = values.method;
  report.body = objects.requestStream;
  report.document = values.document;
  return report;
}

// Waits for the calls about the same order that came first: a cancellation
// never overtakes its sale. One that waited too long is kept behind them in
// the outbox when there is one.
void TakeOrderTurn(const CallValues& values, const CallObjects& objects, OrderTurn& turn,
                   OutboxKeeping& keeping) {
  try {
    turn.Take(values.orderId);
  } catch (const CallFailure&) {
    keeping.Begin(ReportOf(values, objects));
    throw;
  }
}

bool CallSteps(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
               CallValues& values, CallObjects& objects, CallRecord& record, OutboxKeeping& keeping,
               OrderTurn& orderTurn) {
  const BorrowedModule borrowed;
  TrdmIntegraLumirex& module = *borrowed;

  WriteLogLine(log_format::kSeparatorLine);
  WriteLogLine(log_format::kStart);
  if (!copyRefusal.empty()) throw CallFailure(LUMIREX_E_INPUT, copyRefusal);
  RequireHostTexts(params);
  ReadCommonParameters(params, values);
  CheckResultArray(result, values.operation);
  PrepareRequest(params, values, objects, module);
  if (IsReport(values)) {
    TakeOrderTurn(values, objects, orderTurn, keeping);
    // Kept before anything about it is logged: a host killed after its lines
    // are in the log has it in the outbox.
    keeping.Begin(ReportOf(values, objects));
  }
  LogRequest(values);
  RequireKnownOperation(values);
  keeping.HoldIfBehind();

  values.response =
      Exchange(values.baseUrl + values.urlTail, values.method, objects.requestStream, record);
  RememberServiceUrl(values.baseUrl);
  WriteLogLine(log_format::kAnswer, RemoveCarriageReturns(values.response));
  RequireVerdictStatus(record.httpStatus, values.response);

  std::exception_ptr failure;
  Variant parsed = values.operation == "CONSULTA"
                       ? module.getConsulta(values.response, *result, &failure)
                       : module.getRetVenda(values.response, *result, &failure);
  const bool returned = VariantToBool(parsed);
  if (returned) {
    keeping.Answered(!result->items()[0].asBool(), result->items()[1].asString());
  } else {
    RecordUnreadAnswer(failure, values, *result, record);
    keeping.Failed(record);
    WriteFailureLine(record.message);
  }
  WriteLogLine(log_format::kEnd);
  return returned;
}

// The call in its turn: every failure is logged and recorded, none escapes.
bool GuardedCall(const std::vector<Variant>& params, Variant* result,
                 const std::string& copyRefusal, CallRecord& record) noexcept {
  CallValues values;
  CallObjects objects;
  // Released after the outbox has the outcome: the next report of the order
  // sees it.
  OrderTurn orderTurn;
  OutboxKeeping keeping;
  try {
    if (CallSteps(params, result, copyRefusal, values, objects, record, keeping, orderTurn)) {
      return true;
    }
  } catch (...) {
    RecordCurrentFailure(record);
    keeping.Failed(record);
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
  try {
    CallRecord& record = LastCallRecord();
    record = CallRecord{};
    record.error = LUMIREX_E_STATE;
    record.message = kReentered;
  } catch (...) {
  }
}

// The call once it has its turn; a call that cannot get one within its
// time-out is logged and fails as the library being busy.
bool CallInTurn(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
                CallRecord& record) noexcept {
  std::optional<CallTurn> turn;
  try {
    turn.emplace(std::chrono::seconds(kTimeoutSeconds));
  } catch (...) {
    RecordCurrentFailure(record);
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

}  // namespace

bool RunIntegrationCall(std::vector<Variant> params, Variant* result,
                        std::string copyRefusal) noexcept {
  if (callInProgress) {
    // Only logged and recorded: telling the operator would run the same
    // handler again.
    RefuseReentry();
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
  LastCallRecord() = std::move(record);
  // Told once the turn is given back, so that the handler may call Finalize,
  // or anything else that waits for the calls in flight.
  TellOperator(LastCallRecord());
  return returned;
}

}  // namespace lumirex
