#include "product/InstallLayout.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(1, layout::GetFolderPart(L"a\\b", nullptr));
  wchar_t tiny[3] = L"ab";
  EXPECT_EQ(0, layout::GetFolderPart(L"abcd\\e", tiny, 3));
  EXPECT_STREQ(L"ab", tiny);
}
