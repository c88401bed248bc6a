#include "deploy/Uninstall.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "TestSupport.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/Shortcuts.h"

using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using testing_support::ShellFolder;
using testing_support::Exists;

namespace {

bool KeyExists(const wchar_t* subKey) { return testing_support::MachineKeyExists(subKey, layout::kMachineKeyView); }

bool WaitGone(const std::wstring& path, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (!Exists(path)) return true;
    ::Sleep(100);
  }
  return false;
}

// The launcher executable beside the tests: the closing notice's template
// and skin images come from it.
std::wstring LauncherResources() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  folder.resize(folder.find_last_of(L'\\'));
  return folder + L"\\Tavrel_Launcher.exe";
}

// A whole uninstallation by an installed launcher (uninstall_probe.exe in the
// install folder) with the game running, in the prefix's real install
// folder, registry, desktop and start menu. The uninstall ping goes to the
// test server's port and is refused when no server listens: it still ends.
class RunUninstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t path[layout::kPathChars];
    ASSERT_TRUE(layout::GetInstallFolder(path));
    installFolder_ = path;
    ASSERT_TRUE(layout::GetStatisticsFilePath(path));
    statistics_ = path;
    testing_support::RemoveTree(installFolder_);
    ASSERT_TRUE(layout::EnsureInstallFolder());
  }
  void TearDown() override {
    if (game_.valid()) ::TerminateProcess(game_.get(), 1);
    testing_support::RemoveTree(installFolder_);
    ::DeleteFileW(statistics_.c_str());
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      testing_support::DeleteMachineKeyTree(layout::kUninstallKey, view);
      testing_support::DeleteMachineKeyTree(layout::kDisableDaysKey, view);
    }
    ::DeleteFileW((ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\OrlixDuskmere.lnk").c_str());
    ::DeleteFileW((ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Orlix网页游戏.lnk").c_str());
    testing_support::RemoveTree(ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器");
  }

  void StartGame() {
    const std::wstring game = installFolder_ + L"\\tavr_online.exe";
    ASSERT_TRUE(::CopyFileW(testing_support::TestToolPath(L"proc_sleeper.exe").c_str(), game.c_str(), FALSE));
    std::wstring commandLine = L"\"" + game + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(game.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ::CloseHandle(pi.hThread);
    game_.reset(pi.hProcess);
  }

  std::wstring installFolder_, statistics_;
  base::UniqueHandle game_;
  ScratchFolder scratch_;
};

}  // namespace

TEST_F(RunUninstallTest, RemovesEverythingItMadeAndReportsIt) {
  const std::wstring launcher = installFolder_ + L"\\Tavrel_Launcher.exe";
  ASSERT_TRUE(::CopyFileW(testing_support::TestToolPath(L"uninstall_probe.exe").c_str(), launcher.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\tavrelair.zip", "left over"));
  StartGame();

  // What an installation and a later game made.
  {
    base::ScopedCoInitialize com;
    ASSERT_EQ(1, deploy::CreateDesktopShortcut(launcher.c_str()));
    ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kGameShortcutName, launcher.c_str(), L"/TavrelD"));
    ASSERT_EQ(1, deploy::CreateStartMenuShortcut(layout::kUninstallShortcutName, launcher.c_str(), L"/uninst"));
  }
  ASSERT_TRUE(WriteFileBytes(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Orlix网页游戏.lnk", "portal"));
  const std::wstring subKey = std::wstring(layout::kUninstallKey) + L"\\Sub";
  ASSERT_TRUE(testing_support::CreateMachineKey(subKey, layout::kMachineKeyView));
  ASSERT_TRUE(testing_support::CreateMachineKey(layout::kDisableDaysKey, layout::kMachineKeyView));
  // The same key in the 64-bit view belongs to some 64-bit program: it stays.
  const bool twoViews = testing_support::RegistryHasTwoViews();
  if (twoViews) {
    ASSERT_TRUE(testing_support::CreateMachineKey(subKey, KEY_WOW64_64KEY));
  }
  ASSERT_TRUE(::WritePrivateProfileStringW(L"Tavrel", L"UnInst", L"4", statistics_.c_str()));

  const std::wstring result = scratch_ / L"notice.txt";
  ASSERT_EQ(1, RunProgram(launcher, L"\"" + LauncherResources() + L"\" \"" + result + L"\"", scratch_.path(), 120000));

  // The closing notice: the product caption, one OK button.
  std::string notice;
  ASSERT_TRUE(ReadFileBytes(result, &notice));
  EXPECT_EQ(L"OrlixDuskmere|one button",
            std::wstring(reinterpret_cast<const wchar_t*>(notice.data()), notice.size() / sizeof(wchar_t)));

  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(game_.get(), 10000)) << "the game still runs";
  EXPECT_FALSE(KeyExists(layout::kUninstallKey));
  EXPECT_TRUE(KeyExists(layout::kDisableDaysKey));  // nobody removes it
  if (twoViews) {
    EXPECT_TRUE(testing_support::MachineKeyExists(subKey, KEY_WOW64_64KEY));
  }
  EXPECT_FALSE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\OrlixDuskmere.lnk"));
  EXPECT_FALSE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Orlix网页游戏.lnk"));
  EXPECT_FALSE(Exists(ShellFolder(CSIDL_PROGRAMS) + L"\\Orlix登录器"));
  EXPECT_EQ(5u, ::GetPrivateProfileIntW(L"Tavrel", L"UnInst", 0, statistics_.c_str()));

  // The launcher has ended: its folder goes, the statistics stay.
  EXPECT_TRUE(WaitGone(installFolder_, 60)) << "install folder still there";
  EXPECT_TRUE(Exists(statistics_));
}
