#include "deploy/Shortcuts.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "LinkReader.h"
#include "TestSupport.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"

using deploy_test::LinkFields;
using deploy_test::ReadLink;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using testing_support::ShellFolder;
using testing_support::Exists;

namespace {

std::wstring DesktopLink(const wchar_t* name) { return ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + name; }

std::wstring GroupFolder() { return ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器"; }

std::wstring GroupLink(const wchar_t* name) { return GroupFolder() + L"\\" + name; }

// Shortcuts on the prefix's real desktop and start menu, cleared around each
// test; the target is a file in a scratch folder.
class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.ok());
    Clear();
    target_ = scratch_ / L"Tavrel_Launcher.exe";
    ASSERT_TRUE(WriteFileBytes(target_, "MZ"));
  }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const wchar_t* name : {layout::kGameShortcutName, layout::kPortalShortcutName}) {
      ::DeleteFileW(DesktopLink(name).c_str());
    }
    testing_support::RemoveTree(GroupFolder());
  }

  base::ScopedCoInitialize com_;
  ScratchFolder scratch_;
  std::wstring target_;
};

}  // namespace

TEST_F(ShortcutsTest, CreateShortcutStoresEveryProperty) {
  struct Case {
    const wchar_t* arguments;
    const wchar_t* description;
  } cases[] = {
      {L"/TavrelD", L"OrlixDuskmere"},
      {L"/uninst", nullptr},
      {L"/uninst", L""},
  };
  for (const Case& c : cases) {
    std::wstring linkPath = scratch_ / L"x.lnk";
    ::DeleteFileW(linkPath.c_str());
    ASSERT_EQ(1, deploy::CreateShortcut(target_.c_str(), linkPath.c_str(), c.arguments, c.description));
    LinkFields link;
    ASSERT_TRUE(ReadLink(linkPath, &link));
    EXPECT_EQ(target_, link.target);
    EXPECT_EQ(c.arguments, link.arguments);
    EXPECT_EQ(scratch_.path(), link.workingFolder);
    EXPECT_EQ(target_, link.iconPath);
    EXPECT_EQ(0, link.iconIndex);
    EXPECT_EQ(c.description ? c.description : L"", link.description);
  }
}

TEST_F(ShortcutsTest, CreateShortcutRefusals) {
  std::wstring linkPath = scratch_ / L"x.lnk";
  EXPECT_EQ(0, deploy::CreateShortcut(target_.c_str(), nullptr, L"/TavrelD", nullptr));
  EXPECT_EQ(0, deploy::CreateShortcut(nullptr, linkPath.c_str(), L"/TavrelD", nullptr));
  // A save that fails (no such folder) is a failure, not a success.
  std::wstring unsaveable = scratch_ / L"missing\\x.lnk";
  EXPECT_EQ(0, deploy::CreateShortcut(target_.c_str(), unsaveable.c_str(), L"/TavrelD", nullptr));
  EXPECT_FALSE(Exists(unsaveable));
}

TEST_F(ShortcutsTest, TargetWithoutSeparatorHasNoWorkingFolder) {
  std::wstring linkPath = scratch_ / L"bare.lnk";
  ASSERT_EQ(1, deploy::CreateShortcut(L"Tavrel_Launcher.exe", linkPath.c_str(), L"/TavrelD", nullptr));
  LinkFields link;
  ASSERT_TRUE(ReadLink(linkPath, &link));
  EXPECT_EQ(L"", link.workingFolder);
  EXPECT_EQ(L"/TavrelD", link.arguments);
}

TEST_F(ShortcutsTest, DesktopAndStartMenuShortcutsAndTheirRemoval) {
  ASSERT_EQ(1, deploy::CreateDesktopShortcut(target_.c_str()));
  ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kGameShortcutName, target_.c_str(), L"/TavrelD"));
  ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kUninstallShortcutName, target_.c_str(), L"/uninst"));

  struct Expected {
    std::wstring path;
    const wchar_t* arguments;
    const wchar_t* description;
  } expected[] = {
      {DesktopLink(L"OrlixDuskmere.lnk"), L"/TavrelD", L"OrlixDuskmere"},
      {GroupLink(L"OrlixDuskmere.lnk"), L"/TavrelD", L""},
      {GroupLink(L"卸载 OrlixDuskmere.lnk"), L"/uninst", L""},
  };
  for (const Expected& e : expected) {
    LinkFields link;
    ASSERT_TRUE(ReadLink(e.path, &link)) << e.path;
    EXPECT_EQ(target_, link.target) << e.path;
    EXPECT_EQ(e.arguments, link.arguments) << e.path;
    EXPECT_EQ(scratch_.path(), link.workingFolder) << e.path;
    EXPECT_EQ(target_, link.iconPath) << e.path;
    EXPECT_EQ(0, link.iconIndex) << e.path;
    EXPECT_EQ(e.description, link.description) << e.path;
  }

  // A re-installation for another target replaces every shortcut.
  std::wstring other = scratch_ / L"other.exe";
  ASSERT_TRUE(WriteFileBytes(other, "MZ"));
  ASSERT_EQ(1, deploy::CreateDesktopShortcut(other.c_str()));
  ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kGameShortcutName, other.c_str(), L"/TavrelD"));
  for (const std::wstring& path : {DesktopLink(L"OrlixDuskmere.lnk"), GroupLink(L"OrlixDuskmere.lnk")}) {
    LinkFields link;
    ASSERT_TRUE(ReadLink(path, &link));
    EXPECT_EQ(other, link.target) << path;
  }

  EXPECT_EQ(1, deploy::DeleteDesktopShortcut(layout::kGameShortcutName));
  EXPECT_EQ(0, deploy::DeleteDesktopShortcut(layout::kGameShortcutName));  // gone already
  EXPECT_EQ(1, deploy::DeleteStartMenuShortcut(layout::kUninstallShortcutName));
  EXPECT_EQ(0, deploy::DeleteStartMenuShortcut(layout::kUninstallShortcutName));
  EXPECT_FALSE(Exists(DesktopLink(L"OrlixDuskmere.lnk")));
  EXPECT_TRUE(Exists(GroupLink(L"OrlixDuskmere.lnk")));
  EXPECT_TRUE(layout::IsDirectory(GroupFolder().c_str()));  // deleting never touches the folder
}

