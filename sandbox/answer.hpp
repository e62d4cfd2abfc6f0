// The service's answers as the client receives them: an XML response
// document, shaped by whichever answer faults are switched on.
#pragma once

#include <cstddef>
#include <string>

#include "sandbox/sandbox.hpp"
#include "sandbox/service.hpp"

namespace lumirex::sandbox {

inline constexpr const char* kXmlContentType = "application/xml; charset=UTF-8";
inline constexpr const char* kHtmlContentType = "text/html; charset=UTF-8";

// An answer's body in three parts: head, then `blanks` spaces, then tail. A
// padded answer of many MiB is sent from these without ever being held whole.
struct AnswerBody {
  std::string head;
  std::size_t blanks = 0;
  std::string tail;

  std::size_t Size() const { return head.size() + blanks + tail.size(); }
  // Copies the bytes from offset on, at most size of them, to out; returns how many.
  std::size_t Read(std::size_t offset, char* out, std::size_t size) const;
};

// The reply as a UTF-8 response document: success, message and, for a
// customer, userInfo. answerMiB pads it to that exact size with a comment
// of blanks inside the document element, crlf writes it indented with CR LF
// line breaks, malformedXml leaves the document element unclosed.
AnswerBody RenderReply(const Reply& reply, const Faults& faults);

// What a web server in front of the service shows when the service fails.
std::string ServerErrorPage();

}  // namespace lumirex::sandbox
