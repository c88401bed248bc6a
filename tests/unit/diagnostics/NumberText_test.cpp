#include "diagnostics/NumberText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// What printf's "%0*lld" or "%*lld" would make of |value| after "x".
std::wstring Decimal(long long value, int width, wchar_t pad) {
  wchar_t text[32] = L"x";
  EXPECT_TRUE(diagnostics::AppendDecimal(text, value, width, pad));
  return text;
}

TEST(NumberText, DecimalAsPrintfWouldWriteIt) {
  struct Case {
    long long value;
    int width;
    wchar_t pad;
    const wchar_t* text;
  } cases[] = {
      {0, 0, L'0', L"x0"},
      {7, 2, L'0', L"x07"},
      {2024, 4, L' ', L"x2024"},
      {999, 4, L' ', L"x 999"},
      {12345, 4, L' ', L"x12345"},  // wider than asked
      {-5, 3, L'0', L"x-05"},
      {-5, 4, L' ', L"x  -5"},
      {LLONG_MIN, 0, L'0', L"x-9223372036854775808"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, Decimal(c.value, c.width, c.pad)) << c.value;

  wchar_t text[32] = L"u";
  ASSERT_TRUE(diagnostics::AppendUnsigned(text, ULLONG_MAX));
  EXPECT_STREQ(L"u18446744073709551615", text);
}

TEST(NumberText, NumberThatDoesNotFitLeavesTheTextAsItWas) {
  wchar_t text[5] = L"ab";
  EXPECT_FALSE(diagnostics::AppendDecimal(text, 123));  // "ab123" needs six
  EXPECT_STREQ(L"ab", text);
  EXPECT_TRUE(diagnostics::AppendDecimal(text, 12));
  EXPECT_STREQ(L"ab12", text);
  wchar_t padded[6] = L"";
  EXPECT_FALSE(diagnostics::AppendDecimal(padded, 1, 6));
  EXPECT_STREQ(L"", padded);
  EXPECT_FALSE(diagnostics::AppendUnsigned(text, 1));
  EXPECT_STREQ(L"ab12", text);
}

}  // namespace
