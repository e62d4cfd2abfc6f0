#include "support/host_text.hpp"

#include <cstdio>

#include "support/codepage.hpp"
#include "support/errors.hpp"
#include "support/settings.hpp"

namespace lumirex {

namespace {

bool StartsCharacter(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

}  // namespace

bool HostIsUtf8() {
  return settings::CurrentHostEncoding() == settings::HostEncoding::Utf8;
}

const char* HostXmlEncoding() {
  return XmlEncodingName(HostIsUtf8());
}

const char* XmlEncodingName(bool utf8) {
  return utf8 ? "UTF-8" : "windows-1252";
}

std::string HostTextFromUtf8(std::string_view utf8) {
  return HostIsUtf8() ? ReplaceInvalidUtf8(utf8) : Utf8ToAnsi(utf8);
}

std::string HostTextFromUtf8Exactly(std::string_view utf8, std::string_view what) {
  if (!HostIsUtf8()) {
    if (const char32_t lacking = FirstCharacterNotInCp1252(utf8); lacking != 0) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(lacking));
      throw ConversionError(std::string(what) + " holds " + code + ", which windows-1252 lacks");
    }
  }
  return HostTextFromUtf8(utf8);
}

std::string Utf8FromHostText(std::string_view text) {
  return HostIsUtf8() ? std::string(text) : AnsiToUtf8(text);
}

// A continuation byte belongs to the character before it, so counting the
// other bytes counts characters, and stays sound on a broken sequence.
std::size_t HostTextLength(std::string_view text) {
  if (!HostIsUtf8()) return text.size();
  std::size_t count = 0;
  for (char byte : text) count += StartsCharacter(byte) ? 1 : 0;
  return count;
}

std::string_view HostTextPrefix(std::string_view text, std::size_t characters) {
  if (!HostIsUtf8()) return text.substr(0, characters);
  std::size_t seen = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (StartsCharacter(text[at]) && seen++ == characters) return text.substr(0, at);
  }
  return text;
}

void RequireHostText(std::string_view text, std::string_view what) {
  if (!HostIsUtf8()) return;
  const std::size_t bad = FirstInvalidUtf8(text);
  if (bad == std::string_view::npos) return;
  char byte[8];
  std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[bad]));
  throw ConversionError(std::string(what) + " is not UTF-8: byte " + byte + " at offset " +
                        std::to_string(bad));
}

}  // namespace lumirex
