#include "support/url.hpp"

#include <gtest/gtest.h>

#include "support/errors.hpp"

namespace lumirex {
namespace {

TEST(UrlTest, EncodesEverythingButUnreserved) {
  EXPECT_EQ(PercentEncode("123.456.789-09"), "123.456.789-09");
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode("a&b=c d+e/%"), "a%26b%3Dc%20d%2Be%2F%25");
  EXPECT_EQ(PercentEncode("<x>\xE9\xFF"), "%3Cx%3E%E9%FF");
  EXPECT_EQ(PercentEncode(std::string("\0", 1)), "%00");
}

TEST(UrlTest, DecodeReversesEncode) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(UrlTest, DecodeKeepsPlusAndTakesEitherCase) {
  EXPECT_EQ(PercentDecode("a+b%2bc%2Bd%e9"), "a+b+c+d\xE9");
  EXPECT_EQ(PercentDecode(""), "");
}

TEST(UrlTest, MalformedEscapeRaises) {
  for (const char* text : {"%", "%4", "abc%", "%G1", "%1G", "x%%41"}) {
    EXPECT_THROW(PercentDecode(text), ConversionError) << text;
  }
}

}  // namespace
}  // namespace lumirex
