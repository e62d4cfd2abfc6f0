#include "cli/console_windows.hpp"

#include <windows.h>

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/app.hpp"
#include "support/windows_text.hpp"

namespace lumirex::cli {

namespace {

// The length of the text's longest prefix that ends on a whole character:
// the bytes of a character cut at the end wait for the rest of it.
std::size_t WholeCharacters(const std::string& text) {
  std::size_t start = text.size();
  for (int back = 0; back < 4 && start > 0; ++back) {
    const auto byte = static_cast<unsigned char>(text[start - 1]);
    if ((byte & 0xC0) != 0x80) {
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return text.size() - (start - 1) >= length ? text.size() : start - 1;
    }
    --start;
  }
  return text.size();
}

// Lines go to the console as they end, each as UTF-16.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override { Flush(); }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    pending_ += traits_type::to_char_type(ch);
    if (ch == '\n') Flush();
    return ch;
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    pending_.append(text, static_cast<std::size_t>(size));
    if (pending_.find('\n') != std::string::npos || pending_.size() > 4096) Flush();
    return size;
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  void Flush() {
    const std::size_t whole = WholeCharacters(pending_);
    const std::wstring wide = WideFromUtf8(std::string_view(pending_).substr(0, whole));
    DWORD written = 0;
    if (!wide.empty()) {
      WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
    pending_.erase(0, whole);
  }

  HANDLE console_;
  std::string pending_;
};

// The stream for a standard handle: the console's, or `fallback` when the
// handle is a file or a pipe.
struct Output {
  Output(DWORD which, std::ostream& fallback) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
      stream = &fallback;
      return;
    }
    buffer = std::make_unique<ConsoleBuffer>(handle);
    console = std::make_unique<std::ostream>(buffer.get());
    stream = console.get();
  }
  std::unique_ptr<ConsoleBuffer> buffer;
  std::unique_ptr<std::ostream> console;
  std::ostream* stream = nullptr;
};

}  // namespace

int RunAppWithWideArguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  std::vector<const char*> pointers;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8FromWide(argv[i]));
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);
  Output out(STD_OUTPUT_HANDLE, std::cout);
  Output err(STD_ERROR_HANDLE, std::cerr);
  const int status = RunApp(argc, pointers.data(), *out.stream, *err.stream);
  out.stream->flush();
  err.stream->flush();
  return status;
}

}  // namespace lumirex::cli
