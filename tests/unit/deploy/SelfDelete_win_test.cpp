#include "deploy/SelfDelete.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "TestSupport.h"
#include "product/InstallLayout.h"
#include "deploy/SelfDeleteScript.h"

using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using testing_support::Exists;

namespace {

// Waits (bounded) until |path| is gone.
bool WaitGone(const std::wstring& path, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (!Exists(path)) return true;
    ::Sleep(100);
  }
  return false;
}

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  return temp;
}

// The names in the temporary folder that GetTempFileNameA made for "DelSelf".
std::set<std::wstring> SelfDeleteFiles() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((TempFolder() + L"Del*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.insert(data.cFileName);
  while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

std::wstring Cmd() {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\cmd.exe";
}

}  // namespace

TEST(SelfDeleteText, CodePageConversionIsExactOrRefused) {
  struct Case {
    unsigned codePage;
    const wchar_t* text;
    bool ok;
    const char* bytes;
  } cases[] = {
      {1252, L"C:\\Tavrel", true, "C:\\Tavrel"},
      {1252, L"C:\\Ren\u00e9", true, "C:\\Ren\xe9"},
      {437, L"C:\\Ren\u00e9", true, "C:\\Ren\x82"},
      {850, L"C:\\Ren\u00e9", true, "C:\\Ren\x82"},
      {1252, L"C:\\\u5378\u8f7d", false, ""},           // no Chinese in Western pages
      {437, L"C:\\\u0101", false, ""},                  // no best-fit "a" for a-macron
      {1252, L"C:\\\u0101", false, ""},
      {936, L"C:\\\u5378\u8f7d", true, "C:\\\xd0\xb6\xd4\xd8"},
      {65001, L"C:\\\u5378", true, "C:\\\xe5\x8d\xb8"},  // refuses the no-best-fit flag
      {1252, L"", true, ""},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(c.ok, deploy::ToCodePageExact(c.codePage, c.text, &out)) << c.codePage << " " << c.text;
    EXPECT_EQ(c.ok ? std::string(c.bytes) : std::string("untouched"), out) << c.codePage << " " << c.text;
  }
}

TEST(SelfDeleteText, ShortFormStandsInForAPathTheCodePageLacks) {
  ScratchFolder scratch;
  std::wstring folder = scratch / L"\u5378\u8f7d Orlix";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder + L"\\x.exe", "MZ"));

  std::wstring usable;
  ASSERT_TRUE(deploy::PathForCodePage(1252, folder + L"\\x.exe", &usable));
  std::string narrow;
  EXPECT_TRUE(deploy::ToCodePageExact(1252, usable, &narrow)) << usable;
  EXPECT_TRUE(deploy::IsSameFolder(usable, folder + L"\\x.exe")) << usable;
  // A name not there yet: the folder's short form with the name.
  ASSERT_TRUE(deploy::PathForCodePage(1252, folder + L"\\new.bat", &usable));
  EXPECT_EQ(L"\\new.bat", usable.substr(usable.size() - 8));
  EXPECT_TRUE(deploy::ToCodePageExact(1252, usable, &narrow)) << usable;

  // Nothing on disk to take a short form of: refused, |usable| untouched.
  usable = L"untouched";
  EXPECT_FALSE(deploy::PathForCodePage(1252, L"C:\\nowhere-\u5378\\x\\y.exe", &usable));
  EXPECT_EQ(L"untouched", usable);
}

TEST(SelfDeleteText, SameFolderIgnoresCaseTrailingSlashAndShortForms) {
  ScratchFolder scratch;
  std::wstring folder = scratch / L"Long Folder Name";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t shortForm[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH));

  EXPECT_TRUE(deploy::IsSameFolder(folder, folder));
  EXPECT_TRUE(deploy::IsSameFolder(folder, folder + L"\\"));
  EXPECT_TRUE(deploy::IsSameFolder(folder, shortForm));
  std::wstring upper = folder;
  ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
  EXPECT_TRUE(deploy::IsSameFolder(folder, upper));
  EXPECT_FALSE(deploy::IsSameFolder(folder, scratch.path()));
  EXPECT_FALSE(deploy::IsSameFolder(folder, folder + L"\\sub"));
  EXPECT_FALSE(deploy::IsSameFolder(folder, L""));
}

