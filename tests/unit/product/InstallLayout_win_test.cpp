#include "product/InstallLayout.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestSupport.h"

using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

namespace {

std::wstring ModulePath() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return exe;
}

}  // namespace

TEST(InstallLayout, GetExeFolderPathJoinsTheNameOrGivesTheExecutable) {
  std::wstring exe = ModulePath();
  std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);

  wchar_t out[layout::kPathChars];
  EXPECT_EQ(1, layout::GetExeFolderPath(out, L"NewTavrel.exe"));
  EXPECT_EQ(folder + L"NewTavrel.exe", out);
  EXPECT_EQ(1, layout::GetExeFolderPath(out, nullptr));
  EXPECT_EQ(exe, out);

  // A name that would push the path past 260 characters is refused, not cut.
  std::wstring longName(layout::kPathChars, L'n');
  EXPECT_EQ(0, layout::GetExeFolderPath(out, longName.c_str()));
  EXPECT_STREQ(L"", out);
}

TEST(InstallLayout, CreateDirectoryTreeMakesEveryLevel) {
  ScratchFolder scratch;
  std::wstring deep = scratch / L"a\\b\\c";
  EXPECT_EQ(1, layout::CreateDirectoryTree(deep.c_str()));
  EXPECT_EQ(1, layout::IsDirectory((scratch / L"a").c_str()));
  EXPECT_EQ(1, layout::IsDirectory((scratch / L"a\\b").c_str()));
  EXPECT_EQ(1, layout::IsDirectory(deep.c_str()));
  // Present already, also with further attribute bits: still 1, still there.
  ::SetFileAttributesW(deep.c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(1, layout::CreateDirectoryTree(deep.c_str()));
  EXPECT_EQ(1, layout::IsDirectory(deep.c_str()));

  // Too short to be more than a drive root.
  for (const wchar_t* refused : {L"C:\\", L"C:", L"", static_cast<const wchar_t*>(nullptr)}) {
    EXPECT_EQ(0, layout::CreateDirectoryTree(refused));
  }
}

TEST(InstallLayout, CountFilesCountsFilesOfTheWholeTree) {
  ScratchFolder scratch;
  ASSERT_EQ(1, layout::CreateDirectoryTree((scratch / L"empty1\\empty2").c_str()));
  EXPECT_EQ(0, layout::CountFiles(scratch.path().c_str()));  // only empty folders

  ASSERT_TRUE(WriteFileBytes(scratch / L"top.txt", "x"));
  ASSERT_TRUE(WriteFileBytes(scratch / L"empty1\\one.bin", ""));
  ASSERT_TRUE(WriteFileBytes(scratch / L"empty1\\empty2\\two.bin", "yy"));
  EXPECT_EQ(3, layout::CountFiles(scratch.path().c_str()));
  EXPECT_EQ(3, layout::CountFiles((scratch.path() + L"\\").c_str()));  // trailing backslash
  EXPECT_EQ(1, layout::CountFiles((scratch / L"missing").c_str()));     // unlistable counts 1
  EXPECT_EQ(0, layout::CountFiles(L""));
  EXPECT_EQ(0, layout::CountFiles(nullptr));
}

TEST(InstallLayout, FileAndFolderTests) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteFileBytes(scratch / L"f.txt", "x"));
  EXPECT_EQ(1, layout::FileExists((scratch / L"f.txt").c_str()));
  EXPECT_EQ(0, layout::IsDirectory((scratch / L"f.txt").c_str()));
  EXPECT_EQ(0, layout::FileExists(scratch.path().c_str()));
  EXPECT_EQ(1, layout::IsDirectory(scratch.path().c_str()));
  EXPECT_EQ(0, layout::FileExists((scratch / L"none").c_str()));
  EXPECT_EQ(0, layout::IsDirectory((scratch / L"none").c_str()));
  EXPECT_EQ(0, layout::FileExists(nullptr));
}

TEST(InstallLayout, NamedFoldersHangOffTheShellFolders) {
  wchar_t local[layout::kPathChars], maker[layout::kPathChars], install[layout::kPathChars];
  wchar_t stats[layout::kPathChars], group[layout::kPathChars], dump[layout::kPathChars];
  ASSERT_TRUE(layout::GetLocalAppDataFolder(local));
  ASSERT_TRUE(layout::GetMakerFolder(maker));
  ASSERT_TRUE(layout::GetInstallFolder(install));
  ASSERT_TRUE(layout::GetStatisticsFilePath(stats));
  ASSERT_TRUE(layout::GetStartMenuGroupFolder(group));
  ASSERT_TRUE(layout::GetDumpFolderPath(dump));
  std::wstring l(local);
  EXPECT_EQ(l + L"\\Orlix\\GameLogin", maker);
  EXPECT_EQ(l + L"\\Orlix\\GameLogin\\Tavrel", install);
  EXPECT_EQ(l + L"\\Orlix\\GameLogin\\Statistic.ini", stats);
  EXPECT_NE(nullptr, wcsstr(group, L"\\Orlix登录器"));
  std::wstring d(dump);
  EXPECT_EQ(L"\\Orlix\\dump\\", d.substr(d.size() - 12));

  wchar_t untouched[layout::kPathChars] = L"untouched";
  std::wstring tooLong(layout::kPathChars, L'z');
  EXPECT_FALSE(layout::GetInstallFilePath(untouched, tooLong.c_str()));
  EXPECT_STREQ(L"untouched", untouched);
}

TEST(InstallLayout, EnsureInstallFolderCreatesTheThreeLevels) {
  wchar_t install[layout::kPathChars] = {};
  ASSERT_TRUE(layout::EnsureInstallFolder(install));
  wchar_t expected[layout::kPathChars];
  ASSERT_TRUE(layout::GetInstallFolder(expected));
  EXPECT_STREQ(expected, install);
  EXPECT_EQ(1, layout::IsDirectory(install));
}