TEST_F(ShortcutsTest, NothingIsMadeForAMissingTargetOrName) {
  std::wstring missing = scratch_ / L"missing.exe";
  std::wstring longTarget = L"C:\\" + std::wstring(layout::kPathChars, L'x') + L".exe";
  EXPECT_EQ(0, deploy::CreateDesktopShortcut(missing.c_str()));
  EXPECT_EQ(0, deploy::CreateDesktopShortcut(L""));
  EXPECT_EQ(0, deploy::CreateDesktopShortcut(nullptr));
  EXPECT_EQ(0, deploy::CreateDesktopShortcut(longTarget.c_str()));
  EXPECT_EQ(0, deploy::CreateDesktopShortcut(scratch_.path().c_str()));  // a folder is no target
  EXPECT_EQ(0, deploy::CreateStartMenuShortcut(layout::kGameShortcutName, missing.c_str(), L"/TavrelD"));
  EXPECT_EQ(0, deploy::CreateStartMenuShortcut(L"", target_.c_str(), L"/TavrelD"));
  EXPECT_EQ(0, deploy::CreateStartMenuShortcut(nullptr, target_.c_str(), L"/TavrelD"));
  EXPECT_FALSE(Exists(DesktopLink(L"OrlixDuskmere.lnk")));
  EXPECT_FALSE(Exists(GroupFolder()));
  EXPECT_EQ(0, deploy::DeleteDesktopShortcut(L""));
  EXPECT_EQ(0, deploy::DeleteStartMenuShortcut(nullptr));
}

TEST_F(ShortcutsTest, RemoveShortcutsKeepsAGroupThatHoldsAnotherGame) {
  ASSERT_EQ(1, deploy::CreateDesktopShortcut(target_.c_str()));
  ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kGameShortcutName, target_.c_str(), L"/TavrelD"));
  ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kUninstallShortcutName, target_.c_str(), L"/uninst"));
  ASSERT_TRUE(WriteFileBytes(DesktopLink(layout::kPortalShortcutName), "portal"));
  std::wstring otherGame = GroupLink(L"Orlix Other.lnk");
  ASSERT_TRUE(WriteFileBytes(otherGame, "other"));

  EXPECT_EQ(1, deploy::RemoveShortcuts());
  EXPECT_FALSE(Exists(DesktopLink(L"OrlixDuskmere.lnk")));
  EXPECT_FALSE(Exists(DesktopLink(layout::kPortalShortcutName)));
  EXPECT_FALSE(Exists(GroupLink(L"OrlixDuskmere.lnk")));
  EXPECT_FALSE(Exists(GroupLink(L"卸载 OrlixDuskmere.lnk")));
  EXPECT_TRUE(Exists(otherGame));

  // Once the other game's shortcut is gone too, the empty group goes.
  ASSERT_TRUE(::DeleteFileW(otherGame.c_str()));
  EXPECT_EQ(1, deploy::RemoveShortcuts());
  EXPECT_FALSE(Exists(GroupFolder()));
  // Nothing left to remove: still 1, nothing else touched.
  EXPECT_EQ(1, deploy::RemoveShortcuts());
  EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY)));
}

// The desktop moved elsewhere (the profile's "User Shell Folders" entry): the
// shortcut left in the profile's own Desktop folder goes, the new one is made
// in the moved desktop.
TEST_F(ShortcutsTest, MovedDesktopLosesTheStaleShortcut) {
  const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  std::wstring oldDesktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
  std::wstring stale = oldDesktop + L"\\OrlixDuskmere.lnk";
  ASSERT_EQ(1, deploy::CreateDesktopShortcut(target_.c_str()));
  ASSERT_TRUE(Exists(stale));

  base::UniqueHKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ | KEY_WRITE, key.put()));
  wchar_t saved[MAX_PATH] = {};
  DWORD savedType = 0, savedSize = sizeof(saved);
  const bool hadValue =
      ::RegQueryValueExW(key.get(), L"Desktop", nullptr, &savedType, reinterpret_cast<BYTE*>(saved), &savedSize) ==
      ERROR_SUCCESS;
  // Moved under its usual name, so its old place is the profile's Desktop.
  ScratchFolder movedRoot;
  std::wstring moved = movedRoot / L"Desktop";
  ASSERT_TRUE(::CreateDirectoryW(moved.c_str(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(moved.c_str()),
                                            static_cast<DWORD>((moved.size() + 1) * sizeof(wchar_t))));
  const bool redirected = ShellFolder(CSIDL_DESKTOPDIRECTORY) == moved;
  int made = redirected ? deploy::CreateDesktopShortcut(target_.c_str()) : 0;
  if (hadValue) {
    ::RegSetValueExW(key.get(), L"Desktop", 0, savedType, reinterpret_cast<const BYTE*>(saved), savedSize);
  } else {
    ::RegDeleteValueW(key.get(), L"Desktop");
  }
  ASSERT_TRUE(redirected) << "the shell did not take the moved desktop";
  EXPECT_EQ(oldDesktop, ShellFolder(CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ(1, made);
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(moved + L"\\OrlixDuskmere.lnk"));
}
