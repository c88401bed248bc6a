#include "telemetry/Ping.h"

#include <gtest/gtest.h>

#include <string>

#include "appobject/ZuduvizApp.h"

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

}  // namespace
}  // namespace telemetry
