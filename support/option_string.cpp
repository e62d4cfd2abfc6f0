#include "support/option_string.hpp"

#include "support/errors.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

// The quoted value starting at text[pos] (the opening quote); pos ends past
// the closing quote.
std::string QuotedValue(std::string_view text, std::size_t& pos) {
  std::string value;
  for (++pos; pos < text.size(); ++pos) {
    const char ch = text[pos];
    if (ch == '"') {
      ++pos;
      return value;
    }
    if (ch == '\\' && pos + 1 < text.size() && (text[pos + 1] == '"' || text[pos + 1] == '\\')) {
      value += text[++pos];
      continue;
    }
    value += ch;
  }
  throw ConversionError("the quoted value in '" + std::string(text) + "' is never closed");
}

}  // namespace

std::vector<Option> ParseOptions(std::string_view text) {
  std::vector<Option> options;
  if (text.find('=') == std::string_view::npos) {
    if (!EmptyString(text)) options.emplace_back("", std::string(TrimBlanks(text)));
    return options;
  }
  std::size_t pos = 0;
  while (true) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos == text.size()) return options;
    std::size_t end = pos;
    while (end < text.size() && text[end] != '=' && !IsBlank(text[end])) ++end;
    std::string key(text.substr(pos, end - pos));
    if (end == text.size() || text[end] != '=') {
      throw ConversionError("option '" + key + "' has no value (key=value expected)");
    }
    pos = end + 1;
    std::string value;
    if (pos < text.size() && text[pos] == '"') {
      value = QuotedValue(text, pos);
    } else {
      end = pos;
      while (end < text.size() && !IsBlank(text[end])) ++end;
      value = text.substr(pos, end - pos);
      pos = end;
    }
    options.emplace_back(std::move(key), std::move(value));
  }
}

std::string QuoteOptionValue(std::string_view value) {
  std::string quoted = "\"";
  for (char ch : value) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  quoted += '"';
  return quoted;
}

}  // namespace lumirex
