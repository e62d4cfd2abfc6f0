#include "integration/integration_call.hpp"

#include <exception>
#include <new>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "integration/call_outcome.hpp"
#include "integration/data_module.hpp"
#include "integration/exchange.hpp"
#include "integration/outbox_keeping.hpp"
#include "integration/outbox_sending.hpp"
#include "messages/operation_result.hpp"
#include "messages/requests.hpp"
#include "messages/response_document.hpp"
#include "shared_services/shared_services.hpp"
#include "support/at_fork.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/log.hpp"
#include "support/log_format.hpp"
#include "support/no_destructor.hpp"
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
  std::string urlTail;    // set by the branch the operation takes, and only then
  HttpMethod method = HttpMethod::Post;
  std::string orderId;    // the order a report names
  std::string document;   // the request document as logged and kept, CRs removed
  std::string shortfall;  // why the result array cannot take the whole answer; "" when it can
};

// What a call owns from its start to its end, released on every path.
struct CallObjects {
  pugi::xml_document requestDocument;
  std::string requestStream;  // the body, until it goes into the request
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
    if (dynamic_cast<const DatabaseError*>(&error) == nullptr &&
        dynamic_cast<const ConversionError*>(&error) == nullptr) {
      throw;
    }
    throw CallFailure(CodeOf(LUMIREX_E_INPUT), BranchContext(values) + error.what());
  }
}

// The four tests are made one after the other, not chained: at most one matches.
void PrepareRequest(const std::vector<Variant>& params, CallValues& values, CallObjects& objects,
                    TrdmIntegraLumirex& module) {
  std::string orderXml;
  RequestParts out{objects.requestDocument, objects.requestStream, values.urlTail, &orderXml,
                   &values.orderId};
  SaleKey key{values.branch, values.till, values.sequence};
  if (values.operation == "CONSULTA") {
    // Encoded, so a CPF holding "&", "=" or blanks cannot add or change query parameters.
    values.urlTail = "user?cpf=" + PercentEncode(values.cpf) + "&pdv=true";
    values.method = HttpMethod::Get;
  }
  if (values.operation == "VALIDA_PROMOCODE") {
    RequireParameters(params.size(), kValidationParameters, values.operation);
    RunBranch(values,
              [&] { BuildValidationRequest(params, module.cdsVenda, values.promocode, out); });
  }
  if (values.operation == "VENDA") {
    RunBranch(values, [&] {
      module.DropStaleConnection();
      BuildSaleRequest(key, module.adqVenda, module.adqItemVenda, out);
    });
  }
  if (values.operation == "VENDA_CANC") {
    RunBranch(values, [&] {
      module.DropStaleConnection();
      BuildCancellationRequest(key, module.adqVenda, out);
    });
  }
  values.document = RemoveCarriageReturns(orderXml);
}

// An operation code no branch took: nothing is sent.
void RequireKnownOperation(const CallValues& values) {
  if (!values.urlTail.empty()) return;
  throw CallFailure(LUMIREX_E_INPUT, "unknown operation '" + values.operation +
                                         "'; expected CONSULTA, VALIDA_PROMOCODE, VENDA or "
                                         "VENDA_CANC");
}

void LogRequest(const CallValues& values) {
  LogRequestLines({values.operation, values.cpf, values.branch, values.till, values.sequence,
                   values.promocode, values.baseUrl + values.urlTail, values.document});
}

// The data module, created by the first call that finds none. Its creation
// connects to nothing; what fails there other than memory is the database's.
TrdmIntegraLumirex& DataModule() {
  if (!rdmIntegraLumirex) {
    try {
      rdmIntegraLumirex = std::make_unique<TrdmIntegraLumirex>();
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& error) {
      throw CallFailure(LUMIREX_E_DATABASE, error.what());
    }
  }
  return *rdmIntegraLumirex;
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
  report.method = HttpMethodName(values.method);
  report.body = objects.requestStream;
  report.document = values.document;
  return report;
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

bool CallSteps(const std::vector<Variant>& params, Variant* result, const std::string& copyRefusal,
               CallValues& values, CallObjects& objects, CallRecord& record,
               OutboxKeeping& keeping) {
  TrdmIntegraLumirex& module = DataModule();

  WriteLogLine(log_format::kSeparatorLine);
  WriteLogLine(log_format::kStart);
  if (!copyRefusal.empty()) throw CallFailure(LUMIREX_E_INPUT, copyRefusal);
  RequireHostTexts(params);
  ReadCommonParameters(params, values);
  values.shortfall = CheckResultArray(result, values.operation);
  PrepareRequest(params, values, objects, module);
  // Kept before anything about it is logged: a host killed after its lines
  // are in the log has it in the outbox.
  if (IsReport(values)) keeping.Begin(ReportOf(values, objects));
  LogRequest(values);
  RequireKnownOperation(values);
  keeping.HoldIfBehind();

  HttpAnswer answer = Exchange(
      CallRequest(values.method, values.baseUrl + values.urlTail, std::move(objects.requestStream)),
      record);
  RememberServiceUrl(values.baseUrl);
  WriteLogLine(log_format::kAnswer, RemoveCarriageReturns(answer.body));
  std::optional<ResponseDocument> loaded = RequireVerdictStatus(answer);
  try {
    WriteResult(*result, ReadAnswer(values.operation, std::move(loaded), answer.body, module),
                values.shortfall);
  } catch (...) {
    RecordUnreadAnswer(record);
    keeping.Failed(record);
    WriteFailureLine(record.message);
    WriteLogLine(log_format::kEnd);
    return false;
  }
  keeping.Answered(!result->items()[0].asBool(), result->items()[1].asString());
  WriteLogLine(log_format::kEnd);
  return true;
}

// The call under the lock: every failure is logged and recorded, none escapes.
bool GuardedCall(const std::vector<Variant>& params, Variant* result,
                 const std::string& copyRefusal, CallRecord& record) noexcept {
  CallValues values;
  CallObjects objects;
  OutboxKeeping keeping;
  try {
    if (CallSteps(params, result, copyRefusal, values, objects, record, keeping)) return true;
  } catch (...) {
    RecordCurrentFailure(record, UnclassifiedCode(record));
    keeping.Failed(record);
    WriteFailureLine(record.message);
  }
  if (record.error == LUMIREX_OK) record.error = LUMIREX_E_ANSWER;
  return false;
}

// A call made on a thread that is inside a call already, from its operator
// message or from services of the host's own: refused at once, never waited
// for, as the lock it would wait for is this thread's own.
void RefuseReentry() noexcept {
  WriteFailureLine(kReentered);
  RecordLastFailure(LUMIREX_E_STATE, kReentered);
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

ForkSafeMutex& CallMutex() {
  static NoDestructor<ForkSafeMutex> mutex;
  // A fork's child starts with the lock free and without the parent's data module.
  static const int forkHandler = AtForkInChild([] {
    mutex->ResetInChild();
    if (!mutex->HeldByThisThread()) AbandonDataModule();
  });
  (void)forkHandler;
  return *mutex;
}

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
    std::lock_guard lock(CallMutex());
    // The call's settings are read once, and its lines go through one
    // descriptor, closed before the lock is released.
    settings::CallSettings callSettings;
    LogSession logSession;
    returned = GuardedCall(params, result, copyRefusal, record);
  }
  LastCallRecord() = std::move(record);
  // Told once the lock is free, so that the handler may call Finalize, or
  // anything else that takes the lock.
  TellOperator(LastCallRecord());
  return returned;
}

}  // namespace lumirex
