// Option strings of the form `key=value key="a value with blanks"`, as the
// embedded database's connection string takes them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumirex {

using Option = std::pair<std::string, std::string>;

// The options in their order. A value in double quotes may hold blanks, and
// \" and \\ stand for a quote and a backslash inside it; any other backslash
// is kept as it is. A text without any '=' is one value with an empty key
// (a bare file name). Raises ConversionError for an option without '=' or an
// unclosed quote.
std::vector<Option> ParseOptions(std::string_view text);

// The value in double quotes, escaped so that ParseOptions reads it back
// whatever it holds.
std::string QuoteOptionValue(std::string_view value);

}  // namespace lumirex
