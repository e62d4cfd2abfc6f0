// Small text helpers shared across the library.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// True for a text that is empty or holds only blanks (space, tab, CR, LF).
bool EmptyString(std::string_view text);

// The text with every carriage return (code 13) removed; line feeds stay.
std::string RemoveCarriageReturns(std::string_view text);

// A connection string with the values of PWD= and Password= replaced by "***".
std::string MaskPasswords(std::string_view connection);

}  // namespace lumirex
