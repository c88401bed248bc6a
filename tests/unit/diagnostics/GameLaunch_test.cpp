#include "diagnostics/GameLaunch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
const std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

}  // namespace

TEST(GameLaunch, ReportTimeParsing) {
  struct Case {
    const wchar_t* text;
    std::int64_t value;
  } cases[] = {
      {L"0", 0},
      {L"1710000000", 1710000000},
      {L"  -42", -42},
      {L"+7x", 7},
      {L"abc", 0},
      {L"", 0},
      {L"9223372036854775807", kMax},
      {L"99999999999999999999", kMax},
      {L"-9223372036854775808", kMin},
      {L"-99999999999999999999", kMin},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, diagnostics::ParseReportTime(c.text)) << c.text;
  EXPECT_EQ(0, diagnostics::ParseReportTime(nullptr));
}

TEST(GameLaunch, ReportIsDueOnlyAfterTenMinutes) {
  const std::int64_t now = 1710000000;
  struct Case {
    std::int64_t last;
    bool due;
  } cases[] = {
      {0, true},            // never reported
      {now - 601, true},
      {now - 600, false},
      {now - 1, false},
      {now, false},
      {now + 5000, false},  // a stored time in the future holds reports off
      {kMax, false},
      {kMin, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.due, diagnostics::IsReportDue(now, c.last)) << c.last;
  EXPECT_TRUE(diagnostics::IsReportDue(now + 5601, now + 5000));
}

TEST(GameLaunch, MessageAndHelpPage) {
  wchar_t message[base::kPathChars];
  ASSERT_TRUE(diagnostics::FormatLaunchFailureMessage(193, message));
  EXPECT_STREQ(L"游戏启动异常(193)", message);
  wchar_t url[base::kUrlChars];
  ASSERT_TRUE(diagnostics::FormatHelpPageUrl(L"bbs.example.com", url));
  EXPECT_STREQ(L"https://bbs.example.com/forums/thread-63321720", url);
  EXPECT_FALSE(diagnostics::FormatHelpPageUrl(L"", url));
}
