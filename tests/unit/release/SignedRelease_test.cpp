#include "release/SignedRelease.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "release/UpdateKeys.h"

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

// The texts of a good configuration for the 3.0.1.5 launcher, changed one at
// a time by the cases below.
struct Texts {
  const wchar_t* key = kKey30110;
  update::SignedValueTexts values;
  update::ReleaseExpectations expect;
  Texts() {
    values.version = L"3.0.1.10";
    values.sha256 = kSha;
    values.expires = L"2000-02-29T12:34:56Z";
    values.serial = L"1700000000";
    values.product = L"Tavrel";
    values.channel = L"release";
    values.size = L"123456";
    expect.product = L"Tavrel";
    expect.channel = L"release";
    expect.runningVersion = L"3.0.1.5";
    expect.nowUtc = kExpires - 1;
  }
};

const wchar_t kKeyA[] =
    L"04aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const wchar_t kKeyB[] =
    L"04BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"
    L"BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB";

TEST(SignedRelease, EachSignedPromiseIsChecked) {
  struct Case {
    const char* what;
    void (*change)(Texts&);
    UpdateRefusal expected;
  } cases[] = {
      {"an upgrade", [](Texts&) {}, UpdateRefusal::kNone},
      {"the same version, rebuilt",
       [](Texts& t) {
         t.key = L"0123456789abcdef0123456789ab3015";
         t.values.version = L"3.0.1.5";
       },
       UpdateRefusal::kNone},
      {"expired this second", [](Texts& t) { t.expect.nowUtc = kExpires; }, UpdateRefusal::kExpired},
      {"expired long ago", [](Texts& t) { t.expect.nowUtc = kExpires * 2; }, UpdateRefusal::kExpired},
      {"a downgrade",
       [](Texts& t) {
         t.key = L"0123456789abcdef0123456789ab3014";
         t.values.version = L"3.0.1.4";
       },
       UpdateRefusal::kDowngrade},
      {"a downgrade that text order would take",
       [](Texts& t) {
         t.key = L"0123456789abcdef0123456789ab3019";
         t.values.version = L"3.0.1.9";
         t.expect.runningVersion = L"3.0.1.10";
       },
       UpdateRefusal::kDowngrade},
      {"key digits of another version", [](Texts& t) { t.key = L"0123456789abcdef0123456789ab3016"; },
       UpdateRefusal::kVersionNotInKey},
      {"key of 31 characters", [](Texts& t) { t.key = L"123456789abcdef0123456789a30110"; },
       UpdateRefusal::kVersionNotInKey},
      {"no key", [](Texts& t) { t.key = L""; }, UpdateRefusal::kVersionNotInKey},
      {"no version", [](Texts& t) { t.values.version = L""; }, UpdateRefusal::kReleaseMalformed},
      {"digest one digit short", [](Texts& t) { t.values.sha256 = kSha + 1; }, UpdateRefusal::kReleaseMalformed},
      {"expiry in seconds", [](Texts& t) { t.values.expires = L"951827696"; }, UpdateRefusal::kReleaseMalformed},
      {"no serial", [](Texts& t) { t.values.serial = L""; }, UpdateRefusal::kReleaseMalformed},
      {"serial with a sign", [](Texts& t) { t.values.serial = L"+5"; }, UpdateRefusal::kReleaseMalformed},
      {"serial of 2^63", [](Texts& t) { t.values.serial = L"9223372036854775808"; },
       UpdateRefusal::kReleaseMalformed},
      {"no size", [](Texts& t) { t.values.size = L""; }, UpdateRefusal::kReleaseMalformed},
      {"size of 2 GiB", [](Texts& t) { t.values.size = L"2147483648"; }, UpdateRefusal::kReleaseMalformed},
      {"size zero", [](Texts& t) { t.values.size = L"0"; }, UpdateRefusal::kReleaseMalformed},
      {"another product", [](Texts& t) { t.values.product = L"Other"; }, UpdateRefusal::kOtherProduct},
      {"no product", [](Texts& t) { t.values.product = L""; }, UpdateRefusal::kOtherProduct},
      {"another channel", [](Texts& t) { t.values.channel = L"beta"; }, UpdateRefusal::kOtherChannel},
      {"channel in other case", [](Texts& t) { t.values.channel = L"Release"; }, UpdateRefusal::kOtherChannel},
      {"a key roll", [](Texts& t) {
         t.values.currentKey = kKeyA;
         t.values.retireKeys = kKeyB;
       },
       UpdateRefusal::kNone},
      {"a retirement without a current key", [](Texts& t) { t.values.retireKeys = kKeyB; },
       UpdateRefusal::kReleaseMalformed},
      {"a malformed current key", [](Texts& t) { t.values.currentKey = L"04abc"; },
       UpdateRefusal::kReleaseMalformed},
      {"retiring the new current key", [](Texts& t) {
         t.values.currentKey = kKeyA;
         t.values.retireKeys = kKeyA;
       },
       UpdateRefusal::kKeyRollInvalid},
  };
  for (const Case& c : cases) {
    Texts t;
    c.change(t);
    update::SignedRelease release;
    release.expires = -7;
    EXPECT_EQ(c.expected, update::CheckSignedRelease(t.key, t.values, t.expect, &release)) << c.what;
    if (c.expected != UpdateRefusal::kNone) {
      EXPECT_EQ(-7, release.expires) << c.what;
    }
  }

  Texts t;
  t.values.currentKey = kKeyB;
  update::SignedRelease release;
  ASSERT_EQ(UpdateRefusal::kNone, update::CheckSignedRelease(t.key, t.values, t.expect, &release));
  EXPECT_EQ(kExpires, release.expires);
  EXPECT_EQ(10, release.version.parts[3]);
  EXPECT_EQ(0x96, release.sha256[0]);
  EXPECT_EQ(0xb9, release.sha256[31]);
  EXPECT_EQ(1700000000u, release.serial);
  EXPECT_EQ(123456u, release.size);
  EXPECT_EQ(L'b', release.currentKey[2]) << "key texts are kept lowercase";
}

