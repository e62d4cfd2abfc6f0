// Numbers and variants as text, under the library's regional settings and
// never the C library's locale.
#pragma once

#include <string>
#include <string_view>

#include "lumirex/lumirex.hpp"

namespace lumirex {

// A finite non-zero value rounded to 15 significant digits, as those digits
// without trailing zeros and the power of ten of the first: 12.5 gives
// {false, "125", 1}, -0.004 gives {true, "4", -3}.
struct DecimalFigures {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};
DecimalFigures ToDecimalFigures(double value);

// Rounded to 15 significant digits, trailing zeros dropped, the decimal
// separator of the settings, no exponent from 1e-5 up to 1e15: 12.5 -> "12,5".
std::string FloatToStr(double value);

// Optional blanks, optional sign, digits with at most one decimal separator
// (the settings'), optional exponent. Anything else raises ConversionError
// "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

// The ordinary variant-to-text conversion: EMPTY and NULL "", BOOL
// "True"/"False", INT its digits, DOUBLE FloatToStr, DATETIME DateTimeToStr,
// STRING itself; an ARRAY raises ConversionError.
std::string VariantToText(const Variant& value);

// The ordinary variant-to-Boolean conversion: BOOL itself, numbers non-zero,
// "True"/"False" texts (any case); anything else raises ConversionError.
bool VariantToBool(const Variant& value);

}  // namespace lumirex
