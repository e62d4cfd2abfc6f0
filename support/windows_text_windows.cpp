#include <windows.h>

#include <climits>
#include <new>

#include "support/host_text.hpp"
#include "support/windows_text.hpp"

namespace lumirex {

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > INT_MAX) throw std::bad_alloc();
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  // Never more UTF-16 units than UTF-8 bytes; invalid sequences become U+FFFD.
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(count));
  return wide;
}

std::wstring WideFromHostText(std::string_view text) {
  return WideFromUtf8(Utf8FromHostText(text));
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX / 3) throw std::bad_alloc();
  const int size = static_cast<int>(text.size());
  std::string utf8(static_cast<std::size_t>(size) * 3, '\0');
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), size * 3, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(count));
  return utf8;
}

std::string HostTextFromWide(std::wstring_view text) {
  return HostTextFromUtf8(Utf8FromWide(text));
}

std::string HostTextFromWideExactly(std::wstring_view text, std::string_view what) {
  return HostTextFromUtf8Exactly(Utf8FromWide(text), what);
}

std::string WindowsErrorText(unsigned long code) {
  char* text = nullptr;
  const DWORD size = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  std::string message(text != nullptr ? text : "", size);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error";
  return message + " (Windows error " + std::to_string(code) + ")";
}

}  // namespace lumirex
