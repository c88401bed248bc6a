#include "base/FixedText.h"

#include <gtest/gtest.h>

TEST(FixedText, CopyRefusesWhatDoesNotFitAndLeavesTheBuffer) {
  wchar_t buf[6] = L"keep";
  EXPECT_FALSE(base::CopyText(buf, L"123456"));
  EXPECT_STREQ(buf, L"keep");
  EXPECT_TRUE(base::CopyText(buf, L"12345"));
  EXPECT_STREQ(buf, L"12345");
  EXPECT_TRUE(base::CopyText(buf, nullptr));
  EXPECT_STREQ(buf, L"");
}

TEST(FixedText, AppendIsAllOrNothing) {
  wchar_t buf[8] = L"ab";
  EXPECT_FALSE(base::AppendText(buf, L"cd", L"efgh"));  // 2 + 6 + terminator > 8
  EXPECT_STREQ(buf, L"ab");
  EXPECT_TRUE(base::AppendText(buf, L"cd", L"efg"));
  EXPECT_STREQ(buf, L"abcdefg");
  wchar_t joined[4] = L"xyz";
  EXPECT_FALSE(base::JoinText(joined, L"ab", L"cd"));
  EXPECT_STREQ(joined, L"xyz");
  EXPECT_TRUE(base::JoinText(joined, L"a", L"bc"));
  EXPECT_STREQ(joined, L"abc");
}

TEST(FixedText, AsciiCaseInsensitiveEquality) {
  EXPECT_TRUE(base::EqualsIgnoreAsciiCase(L"/UNINST", L"/uninst"));
  EXPECT_FALSE(base::EqualsIgnoreAsciiCase(L"/uninst2", L"/uninst"));
  EXPECT_FALSE(base::EqualsIgnoreAsciiCase(L"/unins", L"/uninst"));
  // Only ASCII letters fold: a full-width letter is a different character.
  EXPECT_FALSE(base::EqualsIgnoreAsciiCase(L"/\xFF35ninst", L"/uninst"));
}
