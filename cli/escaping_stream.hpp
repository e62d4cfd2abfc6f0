// Output that cannot steer the terminal it is read on. Texts of the service,
// the database and the host reach the command's output; an escape sequence
// among them would clear the screen, retitle the window or write the
// clipboard of the person reading.
#pragma once

#include <ostream>
#include <streambuf>

namespace lumirex::cli {

// A stream buffer that passes what is written to `target`. While escaping is
// on, every control character but tab and line feed is written as an escape:
// C0 and DEL as "\x1b", the C1 controls (U+0080 to U+009F in UTF-8) as
// "\u009b". Off, the bytes pass untouched (JSON, whose own escapes keep it
// exact).
class EscapingBuffer : public std::streambuf {
 public:
  explicit EscapingBuffer(std::streambuf* target) : target_(target) {}
  ~EscapingBuffer() override;
  EscapingBuffer(const EscapingBuffer&) = delete;
  EscapingBuffer& operator=(const EscapingBuffer&) = delete;

  void SetEscaping(bool on) { escaping_ = on; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool Put(unsigned char byte);

  std::streambuf* target_;
  bool escaping_ = true;
  bool pendingLead_ = false;  // a 0xC2 whose next byte decides what it starts
};

// An ostream over an EscapingBuffer.
class EscapingStream : public std::ostream {
 public:
  explicit EscapingStream(std::ostream& target) : std::ostream(nullptr), buffer_(target.rdbuf()) {
    rdbuf(&buffer_);
  }
  void SetEscaping(bool on) { buffer_.SetEscaping(on); }

 private:
  EscapingBuffer buffer_;
};

}  // namespace lumirex::cli
