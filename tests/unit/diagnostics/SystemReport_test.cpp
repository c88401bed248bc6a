#include "diagnostics/SystemReport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

TEST(SystemReport, MemoryLine) {
  const std::uint64_t GiB = 1ull << 30;
  EXPECT_EQ(L"Memory: Usage[63] Total[16GB] Free[5GB]",
            diagnostics::FormatMemoryLine(63, 16 * GiB, 5 * GiB + GiB / 2));
  EXPECT_EQ(L"Memory: Usage[0] Total[0GB] Free[0GB]", diagnostics::FormatMemoryLine(0, GiB - 1, 0));
  EXPECT_EQ(L"Memory: Usage[100] Total[1024GB] Free[1023GB]",
            diagnostics::FormatMemoryLine(100, 1024 * GiB, 1024 * GiB - 1));
}

TEST(SystemReport, CpuLineAndItsFigures) {
  EXPECT_EQ(L"CPU: Usage[12] Frequency[3GHz] Count[8] Name[Intel(R) Core(TM) i7]",
            diagnostics::FormatCpuLine(12, 3, 8, L"Intel(R) Core(TM) i7"));

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
  EXPECT_EQ(L"Intel(R) Xeon(R) CPU", diagnostics::TrimCpuName(L"       Intel(R) Xeon(R) CPU  "));
  EXPECT_EQ(L"AMD", diagnostics::TrimCpuName(L"AMD"));
  EXPECT_EQ(L"   ", diagnostics::TrimCpuName(L"   "));
  EXPECT_EQ(L"", diagnostics::TrimCpuName(L""));
}

TEST(SystemReport, TaskListLinesAndPids) {
  std::vector<std::string> lines = diagnostics::SplitTaskListLines("a\r\nb\r\n");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("a\r", lines[0]);
  EXPECT_EQ("b\r", lines[1]);
  EXPECT_EQ("", lines[2]);
  EXPECT_EQ(std::vector<std::string>({"", ""}), diagnostics::SplitTaskListLines("\n"));
  EXPECT_EQ(std::vector<std::string>({"x"}), diagnostics::SplitTaskListLines("x"));

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
      {"INFO: No tasks are running which match the specified criteria.", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    unsigned long pid = 77;
    EXPECT_EQ(c.row, diagnostics::ParseTaskListPid(c.line, &pid)) << c.line;
    EXPECT_EQ(c.row ? c.pid : 77ul, pid) << c.line;
  }
}

TEST(SystemReport, TaskRowAddsTheImagePathAsATenthColumn) {
  const std::wstring line =
      L"\"game.exe\",\"1234\",\"Console\",\"1\",\"10,000 K\",\"Running\",\"PC\\user\",\"0:00:01\",\"N/A\"";
  const std::wstring row = line.substr(0, line.size() - 1) + L"\",\"C:\\Games\\game.exe\"";
  EXPECT_EQ(row, diagnostics::FormatTaskRow(line, L"C:\\Games\\game.exe"));
  EXPECT_EQ(row, diagnostics::FormatTaskRow(line + L"\r", L"C:\\Games\\game.exe"));  // tasklist's CR LF
  EXPECT_EQ(L"\"a\",\"1\",N/A,\"C:\\a.exe\"", diagnostics::FormatTaskRow(L"\"a\",\"1\",N/A", L"C:\\a.exe"));
}
