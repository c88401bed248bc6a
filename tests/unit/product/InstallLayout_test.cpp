#include "product/InstallLayout.h"

#include <gtest/gtest.h>

#include <string>

TEST(InstallLayout, GetFolderPartCases) {
  struct Case {
    const wchar_t* path;
    int result;
    const wchar_t* part;
  } cases[] = {
      {L"a/b\\c", 1, L"a/b"},      // the last backslash wins over a later slash
      {L"a/b", 1, L"a"},           // no backslash: the last forward slash
      {L"abc", 0, L"untouched"},   // no separator
      {L"C:\\x\\", 1, L"C:\\x"},
      {L"\\top", 1, L""},
      {nullptr, 0, L"untouched"},
  };
  for (const Case& c : cases) {
    wchar_t out[layout::kPathChars] = L"untouched";
    EXPECT_EQ(c.result, layout::GetFolderPart(c.path, out)) << (c.path ? c.path : L"(null)");
    EXPECT_STREQ(c.part, out) << (c.path ? c.path : L"(null)");
  }
  EXPECT_EQ(1, layout::GetFolderPart(L"a\\b"));
  EXPECT_EQ(1, layout::GetFolderPart(L"a/b"));
  EXPECT_EQ(0, layout::GetFolderPart(L"ab"));
  EXPECT_EQ(0, layout::GetFolderPart(nullptr));
  // A folder part of 260 characters or more does not fit a path buffer.
  const std::wstring deep = L"C:\\" + std::wstring(layout::kPathChars - 3, L'd') + L"\\e";
  wchar_t out[layout::kPathChars] = L"untouched";
  EXPECT_EQ(0, layout::GetFolderPart(deep.c_str(), out));
  EXPECT_STREQ(L"untouched", out);
  const std::wstring fits = L"C:\\" + std::wstring(layout::kPathChars - 4, L'd') + L"\\e";
  EXPECT_EQ(1, layout::GetFolderPart(fits.c_str(), out));
  EXPECT_EQ(fits.substr(0, layout::kPathChars - 1), out);
}
