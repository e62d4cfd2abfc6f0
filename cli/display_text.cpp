#include "cli/display_text.hpp"

#include <cmath>
#include <cstdio>

#include "support/codepage.hpp"
#include "support/datetime.hpp"
#include "support/host_text.hpp"

namespace lumirex::cli {

std::string FromAnsi(std::string_view ansi) {
  // A UTF-8 host's texts are UTF-8 already; one from a file a Windows-1252
  // till wrote (an outbox, a log) is still read right.
  return HostIsUtf8() ? FromServiceBytes(ansi) : AnsiToUtf8(ansi);
}

std::string FromAnsi(std::string&& ansi) {
  return HostIsUtf8() ? FromServiceBytes(std::move(ansi)) : AnsiToUtf8(ansi);
}

std::string FromServiceBytes(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : AnsiToUtf8(bytes);
}

std::string FromServiceBytes(std::string&& bytes) {
  return IsValidUtf8(bytes) ? std::move(bytes) : AnsiToUtf8(bytes);
}

bool IsValidUtf8(std::string_view bytes) {
  return FirstInvalidUtf8(bytes) == std::string_view::npos;
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
