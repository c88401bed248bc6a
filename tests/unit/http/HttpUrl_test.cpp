#include "http/HttpUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace update {
namespace {

struct SplitCase {
  const wchar_t* rest;
  const wchar_t* host;
  unsigned port;
  const wchar_t* path;
};

TEST(SplitHttpUrl, SplitsHostPortAndPath) {
  const SplitCase cases[] = {
      {L"example.com/a/b?x=1&y=2", L"example.com", 80, L"a/b?x=1&y=2"},
      {L"host:8080/x", L"host", 8080, L"x"},
      {L"host", L"host", 80, L""},                   // no path: the server's root
      {L"host/", L"host", 80, L""},
      {L"host:/x", L"host", 0, L"x"},                // no digits after ':'
      {L"host:81abc/x", L"host", 81, L"x"},          // digits up to the first other character
      {L"host:65617/x", L"host", 81, L"x"},          // low 16 bits of the number
      {L"host/a:b/c", L"host", 80, L"a:b/c"},        // ':' in the path is no port
      {L"", L"", 80, L""},
  };
  for (const auto& c : cases) {
    SplitUrl split;
    ASSERT_TRUE(SplitHttpUrl(c.rest, &split)) << c.rest;
    EXPECT_STREQ(c.host, split.host) << c.rest;
    EXPECT_EQ(c.port, split.port) << c.rest;
    EXPECT_STREQ(c.path, split.path) << c.rest;
  }
}

TEST(SplitHttpUrl, RefusesPartsThatDoNotFit) {
  SplitUrl split;
  split.host[0] = L'k';
  const std::wstring host259(259, L'h');
  const std::wstring host260(260, L'h');
  const std::wstring path511(511, L'p');
  const std::wstring path512(512, L'p');
  EXPECT_TRUE(SplitHttpUrl((host259 + L"/x").c_str(), &split));
  EXPECT_TRUE(SplitHttpUrl((L"h/" + path511).c_str(), &split));
  SplitUrl untouched;
  untouched.host[0] = L'k';
  EXPECT_FALSE(SplitHttpUrl((host260 + L"/x").c_str(), &untouched));
  EXPECT_FALSE(SplitHttpUrl((host260 + L":80").c_str(), &untouched));
  EXPECT_FALSE(SplitHttpUrl((L"h/" + path512).c_str(), &untouched));
  EXPECT_EQ(L'k', untouched.host[0]);
  // A long port text is cut from the host, so the host itself still fits.
  EXPECT_TRUE(SplitHttpUrl((L"h:" + std::wstring(300, L'1') + L"/x").c_str(), &split));
  EXPECT_STREQ(L"h", split.host);
}

TEST(HasHttpPrefix, AnyLetterCaseOfHttpOnly) {
  EXPECT_TRUE(HasHttpPrefix(L"http://a/"));
  EXPECT_TRUE(HasHttpPrefix(L"HTTP://a/"));
  EXPECT_TRUE(HasHttpPrefix(L"hTtP://"));
  EXPECT_FALSE(HasHttpPrefix(L"https://a/"));
  EXPECT_FALSE(HasHttpPrefix(L"http:/"));
  EXPECT_FALSE(HasHttpPrefix(L"ftp://a/"));
  EXPECT_FALSE(HasHttpPrefix(nullptr));
}

TEST(IsAllowedDownloadHost, ChecksTheHostNotTheWholeUrl) {
  const wchar_t* const domains[3] = {L"orlixgame.com", L"orlix.cn", L"127.0.0.1"};
  struct {
    const wchar_t* url;
    bool allowed;
  } const cases[] = {
      {L"http://orlixgame.com/Tavrel.exe", true},
      {L"http://dl.orlixgame.com/Tavrel.exe", true},
      {L"http://a.b.orlix.cn:8080/x", true},
      {L"HTTP://DL.ORLIXGAME.COM/x", true},
      {L"http://127.0.0.1:47611/update/x.exe", true},
      {L"http://127.0.0.1", true},
      {L"http://evil.com/orlixgame.com/x.exe", false},        // in the path
      {L"http://evil.com/x.exe?from=orlixgame.com", false},   // in the query
      {L"http://evilorlixgame.com/x", false},                 // no dot before the domain
      {L"http://orlixgame.com.evil.com/x", false},
      {L"http://orlixgame.com@evil.com/x", false},            // user-info decoy
      {L"http://evil.com?.orlixgame.com/x", false},
      {L"http://evil.com\\.orlixgame.com/x", false},
      {L"http://.orlixgame.com/x", false},
      {L"https://orlixgame.com/x", false},
      {L"orlixgame.com/x", false},
      {L"http:///x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.allowed, IsAllowedDownloadHost(c.url, domains, 3)) << c.url;
}

TEST(ProgressPercent, IntegerPercentWithoutOverflow) {
  EXPECT_EQ(0u, ProgressPercent(0, 1000));
  EXPECT_EQ(51u, ProgressPercent(512, 1000));
  EXPECT_EQ(99u, ProgressPercent(999, 1000));
  EXPECT_EQ(100u, ProgressPercent(1000, 1000));
  EXPECT_EQ(100u, ProgressPercent(5000, 1000));        // more than declared
  EXPECT_EQ(100u, ProgressPercent(0, 0));              // nothing declared: complete at once
  EXPECT_EQ(49u, ProgressPercent(0x7FFFFFFFu, 0xFFFFFFFFu));  // count * 100 exceeds 32 bits
  EXPECT_EQ(99u, ProgressPercent(0xFFFFFFFEu, 0xFFFFFFFFu));
}

}  // namespace
}  // namespace update

TEST(Redirect, StatusesWinInetWouldFollow) {
  for (unsigned status : {301u, 302u, 303u, 307u, 308u}) EXPECT_TRUE(update::IsRedirectStatus(status)) << status;
  for (unsigned status : {200u, 300u, 304u, 305u, 404u, 500u}) EXPECT_FALSE(update::IsRedirectStatus(status)) << status;
}

TEST(Redirect, LocationResolvedAgainstTheCurrentAddress) {
  struct Case {
    const wchar_t* current;
    const wchar_t* location;
    const wchar_t* expected;  // null: refused
  } cases[] = {
      {L"http://a.test:8080/x/y?q", L"http://b.test/z", L"http://b.test/z"},
      {L"http://a.test:8080/x/y?q", L"HTTP://b.test/z", L"HTTP://b.test/z"},
      {L"http://a.test:8080/x/y?q", L"/z?r=1", L"http://a.test:8080/z?r=1"},
      {L"http://a.test", L"/z", L"http://a.test/z"},
      {L"http://a.test:8080/x", L"//c.test:81/w", L"http://c.test:81/w"},
      {L"http://a.test/x", L"https://b.test/z", nullptr},
      {L"http://a.test/x", L"z", nullptr},
      {L"http://a.test/x", L"", nullptr},
      {L"http://a.test/x", L"ftp://b.test/z", nullptr},
  };
  for (const Case& c : cases) {
    wchar_t out[base::kUrlChars] = L"untouched";
    EXPECT_EQ(c.expected != nullptr, update::ResolveRedirect(c.current, c.location, out)) << c.location;
    EXPECT_STREQ(c.expected ? c.expected : L"untouched", out) << c.location;
  }

  // A result that would not fit 511 characters is refused, not cut.
  const std::wstring longPath = L"/" + std::wstring(500, L'p');
  wchar_t out[base::kUrlChars] = L"untouched";
  EXPECT_FALSE(update::ResolveRedirect(L"http://a.host.test:8080/x", longPath.c_str(), out));
  EXPECT_STREQ(L"untouched", out);
}