TEST(SignedRelease, PublicationNumbersOnlyGrow) {
  update::AcceptedRecord accepted;
  accepted.serial = 100;
  accepted.configSha256[0] = 1;
  std::uint8_t same[update::kSha256Bytes] = {1};
  std::uint8_t other[update::kSha256Bytes] = {2};
  EXPECT_EQ(UpdateRefusal::kNone, update::CheckPublicationOrder(accepted, 101, other));
  EXPECT_EQ(UpdateRefusal::kNone, update::CheckPublicationOrder(accepted, 100, same));
  EXPECT_EQ(UpdateRefusal::kSerialReused, update::CheckPublicationOrder(accepted, 100, other));
  EXPECT_EQ(UpdateRefusal::kRollback, update::CheckPublicationOrder(accepted, 99, same));
  update::AcceptedRecord none;
  EXPECT_EQ(UpdateRefusal::kNone, update::CheckPublicationOrder(none, 1, other));
}

TEST(UpdateKeys, RecordsAndListsAreReadStrictly) {
  std::wstring a = kKeyA, b = kKeyB;
  update::BuiltInKeys keys;
  ASSERT_TRUE(update::ParseKeysRecord((L"orlix-update-keys current=" + a + L" backup=" + b).c_str(), &keys));
  EXPECT_TRUE(update::SameKey(keys.current, kKeyA));
  ASSERT_EQ(1u, keys.backupCount);
  EXPECT_EQ(L'b', keys.backups[0][2]);
  ASSERT_TRUE(update::ParseKeysRecord(L"orlix-update-keys", &keys));
  EXPECT_EQ(L'\0', keys.current[0]);
  EXPECT_EQ(0u, keys.backupCount);
  for (const std::wstring& bad : std::vector<std::wstring>{L"", L"orlix-update-keys ", L"orlix-update-keys backup=" + b,
                                  L"orlix-update-keys current=" + a + L" current=" + b,
                                  L"orlix-update-keys current=" + a.substr(1), L"orlix-update-keys other=" + a,
                                  L"orlix-update-keys current=" + a + L" backup=" + b + L" backup=" + b +
                                      L" backup=" + b + L" backup=" + b}) {
    update::BuiltInKeys kept;
    kept.backupCount = 9;
    EXPECT_FALSE(update::ParseKeysRecord(bad.c_str(), &kept)) << bad.size();
    EXPECT_EQ(9u, kept.backupCount);
  }
  update::KeyText list[update::kMaxRetiredPerConfig] = {};
  std::size_t count = 0;
  ASSERT_TRUE(update::ParseKeyList((a + L"," + b).c_str(), list, &count));
  EXPECT_EQ(2u, count);
  EXPECT_TRUE(update::SameKey(list[1], kKeyB));
  for (const std::wstring& bad : std::vector<std::wstring>{L"", a + L",", L"," + a, a + L" ", a + L",04"}) {
    EXPECT_FALSE(update::ParseKeyList(bad.c_str(), list, &count)) << bad.size();
  }
  EXPECT_FALSE(update::SameKey(kKeyA, kKeyB));
  EXPECT_FALSE(update::SameKey(L"", L""));
}
