#include "diagnostics/SystemReport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring MemoryLine(unsigned long load, std::uint64_t total, std::uint64_t free) {
  wchar_t line[diagnostics::kReportLineChars] = {};
  EXPECT_TRUE(diagnostics::FormatMemoryLine(load, total, free, line));
  return line;
}

std::wstring Trimmed(const wchar_t* text) {
  wchar_t name[diagnostics::kCpuNameChars] = {};
  std::wcscpy(name, text);
  diagnostics::TrimCpuName(name);
  return name;
}

std::vector<std::string> TaskListLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  diagnostics::TextSpan line;
  while (diagnostics::NextTaskListLine(text.data(), text.size(), &position, &line)) {
    lines.emplace_back(line.data, line.size);
  }
  return lines;
}

}  // namespace

TEST(SystemReport, MemoryLine) {
  const std::uint64_t GiB = 1ull << 30;
  EXPECT_EQ(L"Memory: Usage[63] Total[16GB] Free[5GB]", MemoryLine(63, 16 * GiB, 5 * GiB + GiB / 2));
  EXPECT_EQ(L"Memory: Usage[0] Total[0GB] Free[0GB]", MemoryLine(0, GiB - 1, 0));
  EXPECT_EQ(L"Memory: Usage[100] Total[1024GB] Free[1023GB]", MemoryLine(100, 1024 * GiB, 1024 * GiB - 1));
  EXPECT_EQ(L"Memory: Usage[4294967295] Total[17179869183GB] Free[0GB]", MemoryLine(4294967295ul, ~0ull, 0));
}

TEST(SystemReport, CpuLineAndItsFigures) {
  wchar_t line[diagnostics::kReportLineChars] = {};
  ASSERT_TRUE(diagnostics::FormatCpuLine(12, 3, 8, L"Intel(R) Core(TM) i7", line));
  EXPECT_STREQ(L"CPU: Usage[12] Frequency[3GHz] Count[8] Name[Intel(R) Core(TM) i7]", line);
  ASSERT_TRUE(diagnostics::FormatCpuLine(-1, -4, 0, L"", line));
  EXPECT_STREQ(L"CPU: Usage[-1] Frequency[-4GHz] Count[0] Name[]", line);
  // A name that would not fit is refused, the line left as it was.
  std::wstring huge(diagnostics::kReportLineChars, L'x');
  EXPECT_FALSE(diagnostics::FormatCpuLine(1, 1, 1, huge.c_str(), line));
  EXPECT_STREQ(L"CPU: Usage[-1] Frequency[-4GHz] Count[0] Name[]", line);

  struct Case {
    std::uint64_t before, after;
    int ghz;
  } cases[] = {
      {0, 170000000ull, 3},                             // 3.4 GHz over 50 ms shows 3
      {0, 51200000ull * 50 / 50, 1},                    // 1024 MHz exactly
      {0, 51199999ull, 0},                              // just below
      {0xFFFFFFF0ull, 0x100000000ull + 170000000ull - 16, 3},  // the low half wrapped in between
      {(5ull << 32) + 100, (9ull << 32) + 100 + 110000000ull, 2},  // high halves ignored
      {200000000ull, 0, -4},                            // a counter that went back rounds down
  };
  for (const Case& c : cases) EXPECT_EQ(c.ghz, diagnostics::FrequencyGhzFromTicks(c.before, c.after)) << c.after;

  EXPECT_EQ(25, diagnostics::CpuUsageFromTimes(300, 300, 100));  // kernel time includes idle
  EXPECT_EQ(0, diagnostics::CpuUsageFromTimes(400, 400, 0));
  EXPECT_EQ(100, diagnostics::CpuUsageFromTimes(0, 10, 10));
  EXPECT_EQ(0, diagnostics::CpuUsageFromTimes(0, 0, 0));  // no time passed
  EXPECT_EQ(33, diagnostics::CpuUsageFromTimes(2, 2, 1));  // truncated
}

TEST(SystemReport, CpuNameTrim) {
  EXPECT_EQ(L"Intel(R) Xeon(R) CPU", Trimmed(L"       Intel(R) Xeon(R) CPU  "));
  EXPECT_EQ(L"AMD", Trimmed(L"AMD"));
  EXPECT_EQ(L"A B", Trimmed(L" A B "));
  EXPECT_EQ(L"   ", Trimmed(L"   "));
  EXPECT_EQ(L"", Trimmed(L""));
}

TEST(SystemReport, TaskListLinesAndPids) {
  EXPECT_EQ(std::vector<std::string>({"a\r", "b\r", ""}), TaskListLines("a\r\nb\r\n"));
  EXPECT_EQ(std::vector<std::string>({"", ""}), TaskListLines("\n"));
  EXPECT_EQ(std::vector<std::string>({"x"}), TaskListLines("x"));
  EXPECT_EQ(std::vector<std::string>({""}), TaskListLines(""));
  EXPECT_EQ(std::vector<std::string>({std::string("a\0b", 3), "c"}), TaskListLines(std::string("a\0b\nc", 5)));

  struct Case {
    const char* line;
    bool row;
    unsigned long pid;
  } cases[] = {
      {"\"game.exe\",\"1234\",\"Console\",\"1\",\"10,000 K\"", true, 1234},
      {"\"System Idle Process\",\"0\",\"Services\"", true, 0},
      {"\"odd\",\"12ab\",\"x\"", true, 12},
      {"\"odd\",\"\",\"x\"", true, 0},
      {"\"odd\",\"99999999999\",\"x\"", true, 0},  // beyond 32 bits
      {"\"last\",\"4294967295", true, 4294967295ul},
      {"\"cut\",", false, 0},  // the separator is cut short by the line's end
      {"INFO: No tasks are running which match the specified criteria.", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    unsigned long pid = 77;
    EXPECT_EQ(c.row, diagnostics::ParseTaskListPid(c.line, std::strlen(c.line), &pid)) << c.line;
    EXPECT_EQ(c.row ? c.pid : 77ul, pid) << c.line;
  }
}

// The row is the kept part of the line, then "," (or ," where the line had
// no closing quote), the image path and a closing quote: a tenth column.
TEST(SystemReport, TaskRowKeepsTheLineWithoutItsCrAndClosingQuote) {
  struct Case {
    const wchar_t* line;
    std::size_t kept;
    bool closingQuote;
  } cases[] = {
      {L"\"game.exe\",\"1234\",\"N/A\"", 22, true},
      {L"\"game.exe\",\"1234\",\"N/A\"\r", 22, true},  // tasklist's CR LF
      {L"\"game.exe\",\"1234\",\"N/A\"\r\r", 22, true},
      {L"\"a\",\"1\",N/A", 11, false},
      {L"\"a\",\"1\",N/A\r", 11, false},
      {L"\"", 0, true},
      {L"\r", 0, false},
      {L"", 0, false},
  };
  for (const Case& c : cases) {
    bool closingQuote = !c.closingQuote;
    EXPECT_EQ(c.kept, diagnostics::TaskRowKeptChars(c.line, std::wcslen(c.line), &closingQuote)) << c.line;
    EXPECT_EQ(c.closingQuote, closingQuote) << c.line;
  }
}

