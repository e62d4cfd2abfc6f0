#include "support/codepage.hpp"

#include <gtest/gtest.h>

namespace lumirex {
namespace {

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::string ansi;
};

class Utf8ToAnsiTest : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToAnsiTest, Converts) {
  EXPECT_EQ(Utf8ToAnsi(GetParam().utf8), GetParam().ansi);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8ToAnsiTest,
    ::testing::Values(Utf8Case{"Ascii", "Cliente 123", "Cliente 123"},
                      Utf8Case{"Accented", "Jo\xC3\xA3o \xC3\x89lio a\xC3\xA7\xC3\xA3o",
                               "Jo\xE3o \xC9lio a\xE7\xE3o"},
                      Utf8Case{"Euro", "\xE2\x82\xAC 10", "\x80 10"},
                      Utf8Case{"QuotesAndDashes", "\xE2\x80\x9Cx\xE2\x80\x9D \xE2\x80\x94",
                               "\x93x\x94 \x97"},
                      Utf8Case{"UndefinedBytesRoundTrip",
                               "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D", "\x81\x8D\x8F\x90\x9D"},
                      Utf8Case{"C1ControlOutsideCodePage", "\xC2\x80", "?"},
                      Utf8Case{"OutsideCodePage", "a\xE2\x86\x92 b", "a? b"},
                      Utf8Case{"OutsideBmp", "\xF0\x9F\x98\x80!", "?!"},
                      Utf8Case{"LoneContinuation", "a\x80 b", "a? b"},
                      Utf8Case{"TruncatedAtEnd", "ab\xE2\x82", "ab??"},
                      Utf8Case{"TruncatedBeforeAscii", "\xC3 A", "? A"},
                      Utf8Case{"Overlong", "\xC0\xAF", "??"},
                      Utf8Case{"Surrogate", "\xED\xA0\x80", "???"},
                      Utf8Case{"AboveUnicode", "\xF4\x90\x80\x80", "????"},
                      Utf8Case{"InvalidLead", "\xFF\xFE", "??"}, Utf8Case{"Empty", "", ""},
                      Utf8Case{"NulKept", std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodepageTest, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

// ASCII is skipped eight bytes at a time; a byte that needs converting must
// be found wherever it falls in or after such a stretch.
TEST(CodepageTest, ConvertsAByteAtAnyPlaceAmongAscii) {
  const std::string ascii(19, 'a');
  for (std::size_t at = 0; at < ascii.size(); ++at) {
    for (const char* ansi : {"\x80", "\xE9"}) {
      std::string text = ascii;
      text[at] = *ansi;
      const std::string utf8 = ascii.substr(0, at) + AnsiToUtf8(ansi) + ascii.substr(at + 1);
      EXPECT_EQ(AnsiToUtf8(text), utf8) << "at " << at;
      EXPECT_EQ(Utf8ToAnsi(utf8), text) << "at " << at;
    }
  }
}

TEST(CodepageTest, MapsTheHighControlRange) {
  EXPECT_EQ(Cp1252ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(Cp1252ToUnicode(0x9F), U'\u0178');
  EXPECT_EQ(Cp1252ToUnicode(0xE9), U'\u00E9');
  EXPECT_EQ(UnicodeToCp1252(U'\u2122'), 0x99);
  EXPECT_EQ(UnicodeToCp1252(U'\u0085'), -1);
  EXPECT_EQ(UnicodeToCp1252(U'\u0100'), -1);
  EXPECT_EQ(AnsiToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
}

}  // namespace
}  // namespace lumirex
