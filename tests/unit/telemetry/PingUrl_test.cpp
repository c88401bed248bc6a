#include "telemetry/PingUrl.h"

#include <gtest/gtest.h>

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
  ASSERT_TRUE(BuildCountPingUrl(PingEvent::kUninstall, -3, url));
  EXPECT_EQ(host + L"/uninstall.htm?tag=Tavrel&ver=3.0.1.5&count=-3", url);
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
  EXPECT_FALSE(BuildActivityPingUrl(1, 0, 1, 1, std::wstring(500, L'9').c_str(), L"", url));
  EXPECT_STREQ(L"kept", url);
}

}  // namespace
}  // namespace telemetry
