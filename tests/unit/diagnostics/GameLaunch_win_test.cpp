#include "diagnostics/GameLaunch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "product/InstallLayout.h"
#include "diagnostics/ProcessTools.h"

using testing_support::ReadFileBytes;
using testing_support::RemoveTree;
using testing_support::RunProgram;
using testing_support::ScratchFolder;
using testing_support::TestToolPath;
using testing_support::WriteFileBytes;
using testing_support::Exists;

namespace {

std::string Utf8(const std::wstring& text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

std::wstring Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t day[32];
  swprintf(day, 32, L"%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
  return day;
}

// Wine 8 creates processes at normal priority whatever priority class the
// creation flags ask for (GetPriorityClass in the child reports 32); Windows
// honours IDLE_PRIORITY_CLASS (64).
bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Whether a stand-in's record shows it running at idle priority, as far as
// the system lets it be seen.
bool RecordsIdlePriority(const std::string& record) {
  return record.find("\npriority=64\n") != std::string::npos ||
         (UnderWine() && record.find("\npriority=32\n") != std::string::npos);
}

// The record without its priority line.
std::string WithoutPriority(const std::string& record) {
  std::string out;
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    end = end == std::string::npos ? record.size() : end + 1;
    std::string line = record.substr(start, end - start);
    if (line.compare(0, 9, "priority=") != 0) out += line;
    start = end;
  }
  return out;
}

bool WaitForFile(const std::wstring& path) {
  for (int i = 0; i < 300 && !Exists(path); ++i) ::Sleep(100);
  return Exists(path);
}

// Runs LaunchGame through launch_probe, copied with the uploader stand-in
// into a folder of its own, against the install folder and statistics file
// of this Wine prefix, which it leaves as it found them.
class GameLaunchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(layout::EnsureInstallFolder(folder));
    install_ = folder;
    wchar_t statistics[MAX_PATH] = {};
    ASSERT_TRUE(layout::GetStatisticsFilePath(statistics));
    statistics_ = statistics;
    hadStatistics_ = ReadFileBytes(statistics_, &savedStatistics_);
    ::DeleteFileW(statistics_.c_str());
    CleanInstallFolder();
    ASSERT_TRUE(::CopyFileW(TestToolPath(L"launch_probe.exe").c_str(), Probe().c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(TestToolPath(L"bugreport_recorder.exe").c_str(), Uploader().c_str(), FALSE));
  }

  void TearDown() override {
    WriteFileBytes(scratch_ / L"BugReport.stop", "");
    CleanInstallFolder();
    ::DeleteFileW(statistics_.c_str());
    if (hadStatistics_) WriteFileBytes(statistics_, savedStatistics_);
  }

  void CleanInstallFolder() {
    ::DeleteFileW(Game().c_str());
    ::DeleteFileW((Game() + L".record.txt").c_str());
    ::DeleteFileW(Note().c_str());
    ::DeleteFileW(Report().c_str());
  }

  std::wstring Probe() const { return scratch_ / L"launch_probe.exe"; }
  std::wstring Uploader() const { return scratch_ / L"BugReport.exe"; }
  std::wstring Calls() const { return scratch_ / L"BugReport.calls.txt"; }
  std::wstring Prompts() const { return scratch_ / L"prompts.txt"; }
  std::wstring Game() const { return install_ + L"\\tavr_online.exe"; }
  std::wstring BaseName() const { return L"Dump_" + Today() + L"_Tavrel_zuduviz"; }
  std::wstring Note() const { return install_ + L"\\" + BaseName() + L".dmp"; }
  std::wstring Report() const { return install_ + L"\\" + BaseName() + L".txt"; }

  void SetLastReport(std::int64_t seconds) {
    ASSERT_TRUE(::WritePrivateProfileStringW(L"Tavrel", L"lstReport", std::to_wstring(seconds).c_str(),
                                             statistics_.c_str()));
  }

  // Runs the probe with the player answering |answer|; the prompts it recorded.
  std::string Launch(int answer) {
    ::DeleteFileW(Prompts().c_str());
    EXPECT_EQ(0, RunProgram(Probe(), std::to_wstring(answer) + L" \"" + Prompts() + L"\"", scratch_.path()));
    std::string prompts;
    ReadFileBytes(Prompts(), &prompts);
    return prompts;
  }

  // The uploader's recorded starts, once its first start has written them.
  std::string UploaderCalls(bool expectStart) {
    std::string calls;
    if (expectStart) {
      EXPECT_TRUE(WaitForFile(Calls()));
      ::Sleep(200);  // let the stand-in finish its one write
    } else {
      ::Sleep(1000);  // a start would have been made before the probe ended
    }
    ReadFileBytes(Calls(), &calls);
    return calls;
  }

