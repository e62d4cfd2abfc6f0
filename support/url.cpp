#include "support/url.hpp"

#include <array>

#include "support/errors.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr bool IsUnreservedByte(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

// Looked up rather than tested: the body of a sale report is a few kilobytes.
constexpr std::array<bool, 256> kUnreserved = [] {
  std::array<bool, 256> table{};
  for (int byte = 0; byte < 256; ++byte) table[byte] = IsUnreservedByte(byte);
  return table;
}();

bool IsUnreserved(unsigned char byte) {
  return kUnreserved[byte];
}

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

}  // namespace

std::string PercentEncode(std::string_view bytes) {
  // Written through a pointer into room for the worst case, then cut to
  // size: an append a byte checks the capacity every time, which made this
  // loop a tenth of a sale report's own work.
  std::string out(bytes.size() * 3, '\0');
  char* next = out.data();
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      *next++ = c;
    } else {
      *next++ = '%';
      *next++ = kHexDigits[byte >> 4];
      *next++ = kHexDigits[byte & 0x0F];
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      throw ConversionError("malformed percent escape at position " + std::to_string(i) + " of '" +
                            std::string(text) + "'");
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool HasHttpScheme(std::string_view url) {
  const auto startsWith = [url](std::string_view scheme) {
    if (url.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      const char c = url[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) return false;
    }
    return true;
  };
  return startsWith("http://") || startsWith("https://");
}

std::string NoHttpSchemeText(std::string_view url) {
  // Read as an authority from its start, so "user:password@host" is masked too.
  std::string masked = MaskUrlPasswords("://" + std::string(url));
  masked.erase(0, 3);
  return "the service URL '" + masked + "' does not start with http:// or https://";
}

}  // namespace lumirex
