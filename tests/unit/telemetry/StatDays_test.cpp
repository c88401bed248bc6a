#include "telemetry/StatDays.h"

#include <gtest/gtest.h>

namespace telemetry {
namespace {

TEST(StatDays, CalendarArithmetic) {
  CivilDate d;
  d.year = 1970;
  d.month = 1;
  d.day = 1;
  EXPECT_EQ(0, DaysFromCivil(d));
  d.year = 2000;
  d.month = 3;
  d.day = 1;
  EXPECT_EQ(11017, DaysFromCivil(d));
  const CivilDate back = CivilFromSeconds(11017LL * 86400 + 5);
  EXPECT_EQ(2000, back.year);
  EXPECT_EQ(3, back.month);
  EXPECT_EQ(1, back.day);
  wchar_t text[32];
  d.year = 987;
  d.month = 6;
  d.day = 7;
  ASSERT_TRUE(FormatInstallDay(d, text));
  EXPECT_STREQ(L" 9870607", text);  // "%4hu" pads with a blank
  wchar_t small[4] = L"kep";
  EXPECT_FALSE(FormatVisitDate(d, small));
  EXPECT_STREQ(L"kep", small);
  ASSERT_TRUE(FormatInt64(-9223372036854775807LL - 1, text));
  EXPECT_STREQ(L"-9223372036854775808", text);
}

}  // namespace
}  // namespace telemetry
