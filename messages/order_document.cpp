#include "messages/order_document.hpp"

#include <array>
#include <string>

#include "support/host_text.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

// What a text byte becomes: itself, an escape, or nothing. Control
// characters other than tab, line feed and carriage return cannot stand in
// XML 1.0 even as references, so they are left out to keep the document
// well-formed. A carriage return is written as a reference: the form has no
// line breaks of its own, and a parser would turn a bare one into a line
// feed.
enum class Byte : unsigned char { Plain, Dropped, Amp, Less, Greater, Return };

constexpr std::array<Byte, 256> kBytes = [] {
  std::array<Byte, 256> table{};
  for (int ch = 0; ch < 0x20; ++ch) table[ch] = Byte::Dropped;
  table['\t'] = Byte::Plain;
  table['\n'] = Byte::Plain;
  table['\r'] = Byte::Return;
  table['&'] = Byte::Amp;
  table['<'] = Byte::Less;
  table['>'] = Byte::Greater;
  return table;
}();

const char* Escape(Byte kind) {
  switch (kind) {
    case Byte::Amp:
      return "&amp;";
    case Byte::Less:
      return "&lt;";
    case Byte::Greater:
      return "&gt;";
    case Byte::Return:
      return "&#13;";
    default:
      return "";
  }
}

// The runs between two bytes to escape go over in one piece.
void AppendText(std::string& out, std::string_view value) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const Byte kind = kBytes[static_cast<unsigned char>(value[i])];
    if (kind == Byte::Plain) continue;
    out.append(value.data() + run, i - run);
    out += Escape(kind);
    run = i + 1;
  }
  out.append(value.data() + run, value.size() - run);
}

}  // namespace

// The declaration names the host's encoding, which the bytes are in, so the
// service's parser reads accented names right while the wire keeps the till's
// bytes.
OrderWriter::OrderWriter() {
  text_.reserve(1024);
  text_ += "<?xml version=\"1.0\" encoding=\"";
  text_ += HostXmlEncoding();
  text_ += "\"?>\r\n<order>";
}

void OrderWriter::Open(std::string_view name) {
  text_ += '<';
  text_ += name;
  text_ += '>';
}

void OrderWriter::Close(std::string_view name) {
  text_ += "</";
  text_ += name;
  text_ += '>';
}

void OrderWriter::Leaf(std::string_view name, std::string_view value) {
  // Only a NUL-free value decides whether the element is empty: a text of
  // control characters alone leaves <name></name>.
  if (value.find_first_not_of('\0') == std::string_view::npos) {
    text_ += '<';
    text_ += name;
    text_ += "/>";
    return;
  }
  Open(name);
  AppendText(text_, value);
  Close(name);
}

std::string OrderWriter::Finish() {
  text_ += "</order>\r\n";
  return std::move(text_);
}

std::string WithoutNul(std::string_view value) {
  std::string text(value);
  std::erase(text, '\0');
  return text;
}

std::string RequestBodyEnvelope(std::string_view xml) {
  std::string body;
  body.reserve(xml.size() + 7);
  body += "order=";
  body += xml;
  body += '&';
  return PercentEncode(body);
}

}  // namespace lumirex
