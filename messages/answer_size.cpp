#include "messages/answer_size.hpp"

#include <string>

#include "support/errors.hpp"

namespace lumirex {

namespace {

// Where the text after a comment, processing instruction or CDATA section
// starts; the end of the answer when it is not closed.
std::size_t Past(std::string_view xml, std::size_t from, std::string_view terminator) {
  const std::size_t end = xml.find(terminator, from);
  return end == std::string_view::npos ? xml.size() : end + terminator.size();
}

// Skips the markup that starts at open, counting the nodes it makes: an
// element and one attribute for each '=' outside its quoted values.
std::size_t PastMarkup(std::string_view xml, std::size_t open, std::size_t& nodes) {
  const std::string_view markup = xml.substr(open);
  if (markup.rfind("<!--", 0) == 0) return Past(xml, open + 4, "-->");
  if (markup.rfind("<![CDATA[", 0) == 0) {
    ++nodes;
    return Past(xml, open + 9, "]]>");
  }
  if (markup.rfind("<?", 0) == 0) return Past(xml, open + 2, "?>");
  if (markup.rfind("<!", 0) == 0) return open + 2;  // DOCTYPE: its insides are counted
  if (markup.rfind("</", 0) != 0) ++nodes;
  char quote = 0;
  for (std::size_t i = open + 1; i < xml.size(); ++i) {
    const char c = xml[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '=') {
      ++nodes;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return xml.size();
}

}  // namespace

std::size_t NodesOf(std::string_view xml) {
  std::size_t nodes = 0;
  std::size_t at = 0;
  while (at < xml.size()) {
    const std::size_t open = xml.find('<', at);
    // Any text between two pieces of markup is a node, blanks included.
    if (open != at) ++nodes;
    if (open == std::string_view::npos) break;
    at = PastMarkup(xml, open, nodes);
  }
  return nodes;
}

void RequireFewNodes(std::string_view xml) {
  // Every node takes at least one byte of its own (an element its '<', an
  // attribute its '=', a text a character), so an answer no longer than the
  // limit cannot pass it and is not scanned before its one parse.
  if (xml.size() <= kMaxAnswerNodes) return;
  const std::size_t nodes = NodesOf(xml);
  if (nodes <= kMaxAnswerNodes) return;
  throw ConversionError("the answer holds " + std::to_string(nodes) +
                        " elements, texts and attributes; the library reads at most " +
                        std::to_string(kMaxAnswerNodes));
}

void RequireFewPromocodes(std::size_t count) {
  if (count <= kMaxPromocodes) return;
  throw ConversionError("the answer holds " + std::to_string(count) +
                        " promocodes; the library reads at most " + std::to_string(kMaxPromocodes));
}

}  // namespace lumirex
