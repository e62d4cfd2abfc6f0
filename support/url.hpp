// Percent-encoding of URL query values and form bodies.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX with upper-case hex digits.
std::string PercentEncode(std::string_view bytes);

// The reverse; "+" stays "+". A malformed escape raises ConversionError.
std::string PercentDecode(std::string_view text);

}  // namespace lumirex
