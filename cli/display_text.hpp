// Texts and values as a person reads them in a UTF-8 terminal or in JSON.
#pragma once

#include <string>
#include <string_view>

namespace lumirex::cli {

// A text the library produced in the host encoding (a message, a log line it
// wrote): Windows-1252, or UTF-8 once the command runs as a UTF-8 host.
std::string FromAnsi(std::string_view ansi);
// The same for a text the caller is done with: a valid UTF-8 one is moved.
std::string FromAnsi(std::string&& ansi);
inline std::string FromAnsi(const char* ansi) {
  return FromAnsi(std::string_view(ansi));
}

// A text whose bytes came from the service untouched (a customer's name, a
// promocode's description): the service speaks UTF-8, so valid UTF-8 stays as
// it is; anything else is taken as Windows-1252. A Windows-1252 text with
// accented letters is practically never valid UTF-8, so the guess is safe.
std::string FromServiceBytes(std::string_view bytes);
std::string FromServiceBytes(std::string&& bytes);
inline std::string FromServiceBytes(const char* bytes) {
  return FromServiceBytes(std::string_view(bytes));
}

bool IsValidUtf8(std::string_view bytes);

// The columns a UTF-8 text takes in a terminal (one per character).
std::size_t DisplayWidth(std::string_view utf8);

// The text padded with blanks to width columns; a longer text is left whole.
std::string PadRight(std::string_view utf8, std::size_t width);

// A date-time of the host (days since 1899-12-30) as "yyyy-mm-ddThh:nn:ss",
// rounded to the millisecond and the milliseconds dropped.
std::string FormatDateTime(double days);

// An amount with two decimals and the given separator: 12.5 -> "12,50".
std::string FormatAmount(double amount, char separator);

}  // namespace lumirex::cli
