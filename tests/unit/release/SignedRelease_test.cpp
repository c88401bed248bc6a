#include "release/SignedRelease.h"

#include <gtest/gtest.h>

namespace {

using update::UpdateRefusal;

const wchar_t kSha[] = L"96AD0DDABE9C733D4550FDE750255A94806811029be67504bd9bd68e556686b9";
const wchar_t kKey30110[] = L"0123456789abcdef0123456789a30110";  // 27 digest characters, then 3.0.1.10
const std::int64_t kExpires = 951827696;                          // 2000-02-29T12:34:56Z

}  // namespace

TEST(SignedRelease, VersionsCompareAsNumbers) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int order;
  } cases[] = {
      {L"3.0.10.0", L"3.0.9.0", 1},  // not as text
      {L"3.0.1.5", L"3.0.1.5", 0},
      {L"3.0.1.4", L"3.0.1.5", -1},
      {L"3.1", L"3.0.65535.65535", 1},
      {L"3", L"3.0.0.0", 0},  // missing parts are 0
      {L"03.0.1.5", L"3.0.1.5", 0},
      {L"4.0.0.0", L"3.65535.65535.65535", 1},
  };
  for (const Case& c : cases) {
    update::LauncherVersion a, b;
    ASSERT_TRUE(update::ParseLauncherVersion(c.a, &a)) << c.a;
    ASSERT_TRUE(update::ParseLauncherVersion(c.b, &b)) << c.b;
    const int order = update::CompareLauncherVersions(a, b);
    EXPECT_EQ(c.order, (order > 0) - (order < 0)) << c.a << " vs " << c.b;
  }
  for (const wchar_t* bad : {L"", L".", L"3.", L".3", L"3..1", L"3.0.1.5.0", L"3.0.1.65536", L"3.0.1.-5", L"3.0.1.+5",
                             L" 3.0.1.5", L"3.0.1.5 ", L"3,0,1,5", L"v3"}) {
    update::LauncherVersion kept;
    kept.parts[0] = 77;
    EXPECT_FALSE(update::ParseLauncherVersion(bad, &kept)) << bad;
    EXPECT_EQ(77, kept.parts[0]) << bad;
  }
}

TEST(SignedRelease, UtcTimesOfRealCalendarSecondsOnly) {
  struct Case {
    const wchar_t* text;
    std::int64_t seconds;
  } good[] = {
      {L"1970-01-01T00:00:00Z", 0},
      {L"2000-02-29T12:34:56Z", kExpires},
      {L"2038-01-19T03:14:08Z", 2147483648LL},  // past 32 bits
      {L"9999-12-31T23:59:59Z", 253402300799LL},
  };
  for (const Case& c : good) {
    std::int64_t seconds = -1;
    ASSERT_TRUE(update::ParseUtcTime(c.text, &seconds)) << c.text;
    EXPECT_EQ(c.seconds, seconds) << c.text;
  }
  for (const wchar_t* bad :
       {L"", L"1969-12-31T23:59:59Z", L"2001-02-29T00:00:00Z", L"1900-02-29T00:00:00Z", L"2024-04-31T00:00:00Z",
        L"2024-13-01T00:00:00Z", L"2024-00-01T00:00:00Z", L"2024-01-00T00:00:00Z", L"2024-01-01T24:00:00Z",
        L"2024-01-01T00:60:00Z", L"2024-01-01T00:00:60Z", L"2024-01-01T00:00:00", L"2024-01-01T00:00:00z",
        L"2024-01-01 00:00:00Z", L"2024-01-01T00:00:00+08:00", L"2024-1-01T00:00:00Z", L"1735689600",
        L"2024-01-01T00:00:00Z "}) {
    std::int64_t kept = 42;
    EXPECT_FALSE(update::ParseUtcTime(bad, &kept)) << bad;
    EXPECT_EQ(42, kept) << bad;
  }
}

TEST(SignedRelease, EachSignedPromiseIsChecked) {
  const wchar_t* expires = L"2000-02-29T12:34:56Z";
  struct Case {
    const char* what;
    const wchar_t* key;
    const wchar_t* version;
    const wchar_t* sha;
    const wchar_t* expires;
    const wchar_t* running;
    std::int64_t now;
    UpdateRefusal expected;
  } cases[] = {
      {"an upgrade", kKey30110, L"3.0.1.10", kSha, expires, L"3.0.1.5", kExpires - 1, UpdateRefusal::kNone},
      {"the same version, rebuilt", L"0123456789abcdef0123456789ab3015", L"3.0.1.5", kSha, expires, L"3.0.1.5",
       kExpires - 86400, UpdateRefusal::kNone},
      {"expired this second", kKey30110, L"3.0.1.10", kSha, expires, L"3.0.1.5", kExpires, UpdateRefusal::kExpired},
      {"expired long ago", kKey30110, L"3.0.1.10", kSha, expires, L"3.0.1.5", kExpires * 2, UpdateRefusal::kExpired},
      {"a downgrade", L"0123456789abcdef0123456789ab3014", L"3.0.1.4", kSha, expires, L"3.0.1.5", 0,
       UpdateRefusal::kDowngrade},
      {"a downgrade that text order would take", L"0123456789abcdef0123456789ab3019", L"3.0.1.9", kSha, expires,
       L"3.0.1.10", 0, UpdateRefusal::kDowngrade},
      {"key digits of another version", L"0123456789abcdef0123456789ab3016", L"3.0.1.10", kSha, expires,
       L"3.0.1.5", 0, UpdateRefusal::kVersionNotInKey},
      {"key of 31 characters", L"123456789abcdef0123456789a30110", L"3.0.1.10", kSha, expires, L"3.0.1.5", 0,
       UpdateRefusal::kVersionNotInKey},
      {"no key", L"", L"3.0.1.10", kSha, expires, L"3.0.1.5", 0, UpdateRefusal::kVersionNotInKey},
      {"no version", kKey30110, L"", kSha, expires, L"3.0.1.5", 0, UpdateRefusal::kReleaseMalformed},
      {"digest one digit short", kKey30110, L"3.0.1.10", kSha + 1, expires, L"3.0.1.5", 0,
       UpdateRefusal::kReleaseMalformed},
      {"no digest", kKey30110, L"3.0.1.10", L"", expires, L"3.0.1.5", 0, UpdateRefusal::kReleaseMalformed},
      {"expiry in seconds", kKey30110, L"3.0.1.10", kSha, L"951827696", L"3.0.1.5", 0,
       UpdateRefusal::kReleaseMalformed},
      {"no expiry", kKey30110, L"3.0.1.10", kSha, L"", L"3.0.1.5", 0, UpdateRefusal::kReleaseMalformed},
  };
  for (const Case& c : cases) {
    update::SignedRelease release;
    release.expires = -7;
    EXPECT_EQ(c.expected, update::CheckSignedRelease(c.key, c.version, c.sha, c.expires, c.running, c.now, &release))
        << c.what;
    if (c.expected != UpdateRefusal::kNone) {
      EXPECT_EQ(-7, release.expires) << c.what;
    }
  }

  update::SignedRelease release;
  ASSERT_EQ(UpdateRefusal::kNone,
            update::CheckSignedRelease(kKey30110, L"3.0.1.10", kSha, expires, L"3.0.1.5", 0, &release));
  EXPECT_EQ(kExpires, release.expires);
  EXPECT_EQ(10, release.version.parts[3]);
  EXPECT_EQ(0x96, release.sha256[0]);
  EXPECT_EQ(0xb9, release.sha256[31]);
}
