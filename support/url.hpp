// Percent-encoding of URL query values and form bodies, and the schemes a
// service URL may have.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX with upper-case hex digits.
std::string PercentEncode(std::string_view bytes);

// The reverse; "+" stays "+". A malformed escape raises ConversionError.
std::string PercentDecode(std::string_view text);

// Whether the URL starts with http:// or https:// (any case). Without one,
// the HTTP client would guess plain HTTP, and a typo would send CPFs
// unencrypted.
bool HasHttpScheme(std::string_view url);

// Why such a URL is refused, its password masked.
std::string NoHttpSchemeText(std::string_view url);

}  // namespace lumirex
