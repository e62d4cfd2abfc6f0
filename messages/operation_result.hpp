// The common part of every answer: the service's verdict and its message.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "lumirex/lumirex.hpp"
#include "messages/response_document.hpp"
#include "support/errors.hpp"

namespace lumirex {

// Writes result element 0 (error flag, BOOL: false exactly when success reads
// "true") and element 1 (message decoded from UTF-8, STRING). Returns a BOOL
// variant: false when any step failed (not well-formed XML, a result that is
// not an array reaching index 1, ...), without reporting it; the failure is
// handed back in *failure when the caller asks for it.
Variant getRetVenda(std::string_view response, Variant& result,
                    std::exception_ptr* failure = nullptr);

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

// A result array that cannot take what the answer holds.
class ResultArrayError : public ConversionError {
 public:
  using ConversionError::ConversionError;
};

// Writes element index of the result array, clearing what it held; raises
// ResultArrayError when result is not an array or does not reach index.
void SetResultElement(Variant& result, std::size_t index, Variant value);

}  // namespace lumirex
