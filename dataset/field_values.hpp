// The text forms a field value takes: the data packet's own (locale-free)
// forms, and the texts a database hands back for numbers and date-times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumirex::field_values {

// Field names (and the packet's keywords) compare ignoring ASCII case, as the
// host's datasets compare them.
bool SameName(std::string_view a, std::string_view b);

// An optional '-', digits and nothing else; nullopt when not such a text or
// outside 64 bits.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// The same with blanks around, as a person types it.
std::optional<std::int64_t> ParseIntegerText(std::string_view text);

// A decimal number with '.' as the point: optional sign, digits, optional
// exponent; nothing else (no blanks, no "inf" or "nan").
std::optional<double> ParsePointDecimal(std::string_view text);

// The shortest text with '.' that reads back as exactly the same double;
// `fixedNotation` never uses an exponent.
std::string FormatPointDecimal(double value, bool fixedNotation);

// A number typed by a person or returned by a database as text: blanks
// around, '.' or the regional decimal separator.
std::optional<double> ParseNumberText(std::string_view text);

// True for a date-time (days since 1899-12-30) of the years 1 to 9999.
bool InDateTimeRange(double value);

// The date-time at midnight of its day.
double DatePart(double value);

// The packet's "yyyymmdd" and "yyyymmddThh:nn:ssmmm" (milliseconds optional
// when reading).
std::optional<double> ParsePacketDate(std::string_view text);
std::optional<double> ParsePacketDateTime(std::string_view text);
void AppendPacketDate(std::string& out, double value);
void AppendPacketDateTime(std::string& out, double value);

// A date-time as text: SQLite's "yyyy-mm-dd[ hh:mm[:ss[.fff]]]" (or with 'T'
// between date and time), or the "dd/mm/yyyy[ hh:nn[:ss]]" that
// DateTimeToStr writes.
std::optional<double> ParseDateTimeText(std::string_view text);

}  // namespace lumirex::field_values
