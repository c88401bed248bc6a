#include "base/HexBytes.h"

#include <gtest/gtest.h>

TEST(HexBytes, ExactlyTwoDigitsPerByte) {
  std::uint8_t out[3] = {1, 2, 3};
  ASSERT_TRUE(update::ParseHexBytes(L"00fFa9", 3, out));
  EXPECT_EQ(0x00, out[0]);
  EXPECT_EQ(0xFF, out[1]);
  EXPECT_EQ(0xA9, out[2]);
  for (const wchar_t* bad : {L"", L"00ff", L"00ffa", L"00ffa90", L"00ffa9 ", L" 0ffa9", L"00gfa9", L"0xffa9"}) {
    std::uint8_t kept[3] = {7, 7, 7};
    EXPECT_FALSE(update::ParseHexBytes(bad, 3, kept)) << bad;
    EXPECT_EQ(7, kept[0]) << bad;
  }
  EXPECT_FALSE(update::ParseHexBytes(nullptr, 3, out));
}
