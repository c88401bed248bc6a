#include "release/VersionKey.h"

#include <gtest/gtest.h>

namespace {
const wchar_t* kDigest = L"0123456789abcdef0123456789abcdef";
}

TEST(VersionKey, DigestCutToLeaveRoomForTheDotlessVersion) {
  wchar_t key[update::kVersionKeyChars] = L"untouched";
  ASSERT_TRUE(update::MakeVersionKey(kDigest, L"3.0.1.5", key));
  EXPECT_STREQ(L"0123456789abcdef0123456789ab3015", key);
  EXPECT_EQ(28u, update::DigestPartLength(L"3.0.1.5"));
  ASSERT_TRUE(update::MakeVersionKey(kDigest, L"10.2", key));
  EXPECT_STREQ(L"0123456789abcdef0123456789abc102", key);

  wchar_t kept[update::kVersionKeyChars] = L"untouched";
  EXPECT_FALSE(update::MakeVersionKey(L"0123", L"3.0.1.5", kept));  // digest too short
  EXPECT_FALSE(update::MakeVersionKey(kDigest, L"123456789012345678901234567890123", kept));
  EXPECT_STREQ(L"untouched", kept);
}

TEST(VersionKey, ComparisonFoldsAsciiCaseOnly) {
  struct Case {
    const wchar_t* local;
    const wchar_t* published;
    bool differ;
  } cases[] = {
      {L"0123456789abcdef0123456789ab3015", L"0123456789abcdef0123456789ab3015", false},
      {L"0123456789abcdef0123456789ab3015", L"0123456789ABCDEF0123456789AB3015", false},
      {L"0123456789abcdef0123456789ab3015", L"0123456789abcdef0123456789ab3016", true},  // version digits
      {L"0123456789abcdef0123456789ab3015", L"0123456789abcdef0123456789ab301", true},
      {L"0123456789abcdef0123456789ab3015", L"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.differ, update::VersionKeysDiffer(c.local, c.published)) << c.published;
}
