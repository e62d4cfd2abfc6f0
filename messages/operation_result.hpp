// The common part of every answer: the service's verdict and its message.
#pragma once

#include <string>
#include <string_view>

#include "messages/response_document.hpp"
#include "support/errors.hpp"

namespace lumirex {

// The common part of an answer as read, before anything is written.
struct CommonPart {
  bool errorFlag = true;  // false exactly when success reads "true"
  std::string message;    // decoded from UTF-8 into the host encoding
};

// Reads success and message under the document element of a loaded document;
// the empty document reads as the defaults. Raises ConversionError when
// either element holds child elements.
CommonPart ReadCommonPart(const ResponseDocument& document);

// An answer that is no verdict of the service's: an empty body, or a
// document (a captive portal's page, a proxy's) whose element holds no
// success. Reading it as "declined" would lose a report for good.
class NoVerdictError : public ConversionError {
 public:
  NoVerdictError() : ConversionError("the answer carries no verdict") {}
};

// Raises NoVerdictError unless the document element has a success child.
void RequireVerdict(const ResponseDocument& document);

// The verdict of any answer but a customer query's: success (error flag false
// exactly when it reads "true") and the message. Raises NoVerdictError for an
// answer without success, ConversionError when either element holds child
// elements.
CommonPart getRetVenda(const ResponseDocument& document);

}  // namespace lumirex
