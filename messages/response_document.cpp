#include "messages/response_document.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "messages/answer_size.hpp"
#include "support/codepage.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

// Element texts keep their blanks (the bytes between the tags are what the
// caller gets), comments and processing instructions are dropped, and no
// declaration or DTD is turned into a node. The fragment mode makes pugixml
// hand us top-level text and every top-level element, so that the document
// shape can be checked here instead of being let through silently.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_ws_pcdata | pugi::parse_wconv_attribute |
                                   pugi::parse_fragment;

// Some services start their answer with a UTF-8 byte order mark; it is no part
// of the document, and widened it would read as text before the root.
std::string_view WithoutByteOrderMark(std::string_view bytes) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
  return bytes;
}

bool IsText(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

bool IsXmlBlank(const char* text) {
  return std::strspn(text, " \t\r\n") == std::strlen(text);
}

// pugixml accepts several top-level elements and text outside the root; a
// well-formed document has one root element and nothing but blanks around it.
// Returns what is wrong with the shape, or nullptr.
const char* ShapeFault(const pugi::xml_document& document) {
  int elements = 0;
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_element) ++elements;
    if (node.type() == pugi::node_cdata) return "text outside the root element";
    if (node.type() == pugi::node_pcdata && !IsXmlBlank(node.value())) {
      return "text outside the root element";
    }
  }
  if (elements == 0) return "no root element";
  if (elements > 1) return "more than one root element";
  return nullptr;
}

// A UTF-8 host takes the service's UTF-8 as it is: pugixml keeps the bytes
// between the tags unchanged, and character references come out as UTF-8.
pugi::xml_parse_result LoadAsUtf8(pugi::xml_document& document, std::string_view bytes) {
  return document.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_utf8);
}

// Every byte becomes the character Windows-1252 gives it, so no byte is lost
// or rejected here, whatever encoding the declaration claims; NodeText turns
// the characters back into the same bytes. The answer is widened straight
// into a buffer that the document takes over and parses in place, rather
// than into a text that the document would copy again.
pugi::xml_parse_result LoadWidened(pugi::xml_document& document, std::string_view bytes) {
  const std::size_t widened = Utf8SizeBound(bytes);
  // Without a byte above ASCII, the widened answer is the answer itself.
  if (widened == bytes.size()) return LoadAsUtf8(document, bytes);
  const std::size_t bound = std::max<std::size_t>(widened, 1);
  auto* buffer = static_cast<char*>(pugi::get_memory_allocation_function()(bound));
  if (buffer == nullptr) throw std::bad_alloc();
  const auto size = static_cast<std::size_t>(AnsiToUtf8(bytes, buffer) - buffer);
  return document.load_buffer_inplace_own(buffer, size, kParseOptions, pugi::encoding_utf8);
}

[[noreturn]] void NotWellFormed(const std::string& why) {
  throw ConversionError("the response is not well-formed XML: " + why);
}

}  // namespace

void ResponseDocument::Load(std::string_view bytes) {
  document_.reset();
  if (EmptyString(bytes)) return;
  // pugixml stops reading at a NUL, so whatever follows one would be passed
  // over unseen; XML allows the character nowhere.
  if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
    NotWellFormed("a NUL byte at offset " + std::to_string(nul));
  }
  bytes = WithoutByteOrderMark(bytes);
  // Counted before anything is built: the tree of the smallest markup costs
  // sixteen times its bytes.
  RequireFewNodes(bytes);
  const pugi::xml_parse_result parsed =
      HostIsUtf8() ? LoadAsUtf8(document_, bytes) : LoadWidened(document_, bytes);
  if (!parsed) {
    document_.reset();
    NotWellFormed(std::string(parsed.description()) + " at offset " +
                  std::to_string(parsed.offset));
  }
  if (const char* fault = ShapeFault(document_)) {
    document_.reset();
    NotWellFormed(fault);
  }
}

bool ResponseDocument::IsEmptyDoc() const {
  return !document_.document_element();
}

pugi::xml_node ResponseDocument::DocumentElement() const {
  return document_.document_element();
}

// The parse options make no declaration or processing instruction, the only
// other nodes with a name, so pugixml's own look-up by name finds elements
// alone, in one call instead of one a child.
pugi::xml_node ChildNamed(pugi::xml_node parent, const char* name) {
  return parent.child(name);
}

// The text of an element made of one piece of text, by far the usual case,
// or of none (""); nullptr for any other element.
const char* OnlyText(pugi::xml_node element) {
  const pugi::xml_node first = element.first_child();
  if (!first) return "";
  return !first.next_sibling() && IsText(first) ? first.value() : nullptr;
}

std::string NodeText(pugi::xml_node element) {
  // One piece is narrowed straight from the tree.
  if (const char* only = OnlyText(element)) {
    return HostIsUtf8() ? std::string(only) : Utf8ToAnsi(only);
  }
  // A comment between two pieces of text splits them into two nodes; the
  // reader sees the text as the service wrote it, without the comment.
  const char* first = "";
  std::string joined;
  int pieces = 0;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_element) {
      throw ConversionError(std::string("the element '") + HostTextFromUtf8(element.name()) +
                            "' holds child elements, not a text");
    }
    if (!IsText(child)) continue;
    if (++pieces == 1) {
      first = child.value();
      continue;
    }
    if (pieces == 2) joined = first;
    joined += child.value();
  }
  const std::string_view text = pieces > 1 ? std::string_view(joined) : std::string_view(first);
  return HostIsUtf8() ? std::string(text) : Utf8ToAnsi(text);
}

std::string ServiceText(pugi::xml_node element) {
  // Nearly every text is ASCII, which both steps below leave as it is.
  if (const char* only = OnlyText(element); only != nullptr && IsAscii(only)) return only;
  std::string text = NodeText(element);
  if (HostIsUtf8()) return ReplaceInvalidUtf8(text);
  text.resize(static_cast<std::size_t>(Utf8ToAnsi(text, text.data()) - text.data()));
  return text;
}

}  // namespace lumirex
