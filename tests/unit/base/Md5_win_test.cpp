#include "base/Md5.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "TestSupport.h"

namespace telemetry {
namespace {

TEST(Md5HexOfText, AnsiBytesOfTheTextIntoAClearedBuffer) {
  wchar_t hex[kMd5HexChars];
  for (auto& c : hex) c = L'Z';
  Md5HexOfText(L"abc", hex);
  EXPECT_STREQ(L"900150983cd24fb0d6963f7d28e17f72", hex);
  for (std::size_t i = 32; i < kMd5HexChars; ++i) EXPECT_EQ(L'\0', hex[i]);
  Md5HexOfText(L"", hex);
  EXPECT_STREQ(L"d41d8cd98f00b204e9800998ecf8427e", hex);

  // Text beyond ASCII: the bytes of the system's ANSI code page, not UTF-8
  // or UTF-16. The players' 936 has both characters (C9 E8 B1 B8); a Western
  // 1252 (the C-locale run) has neither and keeps "??".
  Md5HexOfText(L"\u8bbe\u5907", hex);
  const UINT codePage = ::GetACP();
  if (codePage == 936) {
    EXPECT_STREQ(L"c8298cdbc09e5e385512446b543eeff6", hex);
  } else if (codePage == 1252) {
    EXPECT_STREQ(L"ea03fcb8c47822bce772cf6c07d0ebbb", hex);
  } else {
    ADD_FAILURE() << "no expected digest for code page " << codePage;
  }
}

TEST(Md5HexOfFile, DigestOfTheFileAndUntouchedWhenMissing) {
  testing_support::ScratchFolder folder;
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += char(i * 7 + (i >> 9));
  ASSERT_TRUE(testing_support::WriteFileBytes(folder / L"f.bin", bytes));
  Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  std::uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  wchar_t expected[kMd5HexChars];
  Md5ToHex(digest, expected);
  wchar_t hex[kMd5HexChars];
  ASSERT_TRUE(Md5HexOfFile((folder / L"f.bin").c_str(), hex));
  EXPECT_STREQ(expected, hex);

  ASSERT_TRUE(testing_support::WriteFileBytes(folder / L"empty", ""));
  ASSERT_TRUE(Md5HexOfFile((folder / L"empty").c_str(), hex));
  EXPECT_STREQ(L"d41d8cd98f00b204e9800998ecf8427e", hex);

  std::wcscpy(hex, L"kept");
  EXPECT_FALSE(Md5HexOfFile((folder / L"missing").c_str(), hex));
  EXPECT_STREQ(L"kept", hex);
}

}  // namespace
}  // namespace telemetry
