#include "core/RunMode.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "product/InstallLayout.h"

using testing_support::RunProgram;
using testing_support::ScratchFolder;

// Runs the real GetRunMode in a child process placed inside and outside the
// maker folder, with switches in the first and second argument.
class RunModeProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t maker[layout::kPathChars];
    ASSERT_TRUE(layout::GetMakerFolder(maker));
    insideFolder_ = std::wstring(maker) + L"\\runmode-test-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_EQ(1, layout::CreateDirectoryTree(insideFolder_.c_str()));
    inside_ = insideFolder_ + L"\\probe.exe";
    outside_ = outside_folder_ / L"probe.exe";
    std::wstring probe = testing_support::TestToolPath(L"runmode_probe.exe");
    ASSERT_TRUE(::CopyFileW(probe.c_str(), inside_.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(probe.c_str(), outside_.c_str(), FALSE));
  }
  void TearDown() override { testing_support::RemoveTree(insideFolder_); }

  ScratchFolder outside_folder_;
  std::wstring insideFolder_, inside_, outside_;
};

TEST_F(RunModeProcess, FirstArgumentDecidesElseTheLocation) {
  struct Case {
    bool inside;
    const wchar_t* arguments;
    long mode;
  } cases[] = {
      {false, L"", core::ModeFirstRun},
      {true, L"", core::ModeInstalled},
      {true, L"/UNINST", core::ModeUninstall},
      {false, L"/Uninst", core::ModeUninstall},
      {false, L"/tavreld", core::ModeShortcut},
      {true, L"/WebOrlixD", core::ModeWebStart},
      {false, L"/NEWGM", core::ModeNewGame},
      // A switch in the second argument is never looked at.
      {false, L"x /uninst", core::ModeFirstRun},
      {true, L"x /uninst", core::ModeInstalled},
      {true, L"/unknown", core::ModeInstalled},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.mode, RunProgram(c.inside ? inside_ : outside_, c.arguments))
        << (c.inside ? "inside " : "outside ") << std::string(c.arguments, c.arguments + wcslen(c.arguments));
  }
}

TEST_F(RunModeProcess, LetterCaseOfTheExecutablePathNeverMatters) {
  std::wstring lower = inside_;
  for (wchar_t& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
  EXPECT_EQ(core::ModeInstalled, RunProgram(lower, L""));
}
