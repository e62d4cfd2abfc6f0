#include "messages/order_document.hpp"

#include <new>
#include <string>

#include "support/host_text.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

// The declaration names the host's encoding, which the bytes are in, so the
// service's parser reads accented names right while the wire keeps the till's
// bytes.
std::string Declaration() {
  return std::string("<?xml version=\"1.0\" encoding=\"") + HostXmlEncoding() + "\"?>\r\n";
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

// The raw form has no line breaks of its own, so every carriage return here
// comes from a text; a parser would turn a bare one into a line feed.
std::string EscapeCarriageReturns(const std::string& elements) {
  std::string escaped;
  escaped.reserve(elements.size());
  for (char ch : elements) {
    if (ch == '\r') {
      escaped += "&#13;";
    } else {
      escaped += ch;
    }
  }
  return escaped;
}

}  // namespace

pugi::xml_node AppendElement(pugi::xml_node parent, const char* name) {
  pugi::xml_node element = parent.append_child(name);
  if (!element) throw std::bad_alloc();
  return element;
}

pugi::xml_node AppendLeaf(pugi::xml_node parent, const char* name, std::string_view value) {
  pugi::xml_node leaf = AppendElement(parent, name);
  // A NUL byte is left out like the other control characters XML cannot
  // hold; pugixml would otherwise write the text only up to it, so that
  // "BEMVINDO10<NUL>X" went out as the valid "BEMVINDO10".
  std::string withoutNul;
  if (value.find('\0') != std::string_view::npos) {
    withoutNul = value;
    std::erase(withoutNul, '\0');
    value = withoutNul;
  }
  // No text node at all for an empty value, so the element is written <name/>.
  if (!value.empty()) {
    if (!leaf.append_child(pugi::node_pcdata).set_value(value.data(), value.size())) {
      throw std::bad_alloc();
    }
  }
  return leaf;
}

std::string SerializeOrder(const pugi::xml_document& document) {
  if (!document.first_child()) return "";
  std::string elements;
  StringWriter writer(elements);
  // pugixml keeps char data as given and, writing UTF-8 from its UTF-8
  // storage, copies the bytes unchanged: the host's bytes of the values
  // come out as they went in, with only XML's own escaping applied. Control
  // characters other than tab, line feed and carriage return cannot stand in
  // XML 1.0 even as references, so they are left out to keep the document
  // well-formed.
  document.save(writer, "",
                pugi::format_raw | pugi::format_no_declaration | pugi::format_skip_control_chars,
                pugi::encoding_utf8);
  return Declaration() + EscapeCarriageReturns(elements) + "\r\n";
}

std::string RequestBodyEnvelope(std::string_view xml) {
  std::string body = "order=";
  body += xml;
  body += '&';
  return PercentEncode(body);
}

}  // namespace lumirex
