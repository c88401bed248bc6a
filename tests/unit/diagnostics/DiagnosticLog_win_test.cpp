#include "diagnostics/DiagnosticLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>

#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

namespace {

// The dated file the log functions pick today, in |folder|.
std::wstring TodaysFile(const std::wstring& folder, const std::wstring& suffix) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t day[32];
  swprintf(day, 32, L"%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
  return folder + L"\\Dump_" + day + L"_" + suffix;
}

const std::regex kLine("(\\d\\d):(\\d\\d):(\\d\\d) (.*)\r\n");

}  // namespace

TEST(DiagnosticLog, TwoCallsAppendTwoTimeStampedLinesToTheDatedFile) {
  ScratchFolder scratch;
  std::wstring folder = scratch / L"a\\b\\c";  // three missing levels
  int firstBytes = diagnostics::LogToDatedFile(folder.c_str(), L"Tavrel_zuduviz.dmp", L"游戏启动异常(%lu)", 2ul);
  ASSERT_GT(firstBytes, 0);
  ASSERT_EQ(17, diagnostics::LogToDatedFile(folder.c_str(), L"Tavrel_zuduviz.dmp", L"%s", L"second"));

  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(TodaysFile(folder, L"Tavrel_zuduviz.dmp"), &bytes));
  // The text goes to the ANSI code page; the Chinese characters need a
  // Chinese one, so only the byte count and the ASCII parts are fixed here.
  std::smatch first, second;
  std::string firstLine = bytes.substr(0, bytes.find("\r\n") + 2);
  std::string secondLine = bytes.substr(firstLine.size());
  EXPECT_EQ(static_cast<std::size_t>(firstBytes), firstLine.size());
  ASSERT_TRUE(std::regex_match(firstLine, first, kLine)) << bytes;
  ASSERT_TRUE(std::regex_match(secondLine, second, kLine)) << bytes;
  EXPECT_EQ("second", second[4].str());
  EXPECT_EQ("(2)", first[4].str().substr(first[4].str().size() - 3));
  EXPECT_LT(std::stoi(first[1].str()), 24);
}

TEST(DiagnosticLog, LineBytesAreTimeSpaceTextCrLf) {
  ScratchFolder scratch;
  std::wstring file = scratch / L"line.log";
  wchar_t before[diagnostics::kTimeOfDayChars];
  wchar_t after[diagnostics::kTimeOfDayChars];
  diagnostics::FormatTimeOfDay(before);
  ASSERT_EQ(14, diagnostics::AppendLogLine(file.c_str(), L"abc"));
  diagnostics::FormatTimeOfDay(after);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(file, &bytes));
  ASSERT_EQ(14u, bytes.size());
  std::string stamp = bytes.substr(0, 8);
  char b[16], a[16];
  wcstombs(b, before, 16);
  wcstombs(a, after, 16);
  EXPECT_TRUE(stamp == b || stamp == a) << stamp;
  EXPECT_EQ(" abc\r\n", bytes.substr(8));
  EXPECT_EQ(nullptr, diagnostics::FormatTimeOfDay(nullptr));
}

TEST(DiagnosticLog, NullFormatEmptiesTheFile) {
  ScratchFolder scratch;
  ASSERT_GT(diagnostics::LogToDatedFile(scratch.path().c_str(), L"x.log", L"one"), 0);
  EXPECT_EQ(0, diagnostics::LogToDatedFile(scratch.path().c_str(), L"x.log", nullptr));
  std::string bytes = "not read";
  ASSERT_TRUE(ReadFileBytes(TodaysFile(scratch.path(), L"x.log"), &bytes));
  EXPECT_EQ("", bytes);
  EXPECT_EQ(0, diagnostics::AppendLogLine((scratch / L"y.log").c_str(), nullptr));
  EXPECT_TRUE(ReadFileBytes(scratch / L"y.log", &bytes));
}

TEST(DiagnosticLog, RefusalsAndFailures) {
  ScratchFolder scratch;
  // No suffix, or a folder that cannot be made (below a file): 0, nothing written.
  EXPECT_EQ(0, diagnostics::LogToDatedFile(scratch.path().c_str(), nullptr, L"x"));
  ASSERT_TRUE(WriteFileBytes(scratch / L"file", "x"));
  EXPECT_EQ(0, diagnostics::LogToDatedFile((scratch / L"file\\sub").c_str(), L"x.log", L"x"));

  // A file held by a writer that shares nothing: -1 with the sharing error.
  std::wstring locked = scratch / L"locked.log";
  HANDLE holder = ::CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  ::SetLastError(0);
  EXPECT_EQ(-1, diagnostics::AppendLogLine(locked.c_str(), L"x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
  EXPECT_EQ(-1, diagnostics::WriteLogText(nullptr, locked.c_str()));
  ::CloseHandle(holder);

  // A dated path longer than 260 characters is refused, not cut.
  std::wstring deep = scratch.path() + L"\\" + std::wstring(200, L'd');
  EXPECT_EQ(-1, diagnostics::LogToDatedFile(deep.c_str(), std::wstring(60, L's').c_str(), L"x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), ::GetLastError());

  // An empty text writes nothing.
  EXPECT_EQ(0, diagnostics::WriteLogText(L"", (scratch / L"empty.log").c_str()));
}

TEST(DiagnosticLog, LongTextGrowsTheFormatBufferAndIsStoredWhole) {
  ScratchFolder scratch;
  std::wstring file = scratch / L"long.log";
  // 5000 characters do not fit the first 4096-character buffer; 9000 not
  // the second.
  for (std::size_t length : {4093u, 4094u, 5000u, 9000u}) {
    std::wstring text(length, L'x');
    ASSERT_EQ(static_cast<int>(length + 11), diagnostics::AppendLogLine(file.c_str(), L"%s", text.c_str()));
  }
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(file, &bytes));
  EXPECT_EQ(4093u + 4094 + 5000 + 9000 + 4 * 11, bytes.size());
}

TEST(DiagnosticLog, TextBeyondTheLargestBufferIsRefused) {
  ScratchFolder scratch;
  std::wstring file = scratch / L"huge.log";
  std::wstring fits(8388608 - 3, L'x');
  EXPECT_EQ(static_cast<int>(fits.size() + 11), diagnostics::AppendLogLine(file.c_str(), L"%s", fits.c_str()));
  std::wstring huge(8388608 - 2, L'x');
  EXPECT_EQ(-1, diagnostics::AppendLogLine(file.c_str(), L"%s", huge.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), ::GetLastError());
}