  std::string ExpectedCall() const {
    return "cmd=\"" + Utf8(Uploader()) + "\" /report client Duskmere Tavrel 3.0.1.5 zuduviz \"" + Utf8(BaseName()) +
           "\"\ncwd=" + Utf8(install_) + "\n";
  }

  ScratchFolder scratch_;
  std::wstring install_;
  std::wstring statistics_;
  bool hadStatistics_ = false;
  std::string savedStatistics_;
};

}  // namespace

TEST_F(GameLaunchRun, SuccessStartsTheGameInItsFolderAtIdlePriorityAndNothingElse) {
  ASSERT_TRUE(::CopyFileW(TestToolPath(L"game_standin.exe").c_str(), Game().c_str(), FALSE));
  EXPECT_EQ("", Launch(1));
  ASSERT_TRUE(WaitForFile(Game() + L".record.txt"));
  ::Sleep(200);
  std::string record;
  ASSERT_TRUE(ReadFileBytes(Game() + L".record.txt", &record));
  EXPECT_NE(std::string::npos, record.find("\ncwd=" + Utf8(install_) + "\n")) << record;
  EXPECT_TRUE(RecordsIdlePriority(record)) << record;
  EXPECT_FALSE(Exists(Note()));
  EXPECT_FALSE(Exists(Report()));
  EXPECT_EQ("", UploaderCalls(false));
}

TEST_F(GameLaunchRun, FirstFailureReportsAndTellsThePlayer) {
  std::string prompts = Launch(1);
  EXPECT_EQ(
      "message=游戏启动异常(2)\ncaption=Duskmere3.0.1.5\nstyle=4\nbuttons=确定|查看帮助\n", prompts);
  std::string calls = UploaderCalls(true);
  EXPECT_EQ(ExpectedCall(), WithoutPriority(calls));
  EXPECT_TRUE(RecordsIdlePriority(calls)) << calls;

  std::string note;
  ASSERT_TRUE(ReadFileBytes(Note(), &note));
  EXPECT_EQ(1u, std::count(note.begin(), note.end(), '\n')) << note;
  EXPECT_EQ("(2)\r\n", note.substr(note.size() - 5));
  std::string report;
  ASSERT_TRUE(ReadFileBytes(Report(), &report));
  EXPECT_EQ("System Summary: \r\n", report.substr(0, 18));

  // A second failure on the same day appends to the note.
  ::DeleteFileW(Calls().c_str());
  Launch(1);
  UploaderCalls(true);
  ASSERT_TRUE(ReadFileBytes(Note(), &note));
  EXPECT_EQ(2u, std::count(note.begin(), note.end(), '\n')) << note;
}

TEST_F(GameLaunchRun, ThrottleByTheUploadersLastReport) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  struct Case {
    std::int64_t last;
    bool reported;
  } cases[] = {
      {now - 600 + 30, false},  // within ten minutes (with room for the run's own seconds)
      {now + 3600, false},      // in the future
      {now - 601, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last - now);
    CleanInstallFolder();
    ::DeleteFileW(Calls().c_str());
    SetLastReport(c.last);
    EXPECT_NE("", Launch(1));  // the player is told in every case
    EXPECT_EQ(c.reported, Exists(Note()));
    EXPECT_EQ(c.reported, Exists(Report()));
    std::string calls = UploaderCalls(c.reported);
    EXPECT_EQ(c.reported ? ExpectedCall() : "", WithoutPriority(calls));
    if (c.reported) {
      EXPECT_TRUE(RecordsIdlePriority(calls)) << calls;
    }
  }
}

TEST_F(GameLaunchRun, RunningUploaderIsNotStartedTwice) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION lingering = {};
  std::wstring command = L"\"" + Uploader() + L"\" /linger";
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  ASSERT_TRUE(::CreateProcessW(Uploader().c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &lingering));
  ::CloseHandle(lingering.hThread);
  for (int i = 0; i < 100 && !diagnostics::IsProcessRunning(Uploader().c_str()); ++i) ::Sleep(100);
  ASSERT_TRUE(diagnostics::IsProcessRunning(Uploader().c_str()));

  EXPECT_NE("", Launch(1));
  EXPECT_FALSE(Exists(Note()));
  EXPECT_FALSE(Exists(Report()));
  EXPECT_EQ("", UploaderCalls(false));

  WriteFileBytes(scratch_ / L"BugReport.stop", "");
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(lingering.hProcess, 30000));
  ::CloseHandle(lingering.hProcess);
}

TEST_F(GameLaunchRun, HelpButtonOpensTheHelpPageOnce) {
  std::string prompts = Launch(7);
  EXPECT_NE(std::string::npos, prompts.find("\nopen=https://127.0.0.1:" + std::to_string(ORLIX_TEST_PORT) +
                                            "/forums/thread-63321720\n"))
      << prompts;
  EXPECT_EQ(prompts.find("open="), prompts.rfind("open="));
  EXPECT_EQ(std::string::npos, Launch(2).find("open="));
}
