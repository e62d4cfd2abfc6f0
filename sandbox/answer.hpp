// The service's answers as the client receives them: an XML response
// document, shaped by whichever answer faults are switched on.
#pragma once

#include <string>

#include "sandbox/sandbox.hpp"
#include "sandbox/service.hpp"

namespace lumirex::sandbox {

inline constexpr const char* kXmlContentType = "application/xml; charset=UTF-8";
inline constexpr const char* kHtmlContentType = "text/html; charset=UTF-8";

// The reply as a UTF-8 response document: success, message and, for a
// customer, userInfo. answerMiB pads it to that exact size with a comment
// inside the document element, crlf writes it indented with CR LF line breaks,
// malformedXml leaves the document element unclosed.
std::string RenderReply(const Reply& reply, const Faults& faults);

// What a web server in front of the service shows when the service fails.
std::string ServerErrorPage();

}  // namespace lumirex::sandbox
