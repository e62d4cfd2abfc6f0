#include "cli/escaping_stream.hpp"

#include <cstdio>

namespace lumirex::cli {

namespace {

constexpr unsigned char kC1Lead = 0xC2;

bool IsC0OrDel(unsigned char byte) {
  return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F;
}

std::string Escape(const char* format, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, format, byte);
  return text;
}

}  // namespace

EscapingBuffer::~EscapingBuffer() {
  if (pendingLead_) target_->sputc(static_cast<char>(kC1Lead));
}

bool EscapingBuffer::Put(unsigned char byte) {
  auto write = [this](const std::string& text) {
    return target_->sputn(text.data(), static_cast<std::streamsize>(text.size())) ==
           static_cast<std::streamsize>(text.size());
  };
  auto raw = [this](unsigned char b) {
    return target_->sputc(static_cast<char>(b)) != traits_type::eof();
  };
  if (!escaping_) return raw(byte);
  if (pendingLead_) {
    pendingLead_ = false;
    if (byte >= 0x80 && byte <= 0x9F) return write(Escape("\\u00%02x", byte));
    if (!raw(kC1Lead)) return false;
  }
  if (byte == kC1Lead) {
    pendingLead_ = true;
    return true;
  }
  if (IsC0OrDel(byte)) return write(Escape("\\x%02x", byte));
  return raw(byte);
}

EscapingBuffer::int_type EscapingBuffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  return Put(static_cast<unsigned char>(ch)) ? ch : traits_type::eof();
}

std::streamsize EscapingBuffer::xsputn(const char* text, std::streamsize count) {
  if (!escaping_ && !pendingLead_) return target_->sputn(text, count);
  for (std::streamsize at = 0; at < count; ++at) {
    if (!Put(static_cast<unsigned char>(text[at]))) return at;
  }
  return count;
}

int EscapingBuffer::sync() {
  return target_->pubsync();
}

}  // namespace lumirex::cli
