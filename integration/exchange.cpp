#include "integration/exchange.hpp"

#include "messages/operation_result.hpp"
#include "messages/response_document.hpp"
#include "support/errors.hpp"
#include "support/log.hpp"
#include "support/text.hpp"

namespace lumirex {

void LogRequestLines(const HostTexts& texts, const std::string& url, const std::string& document) {
  using namespace log_format;
  WriteLogLine(kOperation, texts.operation);
  WriteLogLine(kCpf, texts.cpf);
  WriteLogLine(kBranch, texts.branch);
  WriteLogLine(kTill, texts.till);
  WriteLogLine(kSequence, texts.sequence);
  WriteLogLine(kPromocode, texts.promocode);
  // The request carries the URL's password; the log and the operator never see it.
  WriteLogLine(kUrl, MaskUrlPasswords(url));
  WriteLogLine(kDocument, document);
  WriteLogLine(log_format::kTimeout, std::to_string(kCallTimeout.count()));
}

void LogAnswerLine(std::string_view answer) {
  if (answer.find('\r') == std::string_view::npos) {
    WriteLogLine(log_format::kAnswer, answer);
  } else {
    WriteLogLine(log_format::kAnswer, RemoveCarriageReturns(answer));
  }
}

void WriteFailureLine(const std::string& message) noexcept {
  try {
    WriteLogLine(log_format::kFailureLabel, message);
  } catch (...) {
    // The log itself is what failed; the operator still hears about it.
  }
}

HttpRequest CallRequest(HttpMethod method, std::string url, std::string body) {
  return HttpRequest{method, std::move(url), std::move(body), true, kCallTimeout};
}

HttpAnswer Exchange(const HttpRequest& request, CallRecord& record) {
  try {
    HttpAnswer answer = Services()->SendHttp(request);
    record.httpStatus = answer.status;
    record.sent = true;
    return answer;
  } catch (const HttpError&) {
    throw;
  } catch (...) {
    // Services of the host's own say nothing of how far they got: the
    // service may have acted on the request.
    record.sent = true;
    throw;
  }
}

// Anything else (a redirect, which is never followed, an application server's
// error page, 204 with no content at all) carries no verdict: reading it would
// hand the till a "declined" the service never gave.
std::optional<ResponseDocument> RequireVerdictStatus(const HttpAnswer& answer) {
  const int status = answer.status;
  const bool success = status == 0 || (status >= 200 && status < 300 && status != 204);
  if (success) return std::nullopt;
  std::optional<ResponseDocument> document(std::in_place);
  std::string message;
  try {
    document->Load(answer.body);
    if (!document->IsEmptyDoc()) {
      if (status >= 400 && status < 500 && ChildNamed(document->DocumentElement(), "success")) {
        return document;
      }
      message = ReadCommonPart(*document).message;
    }
  } catch (const ConversionError&) {
    // Not a document: an error page, or no body at all.
  }
  std::string text = "the service answered HTTP " + std::to_string(status);
  if (!answer.reason.empty()) text += " " + answer.reason;
  if (!message.empty()) text += ": " + message;
  throw CallFailure(LUMIREX_E_HTTP, text);
}

ResponseDocument AnswerDocument(std::optional<ResponseDocument> loaded, std::string_view body) {
  if (loaded) return std::move(*loaded);
  ResponseDocument document;
  document.Load(body);
  return document;
}

}  // namespace lumirex
