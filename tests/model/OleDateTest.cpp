#include <gtest/gtest.h>

#include <ctime>

#include "model/OleDate.h"

namespace velkor {
namespace {

TEST(OleDate, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_FALSE(IsLeapYear(1900));  // century
  EXPECT_TRUE(IsLeapYear(2000));   // fourth century
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
}

TEST(OleDate, RangeOfTextForms) {
  EXPECT_TRUE(IsOleDateInRange(EncodeOleDate(1, 1, 1)));
  EXPECT_TRUE(IsOleDateInRange(EncodeOleDate(9999, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(IsOleDateInRange(EncodeOleDate(10000, 1, 1)));
  EXPECT_FALSE(IsOleDateInRange(EncodeOleDate(0, 12, 31)));
}

// The local clock as the C library sees it, to the minute (a minute turning over between
// the two reads is allowed for).
TEST(OleDate, LocalNowFollowsTheLocalClock) {
  const std::time_t before = std::time(nullptr);
  const CivilTime now = DecodeOleDate(LocalNowOle());
  const std::time_t after = std::time(nullptr);
  bool matched = false;
  for (const std::time_t t : {before, after}) {
    std::tm local{};
    localtime_r(&t, &local);
    matched = matched ||
              (now.year == local.tm_year + 1900 && now.month == local.tm_mon + 1 &&
               now.day == local.tm_mday && now.hour == local.tm_hour && now.minute == local.tm_min);
  }
  EXPECT_TRUE(matched);
}

}  // namespace
}  // namespace velkor
