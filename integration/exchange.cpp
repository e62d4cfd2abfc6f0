#include "integration/exchange.hpp"

#include "messages/operation_result.hpp"
#include "messages/response_document.hpp"
#include "shared_services/http_status.hpp"
#include "support/errors.hpp"
#include "support/log.hpp"
#include "support/number_text.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

// The answer's text, and its status into the record.
std::string ResponseDocumentOf(const Variant& httpResult, CallRecord& record) {
  if (!httpResult.isArray() || httpResult.items().size() < 2) {
    throw CallFailure(LUMIREX_E_TRANSFER, "the HTTP result has no element 1");
  }
  const Variant& status = httpResult.items()[0];
  if (status.type() == Variant::Type::Int) {
    record.httpStatus = static_cast<std::int32_t>(status.asInt());
  }
  return VariantToText(httpResult.items()[1]);
}

// What an answer outside 2xx says, when it is a response document at all.
struct StatusAnswer {
  bool verdict = false;  // the root holds success
  std::string message;
};

StatusAnswer ReadStatusAnswer(std::string_view response) {
  StatusAnswer answer;
  try {
    ResponseDocument document;
    document.Load(response);
    if (document.IsEmptyDoc()) return answer;
    answer.verdict = static_cast<bool>(ChildNamed(document.DocumentElement(), "success"));
    answer.message = ReadCommonPart(document).message;
  } catch (const ConversionError&) {
    // Not a document: an error page, or no body at all.
  }
  return answer;
}

}  // namespace

void LogRequestLines(const RequestLines& lines) {
  using namespace log_format;
  WriteLogLine(kOperation, lines.operation);
  WriteLogLine(kCpf, lines.cpf);
  WriteLogLine(kBranch, lines.branch);
  WriteLogLine(kTill, lines.till);
  WriteLogLine(kSequence, lines.sequence);
  WriteLogLine(kPromocode, lines.promocode);
  // The request carries the URL's password; the log and the operator never see it.
  WriteLogLine(kUrl, MaskUrlPasswords(lines.url));
  WriteLogLine(kDocument, lines.document);
  WriteLogLine(log_format::kTimeout, std::to_string(kTimeoutSeconds));
}

void WriteFailureLine(const std::string& message) noexcept {
  try {
    WriteLogLine(log_format::kFailureLabel, message);
  } catch (...) {
    // The log itself is what failed; the operator still hears about it.
  }
}

std::string Exchange(const std::string& url, const std::string& method, TStringStream& body,
                     CallRecord& record) {
  // The two side streams stay empty; the service reads only the body.
  TStringStream sideStream1;
  TStringStream sideStream2;
  try {
    // The HTTP result goes as soon as its answer is taken: a large answer is
    // not held twice through the reading.
    std::string response =
        ResponseDocumentOf(Services()->RequisicaoHTTP(url, "URLENCODED", method, sideStream1, body,
                                                      sideStream2, std::to_string(kTimeoutSeconds)),
                           record);
    record.sent = true;
    return response;
  } catch (const HttpError&) {
    throw;
  } catch (...) {
    // Services of the host's own say nothing of how far they got: the
    // service may have acted on the request.
    record.sent = true;
    throw;
  }
}

std::string UnreadAnswerText(const std::exception_ptr& failure) {
  std::string text = "the answer could not be read";
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const NoVerdictError& error) {
    return error.what();
  } catch (const std::exception& error) {
    text += std::string(": ") + error.what();
  } catch (...) {
  }
  return text;
}

// Anything else (a redirect, which is never followed, an application server's
// error page, 204 with no content at all) carries no verdict: reading it would
// hand the till a "declined" the service never gave.
void RequireVerdictStatus(std::int32_t status, std::string_view response) {
  const bool success = status == 0 || (status >= 200 && status < 300 && status != 204);
  if (success) return;
  const StatusAnswer answer = ReadStatusAnswer(response);
  if (status >= 400 && status < 500 && answer.verdict) return;
  std::string text = "the service answered HTTP " + std::to_string(status);
  if (const char* phrase = ReasonPhrase(status); *phrase != '\0') text += std::string(" ") + phrase;
  if (!answer.message.empty()) text += ": " + answer.message;
  throw CallFailure(LUMIREX_E_HTTP, text);
}

}  // namespace lumirex