// cmd reads a batch file in the OEM code page: 936 on the players' Chinese
// Windows (the suite's locale), 437 on a Western one (its C-locale run).
TEST(SelfDeleteText, ScriptTextInTheOemCodePage) {
  const struct {
    unsigned codePage;
    const char* exeLine;  // the "del" line for the launcher below
  } pages[] = {
      {936, "del /F /A \"C:\\Ren\xa8\xa6\\100%%\\Tavrel_Launcher.exe\"\r\n"},
      {437, "del /F /A \"C:\\Ren\x82\\100%%\\Tavrel_Launcher.exe\"\r\n"},
  };
  const unsigned oem = ::GetOEMCP();
  const char* exeLine = nullptr;
  for (const auto& page : pages) {
    if (page.codePage == oem) exeLine = page.exeLine;
  }
  ASSERT_NE(nullptr, exeLine) << "written for OEM code pages 936 and 437, not " << oem;

  const std::wstring exe = L"C:\\Ren\u00e9\\100%\\Tavrel_Launcher.exe";
  char text[deploy::kSelfDeleteScriptBytes];
  ASSERT_TRUE(deploy::BuildSelfDeleteScriptText(exe, L"C:\\Ren\u00e9\\100%", L"C:\\T\\DelAB12.tmp.bat", text,
                                                sizeof(text)));
  std::string expected;
  ASSERT_TRUE(deploy::ToCodePageExact(
      oem, deploy::FormatSelfDeleteScript(exe, L"C:\\Ren\u00e9\\100%", L"C:\\T\\DelAB12.tmp.bat"), &expected));
  EXPECT_EQ(expected, std::string(text));
  EXPECT_NE(std::string::npos, expected.find(exeLine)) << expected;

  // Too long for the 2048-byte buffer (paths full of doubled '%'): refused.
  std::wstring folder = L"C:\\" + std::wstring(240, L'%');
  std::memset(text, 'u', sizeof(text));
  EXPECT_FALSE(deploy::BuildSelfDeleteScriptText(folder + L"\\a.exe", folder, L"C:\\T\\s.bat", text, sizeof(text)));
  EXPECT_EQ('u', text[0]);
  // A path whose Thai letters neither OEM page holds, with no short form on
  // disk to stand in.
  EXPECT_FALSE(deploy::BuildSelfDeleteScriptText(L"C:\\nowhere-\u0e01\u0e02\\a.exe", L"C:\\nowhere-\u0e01\u0e02",
                                                 L"C:\\T\\s.bat", text, sizeof(text)));
  EXPECT_EQ('u', text[0]);
}

TEST(SelfDeleteText, AppendTextToFileAppendsAndReportsErrors) {
  ScratchFolder scratch;
  std::string path;
  ASSERT_TRUE(deploy::ToCodePageExact(CP_ACP, scratch / L"script.bat", &path));
  EXPECT_EQ(5, deploy::AppendTextToFile("cd\\\r\n", path.c_str()));
  EXPECT_EQ(3, deploy::AppendTextToFile("abc", path.c_str()));
  EXPECT_EQ(0, deploy::AppendTextToFile("", path.c_str()));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(scratch / L"script.bat", &bytes));
  EXPECT_EQ("cd\\\r\nabc", bytes);

  std::string missing;
  ASSERT_TRUE(deploy::ToCodePageExact(CP_ACP, scratch / L"no\\such\\script.bat", &missing));
  EXPECT_EQ(-1, deploy::AppendTextToFile("x", missing.c_str()));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), ::GetLastError());
  EXPECT_EQ(-1, deploy::AppendTextToFile(nullptr, path.c_str()));
}

