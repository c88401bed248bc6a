#include "telemetry/PingUrl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace telemetry {
namespace {

TEST(PingUrl, FixedTextsOfTheFourEvents) {
  wchar_t url[base::kUrlChars];
  const std::wstring host = L"http://127.0.0.1:" + std::to_wstring(ORLIX_TEST_PORT);
  ASSERT_TRUE(BuildCountPingUrl(PingEvent::kInstall, 1, url));
  EXPECT_EQ(host + L"/install.htm?tag=Tavrel&ver=3.0.1.5&count=1", url);
  ASSERT_TRUE(BuildCountPingUrl(PingEvent::kUpdate, 12, url));
  EXPECT_EQ(host + L"/update.htm?tag=Tavrel&ver=3.0.1.5&count=12", url);
  ASSERT_TRUE(BuildCountPingUrl(PingEvent::kUninstall, 3, url));
  EXPECT_EQ(host + L"/uninstall.htm?tag=Tavrel&ver=3.0.1.5&count=3", url);
  ASSERT_TRUE(BuildActivityPingUrl(12, 0, 3, 5, L"20270105", L"0123456789abcdef0123456789abcdef", url));
  EXPECT_EQ(host +
                L"/active.htm?tag=Tavrel&ver=3.0.1.5&count=12&apartdays=0&keepdays=3&weekdays=5&installDay=20270105"
                L"&deviceCode=0123456789abcdef0123456789abcdef",
            url);
  ASSERT_TRUE(BuildActivityPingUrl(1, 0, 1, 1, L"", L"d41d8cd98f00b204e9800998ecf8427e", url));
  EXPECT_EQ(host +
                L"/active.htm?tag=Tavrel&ver=3.0.1.5&count=1&apartdays=0&keepdays=1&weekdays=1&installDay="
                L"&deviceCode=d41d8cd98f00b204e9800998ecf8427e",
            url);
  std::wcscpy(url, L"kept");
  EXPECT_FALSE(BuildActivityPingUrl(1, 0, 1, 1, L"", std::wstring(500, L'9').c_str(), url));
  EXPECT_STREQ(L"kept", url);
}

// Values read from the statistics file go into the query only in their own
// form: an install day that is not eight digits is sent empty, like a
// missing one, and a negative figure is never sent.
TEST(PingUrl, OnlyWellFormedValues) {
  const std::wstring fixed = L"http://127.0.0.1:" + std::to_wstring(ORLIX_TEST_PORT) +
                             L"/active.htm?tag=Tavrel&ver=3.0.1.5&count=2&apartdays=0&keepdays=1&weekdays=1&installDay=";
  const std::wstring device = L"&deviceCode=0123456789abcdef0123456789abcdef";
  const struct {
    const wchar_t* installDay;
    const wchar_t* sent;
  } days[] = {
      {L"20270105", L"20270105"},
      {L"1&deviceCode=forged#x y", L""},
      {L"2027010", L""},
      {L"202701051", L""},
      {L"2027-1-5", L""},
      {L" 20270105", L""},
      {L"２０２７０１０５", L""},  // full-width digits
      {nullptr, L""},
  };
  for (const auto& d : days) {
    wchar_t url[base::kUrlChars] = {};
    ASSERT_TRUE(BuildActivityPingUrl(2, 0, 1, 1, d.installDay, L"0123456789abcdef0123456789abcdef", url));
    EXPECT_EQ(fixed + d.sent + device, url) << (d.installDay ? d.installDay : L"(null)");
  }

  const std::int64_t negative[][4] = {{-1, 0, 1, 1}, {1, -1, 1, 1}, {1, 0, -5, 1}, {1, 0, 1, -1}};
  for (const auto& f : negative) {
    wchar_t url[base::kUrlChars] = L"kept";
    EXPECT_FALSE(BuildActivityPingUrl(f[0], f[1], f[2], f[3], L"20270105", L"", url));
    EXPECT_STREQ(L"kept", url);
  }
  wchar_t url[base::kUrlChars] = L"kept";
  EXPECT_FALSE(BuildCountPingUrl(PingEvent::kInstall, -3, url));
  EXPECT_STREQ(L"kept", url);
}

TEST(PingUrl, ValuesArePercentEncoded) {
  const struct {
    const wchar_t* value;
    const wchar_t* encoded;  // null: refused
  } cases[] = {
      {L"azAZ09-._~", L"azAZ09-._~"},
      {L"1&deviceCode=forged#x y", L"1%26deviceCode%3Dforged%23x%20y"},
      {L"%/?+", L"%25%2F%3F%2B"},
      {L"\u00e9\u4e2d", L"%C3%A9%E4%B8%AD"},
      {L"\U0001F600", L"%F0%9F%98%80"},
      {L"a\xD800" L"b", nullptr},  // a lone surrogate
      {L"", L""},
  };
  for (const auto& c : cases) {
    wchar_t url[base::kUrlChars] = L"http://h/p?a=1";
    EXPECT_EQ(c.encoded != nullptr, AppendQueryValue(url, L"k", c.value));
    EXPECT_EQ(c.encoded ? std::wstring(L"http://h/p?a=1&k=") + c.encoded : std::wstring(L"http://h/p?a=1"), url);
  }
  // A value whose encoded form would not fit is refused whole.
  wchar_t url[base::kUrlChars] = L"http://h/p?a=1";
  EXPECT_FALSE(AppendQueryValue(url, L"k", std::wstring(200, L'&').c_str()));
  EXPECT_STREQ(L"http://h/p?a=1", url);
}

}  // namespace
}  // namespace telemetry
