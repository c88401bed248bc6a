#include "base/Md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace telemetry {
namespace {

std::wstring HexOf(const std::string& bytes, std::size_t piece) {
  Md5 md5;
  for (std::size_t i = 0; i < bytes.size(); i += piece) md5.Update(bytes.data() + i, std::min(piece, bytes.size() - i));
  std::uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  wchar_t hex[kMd5HexChars];
  Md5ToHex(digest, hex);
  return hex;
}

TEST(Md5, Rfc1321TestSuite) {
  const struct {
    const char* text;
    const wchar_t* digest;
  } cases[] = {
      {"", L"d41d8cd98f00b204e9800998ecf8427e"},
      {"a", L"0cc175b9c0f1b6a831c399e269772661"},
      {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", L"d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       L"57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(64), std::size_t(1000)}) {
      EXPECT_EQ(c.digest, HexOf(c.text, piece)) << c.text << " in pieces of " << piece;
    }
  }
}

TEST(Md5, PaddingBoundaries) {
  // Lengths around the 56-byte padding limit and whole blocks; references
  // from md5sum.
  EXPECT_EQ(L"ef1772b6dff9a122358552954ad0df65", HexOf(std::string(55, 'a'), 64));
  EXPECT_EQ(L"ef1772b6dff9a122358552954ad0df65", HexOf(std::string(55, 'a'), 3));
  EXPECT_EQ(L"3b0c8ac703f828b04c6c197006d17218", HexOf(std::string(56, 'a'), 64));
  EXPECT_EQ(L"014842d480b571495a4a0363793f7367", HexOf(std::string(64, 'a'), 64));
  EXPECT_EQ(L"7707d6ae4e027c70eea2a935c2296f21", HexOf(std::string(1000000, 'a'), 4096));
}

TEST(Md5, HexFormIsClearedAndLowercase) {
  Md5 md5;
  md5.Update("abc", 3);
  std::uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  wchar_t hex[kMd5HexChars];
  for (auto& c : hex) c = L'Z';
  Md5ToHex(digest, hex);
  EXPECT_STREQ(L"900150983cd24fb0d6963f7d28e17f72", hex);
  for (std::size_t i = 32; i < kMd5HexChars; ++i) EXPECT_EQ(L'\0', hex[i]);
}

}  // namespace
}  // namespace telemetry
