#include "deploy/Install.h"

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
using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using testing_support::ShellFolder;
using testing_support::Exists;

namespace {

// Waits (bounded) until |path| exists.
bool WaitForFile(const std::wstring& path, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (Exists(path)) return true;
    ::Sleep(100);
  }
  return false;
}

// Runs the installation from a downloaded copy of install_probe.exe, in the
// prefix's real install folder, desktop and start menu; everything it makes
// goes again afterwards.
class InstallLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[layout::kPathChars];
    ASSERT_TRUE(layout::GetInstallFolder(folder));
    installFolder_ = folder;
    Clear();
    downloaded_ = downloads_ / L"orlix_setup.exe";  // not the installed name
    ASSERT_TRUE(::CopyFileW(testing_support::TestToolPath(L"install_probe.exe").c_str(), downloaded_.c_str(), FALSE));
  }
  void TearDown() override {
    // A started copy may still be ending.
    ::Sleep(300);
    Clear();
  }
  void Clear() {
    testing_support::RemoveTree(installFolder_);
    ::DeleteFileW((ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\OrlixDuskmere.lnk").c_str());
    testing_support::RemoveTree(ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器");
  }
  std::wstring Installed() const { return installFolder_ + L"\\Tavrel_Launcher.exe"; }

  ScratchFolder downloads_;
  std::wstring installFolder_, downloaded_;
};

}  // namespace

TEST_F(InstallLauncherTest, CopiesLinksAndStartsTheInstalledCopy) {
  ASSERT_EQ(100, RunProgram(downloaded_, L"install"));  // game not present before

  // The copy under the fixed name, byte for byte.
  std::string source, copy;
  ASSERT_TRUE(ReadFileBytes(downloaded_, &source));
  ASSERT_TRUE(ReadFileBytes(Installed(), &copy));
  EXPECT_EQ(source, copy);

  // The installed copy was started without arguments, its path quoted.
  std::wstring marker = installFolder_ + L"\\started.txt";
  ASSERT_TRUE(WaitForFile(marker, 30));
  ::Sleep(200);
  std::string commandLine;
  ASSERT_TRUE(ReadFileBytes(marker, &commandLine));
  std::wstring started(reinterpret_cast<const wchar_t*>(commandLine.data()), commandLine.size() / sizeof(wchar_t));
  EXPECT_EQ(L"\"" + Installed() + L"\"", started);

  base::ScopedCoInitialize com;
  struct Expected {
    std::wstring path;
    const wchar_t* arguments;
    const wchar_t* description;
  } expected[] = {
      {ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\OrlixDuskmere.lnk", L"/TavrelD", L"OrlixDuskmere"},
      {ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器\\OrlixDuskmere.lnk", L"/TavrelD", L""},
      {ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器\\卸载 OrlixDuskmere.lnk", L"/uninst", L""},
  };
  for (const Expected& e : expected) {
    LinkFields link;
    ASSERT_TRUE(ReadLink(e.path, &link)) << e.path;
    EXPECT_EQ(Installed(), link.target) << e.path;
    EXPECT_EQ(e.arguments, link.arguments) << e.path;
    EXPECT_EQ(installFolder_, link.workingFolder) << e.path;
    EXPECT_EQ(Installed(), link.iconPath) << e.path;
    EXPECT_EQ(0, link.iconIndex) << e.path;
    EXPECT_EQ(e.description, link.description) << e.path;
  }
}

TEST_F(InstallLauncherTest, ReinstallOverAPresentGameSetsTheFlagAndReplacesTheCopy) {
  ASSERT_EQ(1, layout::EnsureInstallFolder());
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\tavr_online.exe", "game"));
  ASSERT_TRUE(WriteFileBytes(Installed(), "an older launcher"));
  ASSERT_EQ(101, RunProgram(downloaded_, L"install"));
  std::string source, copy;
  ASSERT_TRUE(ReadFileBytes(downloaded_, &source));
  ASSERT_TRUE(ReadFileBytes(Installed(), &copy));
  EXPECT_EQ(source, copy);
  EXPECT_TRUE(WaitForFile(installFolder_ + L"\\started.txt", 30));

  // A folder named like the game does not count as the game.
  ASSERT_TRUE(::DeleteFileW((installFolder_ + L"\\started.txt").c_str()));
  ASSERT_TRUE(::DeleteFileW((installFolder_ + L"\\tavr_online.exe").c_str()));
  ASSERT_TRUE(::CreateDirectoryW((installFolder_ + L"\\tavr_online.exe").c_str(), nullptr));
  EXPECT_EQ(100, RunProgram(downloaded_, L"install"));
}

TEST_F(InstallLauncherTest, TheInstalledLauncherDoesNotCopyOverItself) {
  ASSERT_EQ(1, layout::EnsureInstallFolder());
  // Runs from the install folder under another name: nothing is copied to
  // the launcher's name, but the shortcuts are made for it as usual.
  std::wstring running = installFolder_ + L"\\ORLIX_SETUP.EXE";
  ASSERT_TRUE(::CopyFileW(downloaded_.c_str(), running.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(Installed(), "installed"));
  EXPECT_EQ(100, RunProgram(running, L"install"));
  std::string copy;
  ASSERT_TRUE(ReadFileBytes(Installed(), &copy));
  EXPECT_EQ("installed", copy);
  EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\OrlixDuskmere.lnk"));
  // The "installed" launcher is no program: nothing was started.
  ::Sleep(500);
  EXPECT_FALSE(Exists(installFolder_ + L"\\started.txt"));
}
