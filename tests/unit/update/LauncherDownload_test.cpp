#include "update/LauncherDownload.h"

#include <gtest/gtest.h>

#include "base/Sha256.h"

namespace update {
namespace {

TEST(MakeReleaseIdentity, NamesTheKeyAndTheSignedDigest) {
  wchar_t out[kReleaseIdentityChars] = {};
  ASSERT_TRUE(MakeReleaseIdentity(L"0123456789abcdef0123456789a30110", nullptr, out));
  EXPECT_STREQ(L"0123456789abcdef0123456789a30110", out);
  std::uint8_t digest[kSha256Bytes] = {};
  digest[0] = 0xAB;
  digest[31] = 0x0F;
  ASSERT_TRUE(MakeReleaseIdentity(L"k1", digest, out));
  EXPECT_STREQ(L"k1 sha256=ab0000000000000000000000000000000000000000000000000000000000000f", out);

  wchar_t kept[kReleaseIdentityChars] = L"kept";
  for (const wchar_t* bad : {L"", L"two words", L"line\r\nbreak", L"\x4e2d"}) {
    EXPECT_FALSE(MakeReleaseIdentity(bad, nullptr, kept)) << bad;
  }
  EXPECT_STREQ(L"kept", kept);
}

}  // namespace
}  // namespace update
