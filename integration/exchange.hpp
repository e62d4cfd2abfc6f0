// What every exchange with the service shares, a call's or an outbox
// resend's: the log lines around it, the exchange itself, and the test of the
// answer's status.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "integration/call_outcome.hpp"
#include "messages/response_document.hpp"
#include "shared_services/shared_services.hpp"
#include "support/log_format.hpp"

namespace lumirex {

// How long an exchange may take; the log's P_TIMEOUT line says it.
inline constexpr std::chrono::seconds kCallTimeout{10};

// A call's request: the body (empty for a GET) typed as a form body, bounded by kCallTimeout.
HttpRequest CallRequest(HttpMethod method, std::string url, std::string body);

// The host's texts that name a call, as the log shows them.
struct HostTexts {
  std::string operation, cpf, branch, till, sequence, promocode;
};

// Lines 3 to 11 of a call: the host's texts, the URL (its password masked),
// the request document (carriage returns removed) and the time-out.
void LogRequestLines(const HostTexts& texts, const std::string& url, const std::string& document);

// The RETORNO line: the answer without its carriage returns. An answer
// holding none goes to the log as it is, not copied first.
void LogAnswerLine(std::string_view answer);

// The failure line; a log that cannot be written is passed over, as the
// operator is told the same text.
void WriteFailureLine(const std::string& message) noexcept;

// Sends the request; the answer's status goes into the record, and `sent`
// once the request may have reached the service. A failure of the exchange
// raises, saying itself how far the request got.
HttpAnswer Exchange(const HttpRequest& request, CallRecord& record);

// Raises CallFailure (LUMIREX_E_HTTP) for a status whose answer carries no
// verdict: only a 2xx answer, or a 4xx one holding the service's verdict, is
// read. Hands back the document of an answer outside 2xx, loaded to look for
// the verdict, so that it is not loaded again to be read.
std::optional<ResponseDocument> RequireVerdictStatus(const HttpAnswer& answer);

// The answer's document: the one the status check loaded, else loaded now.
ResponseDocument AnswerDocument(std::optional<ResponseDocument> loaded, std::string_view body);

}  // namespace lumirex
