#include "telemetry/Ping.h"

#include <gtest/gtest.h>

#include <string>

#include "appobject/ZuduvizApp.h"
#include "telemetry/PingUrl.h"

namespace telemetry {
namespace {

class PingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.m_hTakenEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    app_.m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  bool Signalled(const base::UniqueHandle& event, DWORD ms = 0) {
    return ::WaitForSingleObject(event.get(), ms) == WAIT_OBJECT_0;
  }
  CZuduvizApp app_;
};

TEST_F(PingTest, DoneIsSetOnEveryPathAndTakenIsReset) {
  const wchar_t* urls[] = {
      L"http://127.0.0.1:1/active.htm?tag=Tavrel",  // nothing listens: the connection is refused
      L"https://127.0.0.1/install.htm",            // not plain HTTP: nothing is sent
      L"",
  };
  for (const wchar_t* url : urls) {
    ::ResetEvent(app_.m_hDoneEvent.get());
    wchar_t buffer[base::kUrlChars] = {};
    ASSERT_TRUE(base::CopyText(buffer, url));
    EXPECT_EQ(1, app_.SendPing(buffer)) << url;
    for (auto& c : buffer) c = L'#';  // the buffer is the caller's again
    EXPECT_FALSE(Signalled(app_.m_hTakenEvent)) << url;
    EXPECT_TRUE(Signalled(app_.m_hDoneEvent, 60000)) << url;
  }
  // Never reset by the pings: a later wait returns at once.
  EXPECT_TRUE(Signalled(app_.m_hDoneEvent));
  EXPECT_TRUE(Signalled(app_.m_hDoneEvent));
}

TEST_F(PingTest, TooLongUrlIsTakenButNotSent) {
  std::wstring url = L"http://127.0.0.1:1/" + std::wstring(600, L'a');
  EXPECT_EQ(1, app_.SendPing(url.c_str()));
  EXPECT_TRUE(Signalled(app_.m_hDoneEvent, 60000));
}

TEST_F(PingTest, WithoutEventsNothingWaitsForever) {
  CZuduvizApp bare;
  bare.m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(0, bare.SendPing(L"http://127.0.0.1:1/x"));
  EXPECT_TRUE(Signalled(bare.m_hDoneEvent));
}

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
  wcscpy(url, L"kept");
  EXPECT_FALSE(BuildActivityPingUrl(1, 0, 1, 1, std::wstring(500, L'9').c_str(), L"", url));
  EXPECT_STREQ(L"kept", url);
}

}  // namespace
}  // namespace telemetry
