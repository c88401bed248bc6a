// The process tools against real processes and pipes under Wine.
#include "diagnostics/ProcessTools.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/UniqueHandle.h"

namespace {

using testing_support::ScratchFolder;
using testing_support::TestToolPath;

// A started copy of the sleeper; ended when the test is over, whatever happened.
class RunningProgram {
 public:
  explicit RunningProgram(const std::wstring& exe) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (::CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      ::CloseHandle(pi.hThread);
      process_.reset(pi.hProcess);
    }
  }
  ~RunningProgram() {
    if (process_ && Running()) {
      ::TerminateProcess(process_.get(), 1);
      ::WaitForSingleObject(process_.get(), 10000);
    }
  }
  bool started() const { return process_.valid(); }
  bool Running() const { return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  bool EndedWithin(DWORD ms) const { return ::WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }

 private:
  base::UniqueHandle process_;
};

// Copies the sleeper to |folder|\|name|.
std::wstring PlaceSleeper(const std::wstring& folder, const wchar_t* name) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring target = folder + L"\\" + name;
  EXPECT_TRUE(::CopyFileW(TestToolPath(L"proc_sleeper.exe").c_str(), target.c_str(), FALSE)) << target;
  return target;
}

// Waits until a freshly started process has its main module mapped, so it
// can be found by path (a process is listed before its image is loaded).
bool WaitUntilFound(const std::wstring& exe) {
  for (int i = 0; i < 100; ++i) {
    if (diagnostics::IsProcessRunning(exe.c_str())) return true;
    ::Sleep(50);
  }
  return false;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

TEST(ProcessTools, KillEndsEveryCopyByWholePathIgnoringCase) {
  ScratchFolder scratch;
  std::wstring game = PlaceSleeper(scratch / L"install", L"tavr_online.exe");
  std::wstring sameName = PlaceSleeper(scratch / L"elsewhere", L"tavr_online.exe");
  RunningProgram first(game), second(game), other(sameName);
  ASSERT_TRUE(first.started() && second.started() && other.started());
  ASSERT_TRUE(WaitUntilFound(game));
  ASSERT_TRUE(WaitUntilFound(sameName));

  // The path as the player's folder names it, but in other letter case.
  EXPECT_TRUE(diagnostics::KillProcessesByPath(Upper(game).c_str()));
  EXPECT_TRUE(first.EndedWithin(10000));
  EXPECT_TRUE(second.EndedWithin(10000));
  EXPECT_FALSE(diagnostics::IsProcessRunning(game.c_str()));

  // Same file name in another folder: untouched.
  EXPECT_TRUE(other.Running());
  EXPECT_TRUE(diagnostics::IsProcessRunning(sameName.c_str()));
}

// A game of the other bitness than the launcher (a 64-bit game beside the
// shipped 32-bit launcher) is found and ended by its path all the same: a
// 32-bit process cannot list a 64-bit one's modules, so this takes the
// image-name path. The sleeper built for the other architecture stands in.
TEST(ProcessTools, FindsAndEndsAProgramOfTheOtherBitness) {
  const std::wstring other = testing_support::OtherArchToolPath(L"proc_sleeper.exe");
  if (!testing_support::Exists(other)) GTEST_SKIP() << "no build for the other architecture: " << other;
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"install";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring game = folder + L"\\tavr_online.exe";
  ASSERT_TRUE(::CopyFileW(other.c_str(), game.c_str(), FALSE));
  RunningProgram program(game);
  // Where the system runs no programs of the other bitness (Wine without its
  // 32-bit half), the start fails or the process ends at once.
  if (!program.started()) GTEST_SKIP() << "programs of the other architecture do not start here";
  const bool found = WaitUntilFound(game);
  if (!found && !program.Running()) GTEST_SKIP() << "programs of the other architecture end at once here";
  ASSERT_TRUE(found);
  EXPECT_TRUE(diagnostics::KillProcessesByPath(game.c_str()));
  EXPECT_TRUE(program.EndedWithin(10000));
  EXPECT_FALSE(diagnostics::IsProcessRunning(game.c_str()));
}

TEST(ProcessTools, NoMatchEndsNothingAndReportsFalse) {
  ScratchFolder scratch;
  std::wstring running = PlaceSleeper(scratch.path(), L"BugReport.exe");
  RunningProgram program(running);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(WaitUntilFound(running));

  const std::wstring misses[] = {
      scratch / L"BugReport.ex",          // a prefix of the path
      running + L"x",                      // longer than the path
      L"BugReport.exe",                    // the file name alone
      scratch / L"sub\\BugReport.exe",     // another folder
  };
  for (const std::wstring& miss : misses) {
    EXPECT_FALSE(diagnostics::IsProcessRunning(miss.c_str())) << miss;
    EXPECT_FALSE(diagnostics::KillProcessesByPath(miss.c_str())) << miss;
  }
  EXPECT_FALSE(diagnostics::KillProcessesByPath(L""));
  EXPECT_FALSE(diagnostics::IsProcessRunning(nullptr));
  EXPECT_TRUE(program.Running());
}

std::string Pattern(long count) {
  std::string bytes;
  for (long i = 0; i < count; ++i) bytes += static_cast<char>((i * 7) % 251);
  return bytes;
}

std::string NarrowToolPath(const wchar_t* name) {
  std::wstring wide = TestToolPath(name);
  return "\"" + std::string(wide.begin(), wide.end()) + "\"";  // the build path is ASCII
}

TEST(ProcessTools, RunHiddenCommandCapturesEveryByte) {
  const std::string emitter = NarrowToolPath(L"emit_bytes.exe");
  struct Case {
    const char* arguments;
    long count;
  } cases[] = {
      {"0", 0},
      {"1", 1},
      {"255", 255},
      {"256", 256},
      {"5000", 5000},    // many chunks of at most 255 bytes
      {"3000 err", 3000},  // standard error too
  };
  for (const Case& c : cases) {
    std::string output = "stale";
    ASSERT_TRUE(diagnostics::RunHiddenCommand(emitter, c.arguments, &output)) << c.arguments;
    // Output and error are one pipe, written in order by one thread.
    EXPECT_EQ(output, Pattern(c.count)) << c.arguments;
  }
}

TEST(ProcessTools, RunHiddenCommandSearchesThePathAndReportsStartFailure) {
  std::string output;
  ASSERT_TRUE(diagnostics::RunHiddenCommand("cmd", "/c echo hidden-ok", &output));
  EXPECT_NE(output.find("hidden-ok"), std::string::npos) << output;

  output = "unchanged";
  EXPECT_FALSE(diagnostics::RunHiddenCommand("orlix-no-such-program-4711.exe", "", &output));
  EXPECT_EQ(output, "unchanged");
}

TEST(ProcessTools, OsBitnessOfThisWindows) {
  // The tests run in a 64-bit Wine prefix.
  EXPECT_EQ(diagnostics::GetOsBitness(), 64);
}

// The real mapping of drive C: on this system.
std::wstring DeviceOfDriveC() {
  wchar_t target[100] = {};
  if (!::QueryDosDeviceW(L"C:", target, 100)) return std::wstring();
  return target;
}

TEST(ProcessTools, DevicePathToDosPathUsesTheDriveMapping) {
  std::wstring device = DeviceOfDriveC();
  ASSERT_FALSE(device.empty());
  if (device.back() == L'\\') device.pop_back();

  wchar_t out[260];
  std::wstring input = device + L"\\Games\\a.exe";
  EXPECT_TRUE(diagnostics::DevicePathToDosPath(input.c_str(), out, 260)) << input;
  EXPECT_STREQ(out, L"C:\\Games\\a.exe");

  // Letter case of the device part does not matter.
  input = Upper(device) + L"\\Games\\a.exe";
  EXPECT_TRUE(diagnostics::DevicePathToDosPath(input.c_str(), out, 260)) << input;
  EXPECT_STREQ(out, L"C:\\Games\\a.exe");

  // On no mounted drive: copied unchanged.
  const wchar_t* nowhere = L"\\Device\\OrlixNoSuchVolume9\\a.exe";
  EXPECT_FALSE(diagnostics::DevicePathToDosPath(nowhere, out, 260));
  EXPECT_STREQ(out, nowhere);

  // A drive-form result that would not fit the caller's buffer is refused.
  wchar_t small[8] = L"keep";
  input = device + L"\\Games\\a.exe";
  EXPECT_FALSE(diagnostics::DevicePathToDosPath(input.c_str(), small, 8));
  EXPECT_STREQ(small, L"keep");

  EXPECT_FALSE(diagnostics::DevicePathToDosPath(nullptr, out, 260));
  EXPECT_FALSE(diagnostics::DevicePathToDosPath(input.c_str(), nullptr, 260));
}

}  // namespace
