// Order documents and the request body envelope shared by every POST.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// An order document written as text while it is built, element after
// element in the order they are appended, with no tree in between:
// '<?xml version="1.0" encoding="windows-1252"?>' CR LF ("UTF-8" for a UTF-8
// host), the root "order", the elements with no indentation, CR LF. Texts
// are the bytes the values hold, in the host's encoding, with XML's own
// escaping only.
class OrderWriter {
 public:
  OrderWriter();  // the declaration and the root's start tag

  // A structural element's start and end tags.
  void Open(std::string_view name);
  void Close(std::string_view name);
  // A leaf element with its text; <name/> when the value is empty.
  void Leaf(std::string_view name, std::string_view value);

  // The document, its root closed. The writer is left empty.
  std::string Finish();

 private:
  std::string text_;
};

// The value as a leaf holds it: a NUL byte is left out, as XML cannot hold
// one and a text cut at it would reach the service as another text.
std::string WithoutNul(std::string_view value);

// PercentEncode("order=" + xml + "&").
std::string RequestBodyEnvelope(std::string_view xml);

}  // namespace lumirex