// The script run by the real command interpreter (Wine's cmd here) for
// folders whose names cmd could misread: '%' that would expand, a letter
// whose ANSI and OEM bytes differ, and Chinese, which the Western code
// pages lack (written through its short form). Decoy folders with the names
// a misreading would produce must survive.
TEST(SelfDeleteText, CmdDeletesExactlyTheNamedFolder) {
  const wchar_t* names[] = {L"Tavrel %x% \u00e9", L"\u5378\u8f7d Tavrel"};
  for (const wchar_t* name : names) {
    ScratchFolder scratch;
    const std::wstring folder = scratch / name;
    const std::wstring exe = folder + L"\\Tavrel_Launcher.exe";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(exe, "MZ"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\a.txt", "a"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\sub\\b.txt", "b"));
    ::SetFileAttributesW((folder + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((folder + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring decoys[] = {scratch / L"Tavrel WRONG \u00e9", scratch / L"Tavrel  \u00e9", scratch / L"Tavrel"};
    for (const std::wstring& decoy : decoys) {
      ASSERT_TRUE(::CreateDirectoryW(decoy.c_str(), nullptr));
      ASSERT_TRUE(WriteFileBytes(decoy + L"\\keep.txt", "keep"));
    }

    const std::wstring script = scratch / L"s.bat";
    char text[deploy::kSelfDeleteScriptBytes];
    ASSERT_TRUE(deploy::BuildSelfDeleteScriptText(exe, folder, script, text, sizeof(text))) << name;
    ASSERT_TRUE(WriteFileBytes(script, text));
    ::SetEnvironmentVariableW(L"x", L"WRONG");
    EXPECT_EQ(0, RunProgram(Cmd(), L"/c \"" + script + L"\"", L"", 60000)) << name;
    ::SetEnvironmentVariableW(L"x", nullptr);

    EXPECT_FALSE(Exists(folder)) << name << "\n" << text;
    EXPECT_FALSE(Exists(script)) << name;
    for (const std::wstring& decoy : decoys) EXPECT_TRUE(Exists(decoy + L"\\keep.txt")) << decoy;
  }
}

// The whole hand-over: an installed launcher (the probe, copied into the
// install folder) starts the script and stays alive a while; the script
// waits for it, then removes the install folder and itself. The maker folder
// around it keeps its other contents.
class SelfDeleteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[layout::kPathChars];
    ASSERT_TRUE(layout::GetInstallFolder(folder));
    installFolder_ = folder;
    ASSERT_TRUE(layout::GetMakerFolder(folder));
    makerFolder_ = folder;
    testing_support::RemoveTree(installFolder_);
    ASSERT_TRUE(layout::EnsureInstallFolder());
  }
  void TearDown() override {
    testing_support::RemoveTree(installFolder_);
    testing_support::RemoveTree(makerFolder_ + L"\\Tavrel2");
  }
  std::wstring installFolder_, makerFolder_;
  ScratchFolder scratch_;
};

TEST_F(SelfDeleteRun, InstallFolderGoesAfterTheLauncherHasEnded) {
  const std::wstring launcher = installFolder_ + L"\\Tavrel_Launcher.exe";
  ASSERT_TRUE(::CopyFileW(testing_support::TestToolPath(L"selfdelete_probe.exe").c_str(), launcher.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\keep.txt", "until the launcher ends"));
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\tavr_online.exe", "game"));
  ASSERT_TRUE(::CreateDirectoryW((installFolder_ + L"\\data").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\data\\pack.bin", "pack"));
  ::SetFileAttributesW((installFolder_ + L"\\data\\pack.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW((installFolder_ + L"\\tavr_online.exe").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(::CreateDirectoryW((makerFolder_ + L"\\Tavrel2").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(makerFolder_ + L"\\Tavrel2\\keep.txt", "another game"));

  // Exit 1: started, and everything was still there after 3 seconds of the
  // launcher running (the script waits on the running executable).
  const std::wstring result = scratch_ / L"result.txt";
  ASSERT_EQ(1, RunProgram(launcher, L"\"" + result + L"\" 3000", scratch_.path()));
  std::string scriptNarrow;
  ASSERT_TRUE(ReadFileBytes(result, &scriptNarrow));
  const std::wstring script = Widen(scriptNarrow);  // the temporary folder is ASCII here
  ASSERT_EQ(L".tmp.bat", script.substr(script.size() - 8));
  EXPECT_EQ(L"Del", script.substr(script.find_last_of(L'\\') + 1, 3));

  EXPECT_TRUE(WaitGone(installFolder_, 60)) << "install folder still there";
  EXPECT_TRUE(WaitGone(script, 30)) << "script still there";
  EXPECT_TRUE(Exists(makerFolder_ + L"\\Tavrel2\\keep.txt"));
  EXPECT_TRUE(layout::IsDirectory(makerFolder_.c_str()));
  // The unique name's empty file stays until the temporary folder is cleaned.
  const std::wstring unique = script.substr(0, script.size() - 4);
  EXPECT_TRUE(Exists(unique));
  ::DeleteFileW(unique.c_str());
}

TEST_F(SelfDeleteRun, LauncherOutsideTheInstallFolderDeletesNothing) {
  const std::wstring elsewhere = scratch_ / L"Downloads";
  ASSERT_TRUE(::CreateDirectoryW(elsewhere.c_str(), nullptr));
  const std::wstring launcher = elsewhere + L"\\Tavrel_Launcher.exe";
  ASSERT_TRUE(::CopyFileW(testing_support::TestToolPath(L"selfdelete_probe.exe").c_str(), launcher.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(elsewhere + L"\\keep.txt", "the player's own"));
  ASSERT_TRUE(WriteFileBytes(installFolder_ + L"\\keep.txt", "installed"));

  const std::set<std::wstring> before = SelfDeleteFiles();
  const std::wstring result = scratch_ / L"result.txt";
  ASSERT_EQ(0, RunProgram(launcher, L"\"" + result + L"\" 0", scratch_.path()));
  std::string scriptNarrow = "x";
  ASSERT_TRUE(ReadFileBytes(result, &scriptNarrow));
  EXPECT_EQ("", scriptNarrow);
  EXPECT_EQ(before, SelfDeleteFiles());  // no script, no unique file

  ::Sleep(2000);
  EXPECT_TRUE(Exists(launcher));
  EXPECT_TRUE(Exists(elsewhere + L"\\keep.txt"));
  EXPECT_TRUE(Exists(installFolder_ + L"\\keep.txt"));
}
