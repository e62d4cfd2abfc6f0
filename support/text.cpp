#include "support/text.hpp"

#include <algorithm>
#include <array>

namespace lumirex {

namespace {

constexpr std::array<std::string_view, 2> kPasswordKeys = {"pwd", "password"};

// ASCII only, whatever the C library's locale says about other bytes.
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A key starts the text, or follows a ';' (ODBC) or a blank (option strings).
bool StartsKey(std::string_view text, std::size_t pos) {
  return pos == 0 || text[pos - 1] == ';' || IsBlank(text[pos - 1]);
}

// The length of the password key at pos with its '=' (blanks before the '='
// allowed, as ODBC allows them), or 0 when no password key starts there.
std::size_t PasswordKeyLength(std::string_view text, std::size_t pos) {
  if (!StartsKey(text, pos)) return 0;
  for (std::string_view key : kPasswordKeys) {
    if (!EqualsIgnoringCase(text.substr(pos, key.size()), key)) continue;
    std::size_t end = pos + key.size();
    while (end < text.size() && IsBlank(text[end])) ++end;
    if (end < text.size() && text[end] == '=') return end + 1 - pos;
  }
  return 0;
}

// The end of a value opened by `open` at pos: past its closing character, or
// the end of the text when it is never closed. In ODBC braces "}}" stands for
// a '}' inside the value.
std::size_t EnclosedValueEnd(std::string_view text, std::size_t pos, char close) {
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] != close) continue;
    if (close == '}' && i + 1 < text.size() && text[i + 1] == '}') {
      ++i;
      continue;
    }
    return i + 1;
  }
  return text.size();
}

std::size_t ValueEnd(std::string_view text, std::size_t pos) {
  if (pos < text.size()) {
    if (text[pos] == '{') return EnclosedValueEnd(text, pos, '}');
    if (text[pos] == '"' || text[pos] == '\'') return EnclosedValueEnd(text, pos, text[pos]);
  }
  // With a ';' still to come the string is ODBC-style, where a value may hold
  // blanks; otherwise a blank separates options.
  const std::size_t semicolon = text.find(';', pos);
  if (semicolon != std::string_view::npos) return semicolon;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  const auto blank = std::find_if(text.begin() + pos, text.end(), IsBlank);
  return static_cast<std::size_t>(blank - text.begin());
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (EqualsIgnoringCase(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

bool IsBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EmptyString(std::string_view text) {
  return TrimBlanks(text).empty();
}

void AppendZeroPadded(std::string& out, int value, int width) {
  // Written backwards into a buffer, then appended in one piece.
  char digits[16];
  char* const end = digits + sizeof digits;
  char* first = end;
  unsigned rest = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    *--first = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (width > end - first) out.append(static_cast<std::size_t>(width - (end - first)), '0');
  out.append(first, end);
}

std::string RemoveCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // The text between two carriage returns goes over in one piece.
  for (std::size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r')) {
    out.append(text.substr(0, cr));
    text.remove_prefix(cr + 1);
  }
  out.append(text);
  return out;
}

std::string MaskPasswords(std::string_view connection) {
  std::string out;
  out.reserve(connection.size());
  std::size_t pos = 0;
  while (pos < connection.size()) {
    const std::size_t keyLength = PasswordKeyLength(connection, pos);
    if (keyLength == 0) {
      out += connection[pos++];
      continue;
    }
    out.append(connection.substr(pos, keyLength));
    out += "***";
    pos = ValueEnd(connection, pos + keyLength);
  }
  return out;
}

std::string MaskUrlPasswords(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  constexpr std::string_view kSchemeEnd = "://";
  for (std::size_t scheme = text.find(kSchemeEnd); scheme != std::string_view::npos;
       scheme = text.find(kSchemeEnd)) {
    const std::size_t start = scheme + kSchemeEnd.size();
    // The authority ends where the path, query or fragment begins, or where
    // the text moves on (a blank, a quote around the URL).
    std::size_t end = text.find_first_of("/?#'\" \t\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view authority = text.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    const std::size_t colon = authority.substr(0, at == std::string_view::npos ? 0 : at).find(':');
    if (at == std::string_view::npos || colon == std::string_view::npos) {
      out.append(text.substr(0, end));
    } else {
      out.append(text.substr(0, start + colon + 1));
      out += "***";
      out.append(authority.substr(at));
    }
    text.remove_prefix(end);
  }
  out.append(text);
  return out;
}

}  // namespace lumirex
