// Windows-1252, the single-byte code page of a host that keeps the platform's
// defaults, and the UTF-8 checks a UTF-8 host's texts go through.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumirex {

// The Unicode character of a Windows-1252 byte. The five bytes the code page
// leaves undefined map to U+0081, U+008D, U+008F, U+0090 and U+009D.
char32_t Cp1252ToUnicode(unsigned char byte);

// The Windows-1252 byte of a character, or -1 when the code page lacks it.
int UnicodeToCp1252(char32_t ch);

// Whether every byte is ASCII, which reads the same in both encodings.
bool IsAscii(std::string_view text);
// UTF-8 to Windows-1252: a character the code page lacks becomes '?', and so
// does each byte of an invalid UTF-8 sequence. Never fails.
std::string Utf8ToAnsi(std::string_view utf8);
// The same into out, which may be where utf8 lies, as the text never grows;
// returns the end of what was written.
char* Utf8ToAnsi(std::string_view utf8, char* out);

// The first well-formed character of a UTF-8 text that Windows-1252 lacks,
// or 0 when it has them all (a broken sequence is passed over).
char32_t FirstCharacterNotInCp1252(std::string_view utf8);

// Windows-1252 to UTF-8; every byte has a character, so this never fails.
std::string AnsiToUtf8(std::string_view ansi);

// The same into a buffer of at least Utf8SizeBound(ansi) bytes, for a parser
// that takes the buffer over; returns the end of what was written. The bound
// is exact unless the text holds bytes 0x80-0x9F, some of which take two
// bytes rather than three.
std::size_t Utf8SizeBound(std::string_view ansi);
char* AnsiToUtf8(std::string_view ansi, char* out);

// Where the first byte that is not part of a well-formed UTF-8 sequence
// stands, or npos when the whole text is UTF-8.
std::size_t FirstInvalidUtf8(std::string_view text);

// The text with each byte of an invalid sequence replaced by '?', as
// Utf8ToAnsi treats it; well-formed UTF-8 comes back unchanged.
std::string ReplaceInvalidUtf8(std::string_view text);

}  // namespace lumirex
