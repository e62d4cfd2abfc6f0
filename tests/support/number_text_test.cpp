#include "support/number_text.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/scoped_settings.hpp"

namespace lumirex {
namespace {

using testing::ScopedDecimalSeparator;

struct FloatTextCase {
  double value;
  const char* comma;  // as written with ',' as the decimal separator
};

class FloatToStrTest : public ::testing::TestWithParam<FloatTextCase> {};

TEST_P(FloatToStrTest, WritesWithEitherSeparator) {
  {
    ScopedDecimalSeparator separator(',');
    EXPECT_EQ(FloatToStr(GetParam().value), GetParam().comma);
  }
  ScopedDecimalSeparator separator('.');
  std::string dotted = GetParam().comma;
  for (char& c : dotted) c = c == ',' ? '.' : c;
  EXPECT_EQ(FloatToStr(GetParam().value), dotted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FloatToStrTest,
    ::testing::Values(FloatTextCase{12.5, "12,5"}, FloatTextCase{2.0, "2"},
                      FloatTextCase{0.1 + 0.2, "0,3"}, FloatTextCase{-1.5, "-1,5"},
                      FloatTextCase{0.0, "0"}, FloatTextCase{-0.0, "0"},
                      FloatTextCase{1.0 / 3, "0,333333333333333"},
                      FloatTextCase{2.0 / 3, "0,666666666666667"},
                      FloatTextCase{123456789012345.0, "123456789012345"},
                      FloatTextCase{100000000000000.0, "100000000000000"},
                      FloatTextCase{999999999999999.9, "1E15"}, FloatTextCase{1e15, "1E15"},
                      FloatTextCase{-1.5e20, "-1,5E20"}, FloatTextCase{1e-5, "0,00001"},
                      FloatTextCase{1.25e-5, "0,0000125"}, FloatTextCase{9.9e-6, "9,9E-6"},
                      FloatTextCase{1e-300, "1E-300"}, FloatTextCase{1000000.0, "1000000"},
                      // Cut, not rounded up past the largest double.
                      FloatTextCase{std::numeric_limits<double>::max(), "1,79769313486231E308"},
                      FloatTextCase{-std::numeric_limits<double>::max(), "-1,79769313486231E308"},
                      FloatTextCase{std::numeric_limits<double>::quiet_NaN(), "NAN"},
                      FloatTextCase{std::numeric_limits<double>::infinity(), "INF"},
                      FloatTextCase{-std::numeric_limits<double>::infinity(), "-INF"}));

struct ParseCase {
  const char* text;
  double value;
};

class StrToFloatTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(StrToFloatTest, ReadsWithTheSettingsSeparator) {
  ScopedDecimalSeparator comma(',');
  EXPECT_DOUBLE_EQ(StrToFloat(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToFloatTest,
                         ::testing::Values(ParseCase{"12,5", 12.5}, ParseCase{"12", 12},
                                           ParseCase{"-3,25", -3.25}, ParseCase{"+7", 7},
                                           ParseCase{"  42,0 ", 42}, ParseCase{",5", 0.5},
                                           ParseCase{"5,", 5}, ParseCase{"1,5E3", 1500},
                                           ParseCase{"1e-2", 0.01}, ParseCase{"2E+2", 200},
                                           ParseCase{"0007", 7}));

TEST(StrToFloatTest, RejectsWhatIsNoNumber) {
  ScopedDecimalSeparator comma(',');
  for (const char* text : {"", "  ", "12.5", "1.234,5", "1,234,5", "abc", "12a", "1 2", "+-1", "-",
                           ",", "1e", "1e+", "e5", "0x10", "nan", "inf", "1e999"}) {
    EXPECT_THROW(StrToFloat(text), ConversionError) << text;
  }
}

TEST(StrToFloatTest, FollowsTheSeparatorOfTheSettings) {
  ScopedDecimalSeparator dot('.');
  EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
  EXPECT_THROW(StrToFloat("12,5"), ConversionError);
}

TEST(StrToFloatTest, MessageQuotesTheText) {
  ScopedDecimalSeparator comma(',');
  try {
    StrToFloat("12.50");
    FAIL() << "no exception";
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'12.50' is not a valid floating point value");
  }
}

TEST(StrToFloatTest, ReadsBackWhatFloatToStrWrites) {
  for (char separator : {',', '.'}) {
    ScopedDecimalSeparator scoped(separator);
    // Values of up to 15 significant digits come back exactly.
    for (double value : {12.5, -0.001, 123456.789, 1e-7, 6.02e23}) {
      EXPECT_EQ(StrToFloat(FloatToStr(value)), value) << value;
    }
    // Longer values come back as their 15 digits, up to the largest double.
    for (double value : {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                         std::numeric_limits<double>::denorm_min()}) {
      EXPECT_EQ(FloatToStr(StrToFloat(FloatToStr(value))), FloatToStr(value)) << value;
    }
  }
}

TEST(VariantToTextTest, ConvertsEveryScalarKind) {
  ScopedDecimalSeparator comma(',');
  const double moment = EncodeDateTime({2024, 3, 5, 14, 7, 9}).value();
  const std::pair<Variant, std::string> cases[] = {
      {Variant(), ""},
      {Variant::Null(), ""},
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(std::int64_t{-9007199254740993}), "-9007199254740993"},
      {Variant(0.1 + 0.2), "0,3"},
      {Variant::DateTime(moment), "05/03/2024 14:07:09"},
      {Variant::DateTime(45356), "05/03/2024"},
      {Variant("texto \xE9"), "texto \xE9"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(VariantToText(value), text);
}

TEST(VariantToTextTest, ArrayRaises) {
  EXPECT_THROW(VariantToText(Variant::Array(2)), ConversionError);
}

TEST(VariantToBoolTest, ConvertsBooleansNumbersAndTheirTexts) {
  const std::pair<Variant, bool> cases[] = {
      {Variant(true), true},     {Variant(false), false}, {Variant(2), true},
      {Variant(0), false},       {Variant(-0.5), true},   {Variant(0.0), false},
      {Variant("TRUE"), true},   {Variant("true"), true}, {Variant("False"), false},
      {Variant("fAlSe"), false},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(VariantToBool(value), expected);
}

TEST(VariantToBoolTest, RaisesForAnythingElse) {
  for (const Variant& value : {Variant(), Variant::Null(), Variant("yes"), Variant(""),
                               Variant("1"), Variant(" true"), Variant::Array(1)}) {
    EXPECT_THROW(VariantToBool(value), ConversionError);
  }
}

}  // namespace
}  // namespace lumirex
