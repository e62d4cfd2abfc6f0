#include "support/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/scoped_settings.hpp"

namespace lumirex::conversions {
namespace {

constexpr double kMillisecond = 1.0 / 86'400'000;

double Moment(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms}).value();
}

TEST(ToFloatTest, ReadsCentsTexts) {
  const std::pair<const char*, double> cases[] = {
      {"", 0},
      {" \t ", 0},
      {"0", 0},
      {"000", 0},
      {"005", 0.05},
      {"50", 0.5},
      {"5", 0.05},
      {"1250", 12.5},
      {"1234", 12.34},
      {"00001250", 12.5},
      {" 1250 ", 12.5},
      {"+1250", 12.5},
      {"-150", -1.5},
      {"-5", -0.05},
      {"100000000", 1000000},
      {"123456789012345678", 1234567890123456.78},
  };
  // The comma setting must not matter: the cents text has no separator.
  for (char separator : {',', '.'}) {
    testing::ScopedDecimalSeparator scoped(separator);
    for (const auto& [text, amount] : cases) EXPECT_EQ(ToFloat(text), amount) << text;
  }
}

TEST(ToFloatTest, NegativeZeroReadsAsZero) {
  EXPECT_FALSE(std::signbit(ToFloat("-0")));
}

TEST(ToFloatTest, RaisesForAnythingButSignAndDigits) {
  for (const char* text : {"12.50", "12,50", "abc", "12 50", "- 150", "1e3", "--1", "-", "+",
                           "0x10", "1_000", "12a"}) {
    EXPECT_THROW(ToFloat(text), ConversionError) << text;
  }
  try {
    ToFloat("12,50");
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'12,50' is not a valid cents text");
  }
}

TEST(ToStringTest, WritesCentsTexts) {
  const std::pair<double, const char*> cases[] = {
      {12.5, "1250"},
      {0.05, "005"},
      {0.5, "050"},
      {7.891, "789"},
      {0.004, "000"},
      {0, "0"},
      {-0.0, "0"},
      {-3.2, "0"},
      {1e6, "100000000"},
      {1.005, "101"},
      {0.285, "029"},
      {2.675, "268"},
      {0.005, "001"},
      {0.0049, "000"},
      {0.995, "100"},
      {9.995, "1000"},
      {1e-20, "000"},
      {123.455, "12346"},
      {1e20, "10000000000000000000000"},
  };
  for (char separator : {',', '.'}) {
    testing::ScopedDecimalSeparator scoped(separator);
    for (const auto& [amount, text] : cases) EXPECT_EQ(ToString(amount), text) << amount;
  }
}

TEST(ToStringTest, RaisesForNanAndInfinity) {
  for (double amount :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_THROW(ToString(amount), ConversionError) << amount;
  }
}

// Amounts of whole thousandths, so the expected hundredths follow from
// integer arithmetic: a half rounds away from zero.
TEST(ToStringTest, ReadsBackAsTheAmountRoundedToHundredths) {
  for (long thousandths = 6; thousandths <= 200'000; thousandths += 7) {
    const double amount = static_cast<double>(thousandths) / 1000;
    const double expected = static_cast<double>((thousandths + 5) / 10) / 100;
    EXPECT_EQ(ToFloat(ToString(amount)), expected) << amount;
  }
}

TEST(ToDateTimeTest, ReadsServiceDates) {
  const double moment = Moment(2024, 3, 5, 14, 7, 9);
  const std::pair<const char*, double> cases[] = {
      {"2024-03-05T14:07:09", moment},    {"2024-03-05T14:07:09.000-03:00", moment},
      {"2024-03-05T14:07:09Z", moment},   {" 2024-03-05T14:07:09\n", moment},
      {"2024/03/05 14:07:09", moment},  // only the fixed positions count
      {"2024-03-05", Moment(2024, 3, 5)}, {"2024-02-29T23:59:59", Moment(2024, 2, 29, 23, 59, 59)},
      {"1899-12-30T00:00:00", 0},         {"1899-12-29T06:00:00", -1.25},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ToDateTime(text), value) << text;
}

TEST(ToDateTimeTest, EmptyTextExpiresInAYear) {
  for (const char* text : {"", "  \r\n"}) {
    const double before = Now();
    const double value = ToDateTime(text);
    const double after = Now();
    EXPECT_GE(value, before + 365);
    EXPECT_LE(value, after + 365);
  }
}

TEST(ToDateTimeTest, RaisesForWhatIsNoRealDate) {
  for (const char* text :
       {"2024-13-05T14:07:09", "2024-00-05T14:07:09", "2024-02-30T10:00:00", "2023-02-29",
        "2024-03-05T24:00:00", "2024-03-05T14:60:00", "2024-03-05T14:07:60", "abcd-03-05T14:07:09",
        "2024-03-05T1a:07:09", "0000-01-01T00:00:00", "2024-03-05T14:07", "2024-03-0", "2024-3-5",
        "2024-03-05T", "2024-03-05T14.07.09", "x"}) {
    EXPECT_THROW(ToDateTime(text), ConversionError) << text;
  }
  try {
    ToDateTime("2024-13-05T14:07:09");
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'2024-13-05T14:07:09' is not a valid service date");
  }
}

TEST(ToDateTimeORVOTest, WritesServiceDates) {
  const std::pair<double, const char*> cases[] = {
      {Moment(2024, 3, 5, 14, 7, 9, 750), "2024-03-05T14:07:09"},
      {Moment(2024, 3, 5, 14, 7, 10) - kMillisecond / 10, "2024-03-05T14:07:10"},
      {Moment(2024, 3, 5, 23, 59, 59, 999) + kMillisecond * 0.6, "2024-03-06T00:00:00"},
      {Moment(2024, 3, 5), "2024-03-05T00:00:00"},
      {0, "1899-12-30T00:00:00"},
      {-1.25, "1899-12-29T06:00:00"},
      {Moment(1, 1, 1), "0001-01-01T00:00:00"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(ToDateTimeORVO(value), text) << value;
  EXPECT_THROW(ToDateTimeORVO(std::numeric_limits<double>::quiet_NaN()), ConversionError);
}

}  // namespace
}  // namespace lumirex::conversions
