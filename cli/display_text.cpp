#include "cli/display_text.hpp"

#include <cmath>
#include <cstdio>

#include "support/codepage.hpp"
#include "support/datetime.hpp"

namespace lumirex::cli {

std::string FromAnsi(std::string_view ansi) {
  return AnsiToUtf8(ansi);
}

std::string FromServiceBytes(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : AnsiToUtf8(bytes);
}

namespace {

// The number of continuation bytes a lead byte announces, or -1 for a byte
// that cannot start a sequence.
int ContinuationCount(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
bool ValidSecondByte(unsigned char lead, unsigned char second) {
  if (lead == 0xE0) return second >= 0xA0;
  if (lead == 0xED) return second <= 0x9F;
  if (lead == 0xF0) return second >= 0x90;
  if (lead == 0xF4) return second <= 0x8F;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    int more = ContinuationCount(lead);
    if (more < 0 || bytes.size() - i - 1 < static_cast<std::size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
      auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      if (k == 1 && !ValidSecondByte(lead, next)) return false;
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (char ch : utf8) {
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string PadRight(std::string_view utf8, std::size_t width) {
  std::string padded(utf8);
  std::size_t used = DisplayWidth(utf8);
  if (used < width) padded.append(width - used, ' ');
  return padded;
}

std::string FormatDateTime(double days) {
  DateTimeParts parts = DecodeDateTime(days);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", parts.year, parts.month,
                parts.day, parts.hour, parts.minute, parts.second);
  return text;
}

std::string FormatAmount(double amount, char separator) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", amount);
  std::string formatted = text;
  auto point = formatted.find('.');
  if (point != std::string::npos) formatted[point] = separator;
  return formatted;
}

}  // namespace lumirex::cli
