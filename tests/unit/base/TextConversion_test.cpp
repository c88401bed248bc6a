#include "base/TextConversion.h"

#include <gtest/gtest.h>

#include <string>

using diagnostics::UrlEncode;
using diagnostics::WideToUtf8;

TEST(TextConversion, UrlEncodeCases) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"a b/c", "a+b%2Fc"},
      {"\xE4\xB8\xAD", "%E4%B8%AD"},
      {"-._~", "-._~"},
      {"Duskmere", "Duskmere"},
      {"AZaz09", "AZaz09"},
      {"%+&=?", "%25%2B%26%3D%3F"},
      {std::string("\x00\xFF", 2), "%00%FF"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, UrlEncode(c.in)) << c.in;
}

TEST(TextConversion, WideToUtf8Cases) {
  struct Case {
    std::wstring in;
    std::string out;
  } cases[] = {
      {L"abc", "abc"},
      {L"\u00E9", "\xC3\xA9"},
      {L"中", "\xE4\xB8\xAD"},
      {L"\uFFFF", "\xEF\xBF\xBF"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},        // a surrogate pair: one four-byte sequence
      {std::wstring(1, wchar_t(0xD800)) + L"x", "\xEF\xBF\xBDx"},  // lone surrogate
      {L"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, WideToUtf8(c.in));
}

TEST(TextConversion, GameNameBecomesTheUploaderArgument) {
  EXPECT_EQ("Duskmere", UrlEncode(WideToUtf8(L"Duskmere")));
  EXPECT_EQ("Dusk+mere", UrlEncode(WideToUtf8(L"Dusk mere")));
  EXPECT_EQ("%E4%B8%AD%E6%96%87", UrlEncode(WideToUtf8(L"中文")));
}
