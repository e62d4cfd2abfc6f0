#include "support/codepage.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumirex {

namespace {

// Bytes 0x80..0x9F are where Windows-1252 departs from Latin-1; the five
// bytes it leaves undefined keep their C1 control character, so every byte
// survives a round trip through Unicode.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// How many bytes at the start of text are ASCII, which both encodings share.
// Eight bytes are looked at together: a document is nearly all ASCII.
std::size_t AsciiPrefixLength(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t length = 0;
  for (std::uint64_t word = 0; length + sizeof word <= text.size(); length += sizeof word) {
    std::memcpy(&word, text.data() + length, sizeof word);
    if ((word & kHighBits) != 0) break;
  }
  while (length < text.size() && static_cast<unsigned char>(text[length]) < 0x80) ++length;
  return length;
}

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes one well-formed UTF-8 sequence at the start of text; returns its
// length and stores the character, or returns 0 when the bytes there are not
// a well-formed sequence (overlong forms, surrogates and values above
// U+10FFFF included).
std::size_t DecodeUtf8(std::string_view text, char32_t& ch) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ch = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, ch = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, ch = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, ch = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!IsContinuation(byte)) return 0;
    ch = (ch << 6) | (byte & 0x3F);
  }
  if (ch < minimum || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return 0;
  return length;
}

char* PutUtf8(char* out, char32_t ch) {
  if (ch < 0x80) {
    *out++ = static_cast<char>(ch);
  } else if (ch < 0x800) {
    *out++ = static_cast<char>(0xC0 | (ch >> 6));
    *out++ = static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    // Every character of the code page lies in the Basic Multilingual Plane.
    *out++ = static_cast<char>(0xE0 | (ch >> 12));
    *out++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (ch & 0x3F));
  }
  return out;
}

}  // namespace

char32_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

int UnicodeToCp1252(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<int>(ch);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == ch) return static_cast<int>(0x80 + i);
  }
  return -1;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out(utf8.size(), '\0');
  out.resize(static_cast<std::size_t>(Utf8ToAnsi(utf8, out.data()) - out.data()));
  return out;
}

char* Utf8ToAnsi(std::string_view utf8, char* out) {
  while (!utf8.empty()) {
    // Runs of ASCII, nearly all of a document, go over in one piece.
    const std::size_t ascii = AsciiPrefixLength(utf8);
    std::memmove(out, utf8.data(), ascii);
    out += ascii;
    utf8.remove_prefix(ascii);
    if (utf8.empty()) break;
    char32_t ch = 0;
    const std::size_t length = DecodeUtf8(utf8, ch);
    if (length == 0) {
      // Skip a single byte so that each byte of a broken sequence becomes its
      // own '?' and a valid character right after it is still read.
      *out++ = '?';
      utf8.remove_prefix(1);
      continue;
    }
    const int byte = UnicodeToCp1252(ch);
    *out++ = byte < 0 ? '?' : static_cast<char>(byte);
    utf8.remove_prefix(length);
  }
  return out;
}

char32_t FirstCharacterNotInCp1252(std::string_view utf8) {
  for (std::size_t at = AsciiPrefixLength(utf8); at < utf8.size();) {
    char32_t ch = 0;
    const std::size_t length = DecodeUtf8(utf8.substr(at), ch);
    if (length > 0 && UnicodeToCp1252(ch) < 0) return ch;
    at += std::max<std::size_t>(length, 1);
    at += AsciiPrefixLength(utf8.substr(at));
  }
  return 0;
}

std::size_t Utf8SizeBound(std::string_view ansi) {
  std::size_t size = ansi.size();
  for (std::size_t i = AsciiPrefixLength(ansi); i < ansi.size();
       i += 1 + AsciiPrefixLength(ansi.substr(i + 1))) {
    size += static_cast<unsigned char>(ansi[i]) <= 0x9F ? 2 : 1;
  }
  return size;
}

char* AnsiToUtf8(std::string_view ansi, char* out) {
  while (!ansi.empty()) {
    const std::size_t ascii = AsciiPrefixLength(ansi);
    out = std::copy_n(ansi.data(), ascii, out);
    ansi.remove_prefix(ascii);
    if (ansi.empty()) break;
    out = PutUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(ansi.front())));
    ansi.remove_prefix(1);
  }
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out(Utf8SizeBound(ansi), '\0');
  out.resize(static_cast<std::size_t>(AnsiToUtf8(ansi, out.data()) - out.data()));
  return out;
}

std::size_t FirstInvalidUtf8(std::string_view text) {
  for (std::size_t at = AsciiPrefixLength(text); at < text.size();) {
    char32_t ch = 0;
    const std::size_t length = DecodeUtf8(text.substr(at), ch);
    if (length == 0) return at;
    at += length;
    at += AsciiPrefixLength(text.substr(at));
  }
  return std::string_view::npos;
}

bool IsAscii(std::string_view text) {
  return AsciiPrefixLength(text) == text.size();
}

std::string ReplaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t bad = FirstInvalidUtf8(text); bad != std::string_view::npos;
       bad = FirstInvalidUtf8(text)) {
    out.append(text.data(), bad);
    out += '?';
    text.remove_prefix(bad + 1);
  }
  out.append(text);
  return out;
}

}  // namespace lumirex
