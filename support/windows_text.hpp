// Windows only: the host's texts as the system's UTF-16 and back, and the
// system's error texts.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// UTF-8 (a path, see path_text.hpp) as UTF-16 for the system's W calls, and
// back; a broken UTF-8 sequence becomes U+FFFD, a lone surrogate U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// A host text (Windows-1252 or UTF-8) as UTF-16, for the system's W calls.
std::wstring WideFromHostText(std::string_view text);

// UTF-16 from the system as a host text; a character the host's code page
// lacks becomes '?'.
std::string HostTextFromWide(std::wstring_view text);

// The same, refusing a character the host encoding lacks, for a text that
// goes out again: see HostTextFromUtf8Exactly.
std::string HostTextFromWideExactly(std::wstring_view text, std::string_view what);

// The system's text for an error code of GetLastError(), with its number.
std::string WindowsErrorText(unsigned long code);

}  // namespace lumirex
