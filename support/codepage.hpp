// Windows-1252, the single-byte code page that every text inside the library is in.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// The Unicode character of a Windows-1252 byte. The five bytes the code page
// leaves undefined map to U+0081, U+008D, U+008F, U+0090 and U+009D.
char32_t Cp1252ToUnicode(unsigned char byte);

// The Windows-1252 byte of a character, or -1 when the code page lacks it.
int UnicodeToCp1252(char32_t ch);

// UTF-8 to Windows-1252: a character the code page lacks becomes '?', and so
// does each byte of an invalid UTF-8 sequence. Never fails.
std::string Utf8ToAnsi(std::string_view utf8);

// Windows-1252 to UTF-8; every byte has a character, so this never fails.
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace lumirex
