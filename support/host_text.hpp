// Texts in the host's encoding (Windows-1252 or UTF-8, see settings). Inside
// the library every text is in the host's encoding; these are the few
// conversions at the edges where another encoding comes in or goes out: the
// service's XML, SQLite's UTF-8, the declarations of the documents written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumirex {

bool HostIsUtf8();

// The name an XML declaration gives the host's encoding, or the one named.
const char* HostXmlEncoding();
const char* XmlEncodingName(bool utf8);

// UTF-8 to the host's encoding: Utf8ToAnsi for Windows-1252; for a UTF-8
// host the text itself, with each byte of a broken sequence as '?'.
std::string HostTextFromUtf8(std::string_view utf8);

// The same for a text that goes out again (a CPF, a promocode), where '?'
// would send another text: a character Windows-1252 lacks raises
// ConversionError "<what> holds U+0141, which windows-1252 lacks".
std::string HostTextFromUtf8Exactly(std::string_view utf8, std::string_view what);

// A host text as UTF-8; a UTF-8 host's texts are that already.
std::string Utf8FromHostText(std::string_view text);

// A text's length in characters: bytes for Windows-1252, characters for UTF-8.
std::size_t HostTextLength(std::string_view text);

// The first `characters` characters of a text, never cut inside one.
std::string_view HostTextPrefix(std::string_view text, std::size_t characters);

// Raises ConversionError "<what> is not UTF-8: byte 0x.. at offset n" when a
// UTF-8 host passes a text that is not; Windows-1252 has no invalid byte.
void RequireHostText(std::string_view text, std::string_view what);

}  // namespace lumirex
