#include "base/TextConversion.h"

#include <gtest/gtest.h>

#include <string>

using diagnostics::OemToWide;
using diagnostics::UrlEncode;
using diagnostics::WideToUtf8;

TEST(TextConversion, EncodedGameNameWidensUnchanged) {
  EXPECT_EQ(L"Dusk+mere", OemToWide(UrlEncode(WideToUtf8(L"Dusk mere"))));
  EXPECT_EQ(L"%E4%B8%AD%E6%96%87", OemToWide(UrlEncode(WideToUtf8(L"中文"))));
}

TEST(TextConversion, OemToWideStopsAtTheFirstTerminator) {
  EXPECT_EQ(L"", OemToWide(""));
  EXPECT_EQ(L"\"tasklist.exe\",\"12\"", OemToWide("\"tasklist.exe\",\"12\""));
  EXPECT_EQ(L"ab", OemToWide(std::string("ab\0cd", 5)));
}
