// Windows only: the host's texts as the system's UTF-16 and back, and the
// system's error texts.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// A host text (Windows-1252 or UTF-8) as UTF-16, for the system's W calls.
std::wstring WideFromHostText(std::string_view text);

// UTF-16 from the system as a host text; a character the host's code page
// lacks becomes '?'.
std::string HostTextFromWide(std::wstring_view text);

// The system's text for an error code of GetLastError(), with its number.
std::string WindowsErrorText(unsigned long code);

}  // namespace lumirex
