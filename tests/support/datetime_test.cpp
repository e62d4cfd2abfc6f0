#include "support/datetime.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include "support/errors.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

constexpr double kMillisecond = 1.0 / 86'400'000;

double Encode(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms}).value();
}

void ExpectParts(const DateTimeParts& p, DateTimeParts want) {
  EXPECT_EQ(p.year, want.year);
  EXPECT_EQ(p.month, want.month);
  EXPECT_EQ(p.day, want.day);
  EXPECT_EQ(p.hour, want.hour);
  EXPECT_EQ(p.minute, want.minute);
  EXPECT_EQ(p.second, want.second);
  EXPECT_EQ(p.millisecond, want.millisecond);
}

TEST(DateTimeTest, CountsDaysFromTheEpoch) {
  EXPECT_EQ(Encode(1899, 12, 30), 0);
  EXPECT_EQ(Encode(1900, 1, 1), 2);
  EXPECT_EQ(Encode(2024, 3, 5), 45356);
  EXPECT_EQ(Encode(1, 1, 1), -693593);
  EXPECT_EQ(Encode(9999, 12, 31), 2958465);
  EXPECT_DOUBLE_EQ(Encode(2024, 3, 5, 12), 45356.5);
  EXPECT_DOUBLE_EQ(Encode(2024, 3, 5, 18), 45356.75);
}

TEST(DateTimeTest, BeforeTheEpochTheFractionIsStillTheTime) {
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 29, 6), -1.25);
  ExpectParts(DecodeDateTime(-1.25), {1899, 12, 29, 6, 0, 0, 0});
  ExpectParts(DecodeDateTime(-0.5), {1899, 12, 30, 12, 0, 0, 0});
  ExpectParts(DecodeDateTime(-2), {1899, 12, 28, 0, 0, 0, 0});
}

TEST(DateTimeTest, RejectsPartsThatAreNoRealDate) {
  const DateTimeParts invalid[] = {
      {2024, 13, 5},        {2024, 0, 5},
      {2024, 2, 30},        {2023, 2, 29},
      {1900, 2, 29},        {2024, 4, 31},
      {2024, 3, 0},         {0, 1, 1},
      {10000, 1, 1},        {2024, 3, 5, 24},
      {2024, 3, 5, 23, 60}, {2024, 3, 5, 23, 59, 60},
      {2024, 3, 5, -1},     {2024, 3, 5, 0, 0, 0, 1000},
  };
  for (const auto& p : invalid) {
    EXPECT_FALSE(EncodeDateTime(p).has_value())
        << p.year << '-' << p.month << '-' << p.day << ' ' << p.hour << ':' << p.minute << ':'
        << p.second << '.' << p.millisecond;
  }
  EXPECT_TRUE(EncodeDateTime({2024, 2, 29}).has_value());
  EXPECT_TRUE(EncodeDateTime({2000, 2, 29}).has_value());
}

TEST(DateTimeTest, DecodeReversesEncode) {
  const DateTimeParts samples[] = {
      {2024, 3, 5, 14, 7, 9, 750}, {1999, 12, 31, 23, 59, 59, 999}, {2024, 2, 29, 0, 0, 0, 1},
      {1, 1, 1, 12, 0, 0, 0},      {9999, 12, 31, 23, 59, 59, 0},   {1850, 6, 15, 8, 30, 0, 0},
  };
  for (const auto& p : samples) ExpectParts(DecodeDateTime(EncodeDateTime(p).value()), p);
}

TEST(DateTimeTest, DecodeRoundsToTheMillisecond) {
  const double tenPast = Encode(2024, 3, 5, 14, 7, 10);
  ExpectParts(DecodeDateTime(tenPast - kMillisecond / 10), {2024, 3, 5, 14, 7, 10, 0});
  ExpectParts(DecodeDateTime(Encode(2024, 3, 5) - kMillisecond / 10), {2024, 3, 5, 0, 0, 0, 0});
  // Rounding up into the next midnight moves to the next day.
  ExpectParts(DecodeDateTime(Encode(2024, 3, 5) + 1 - kMillisecond / 10), {2024, 3, 6, 0, 0, 0, 0});
  ExpectParts(DecodeDateTime(-1.9999999999), {1899, 12, 30, 0, 0, 0, 0});
}

TEST(DateTimeTest, DecodeRaisesOutsideTheCalendar) {
  for (double value : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1e300, 2958466.0, -693594.0}) {
    EXPECT_THROW(DecodeDateTime(value), ConversionError) << value;
  }
}

TEST(DateTimeTest, DateTimeToStrLeavesOutMidnight) {
  EXPECT_EQ(DateTimeToStr(Encode(2024, 3, 5, 14, 7, 9, 750)), "05/03/2024 14:07:09");
  EXPECT_EQ(DateTimeToStr(Encode(2024, 3, 5)), "05/03/2024");
  EXPECT_EQ(DateTimeToStr(Encode(2024, 3, 5, 0, 0, 0, 1)), "05/03/2024 00:00:00");
  EXPECT_EQ(DateTimeToStr(0), "30/12/1899");
  EXPECT_EQ(DateTimeToStr(Encode(5, 1, 2, 3, 4, 5)), "02/01/0005 03:04:05");
}

// Now() must follow the local clock, not UTC: under a zone three hours west of
// UTC it must agree with the local time the C library reports.
TEST(DateTimeTest, NowIsLocalTime) {
  std::time_t before = 0;
  double now = 0;
  std::tm local{};
  {
    testkit::ScopedEnv zone("TZ", "BRT3");
    tzset();
    before = std::time(nullptr);
    now = Now();
    localtime_r(&before, &local);
  }
  tzset();
  const double expected = Encode(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_hour, local.tm_min, local.tm_sec);
  EXPECT_GE(now, expected - kMillisecond);
  EXPECT_LT(now, expected + 2.0 / 86'400);
}

}  // namespace
}  // namespace lumirex
