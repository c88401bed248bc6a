#include "deploy/Shortcuts.h"

#include <gtest/gtest.h>

#include <string>

#include "product/InstallLayout.h"

TEST(ShortcutPaths, StaleDesktopShortcutBesideTheDocuments) {
  struct Case {
    const wchar_t* documents;
    const wchar_t* desktop;
    bool ok;
    const wchar_t* path;
  } cases[] = {
      {L"C:\\users\\p\\Documents", L"C:\\users\\p\\Desktop", true, L"C:\\users\\p\\Desktop\\OrlixDuskmere.lnk"},
      // The desktop moved to another drive: its old place in the profile.
      {L"C:\\users\\p\\Documents", L"D:\\Moved\\Desk", true, L"C:\\users\\p\\Desk\\OrlixDuskmere.lnk"},
      {L"C:\\users\\p\\Documents", L"Desktop", false, L"untouched"},
      {L"Documents", L"C:\\users\\p\\Desktop", false, L"untouched"},
      {L"", L"C:\\users\\p\\Desktop", false, L"untouched"},
  };
  for (const Case& c : cases) {
    wchar_t out[layout::kPathChars] = L"untouched";
    EXPECT_EQ(c.ok, deploy::BuildStaleDesktopShortcutPath(c.documents, c.desktop, layout::kGameShortcutName, out))
        << c.documents << " | " << c.desktop;
    EXPECT_STREQ(c.path, out);
  }
  // A result that would not fit is refused, not cut.
  std::wstring longDocs = L"C:\\" + std::wstring(250, L'd') + L"\\Documents";
  wchar_t out[layout::kPathChars] = L"untouched";
  EXPECT_FALSE(deploy::BuildStaleDesktopShortcutPath(longDocs.c_str(), L"C:\\Desktop", layout::kGameShortcutName, out));
  EXPECT_STREQ(L"untouched", out);
}
