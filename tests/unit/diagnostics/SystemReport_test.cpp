#include "diagnostics/SystemReport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::ScratchFolder;
using testing_support::TestToolPath;
using testing_support::WriteFileBytes;

namespace {

std::string Cp936(const std::wstring& text) {
  int n = ::WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  ::WideCharToMultiByte(936, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

// The report's lines, split at CR LF; false when a line end is not CR LF.
bool SplitReport(const std::string& bytes, std::vector<std::string>* lines) {
  lines->clear();
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) return false;
    std::string line = bytes.substr(start, end - start);
    if (line.find('\n') != std::string::npos) return false;
    lines->push_back(line);
    start = end + 2;
  }
  return true;
}

std::wstring RegistryText(const wchar_t* name) {
  HKEY key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key)) {
    return L"";
  }
  wchar_t value[260] = {};
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  LONG status = ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS ? value : L"";
}

std::string Narrow(const std::wstring& text) { return Cp936(text); }

std::wstring MemoryLine(unsigned long load, std::uint64_t total, std::uint64_t free) {
  wchar_t line[diagnostics::kReportLineChars] = {};
  EXPECT_TRUE(diagnostics::FormatMemoryLine(load, total, free, line));
  return line;
}

std::wstring CpuName() {
  wchar_t name[diagnostics::kCpuNameChars];
  diagnostics::GetCpuName(name);
  return name;
}

std::wstring AdapterName() {
  wchar_t name[diagnostics::kAdapterNameChars];
  diagnostics::GetDisplayAdapterName(name);
  return name;
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

std::wstring TaskRow(const std::wstring& line, const std::wstring& path) {
  bool closingQuote = false;
  std::size_t kept = diagnostics::TaskRowKeptChars(line.data(), line.size(), &closingQuote);
  return line.substr(0, kept) + (closingQuote ? L"\",\"" : L",\"") + path + L"\"";
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
  // The brand string read on this machine is already trimmed.
  std::wstring name = CpuName();
  EXPECT_EQ(Trimmed(name.c_str()), name);
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

TEST(SystemReport, TaskRowAddsTheImagePathAsATenthColumn) {
  const std::wstring line =
      L"\"game.exe\",\"1234\",\"Console\",\"1\",\"10,000 K\",\"Running\",\"PC\\user\",\"0:00:01\",\"N/A\"";
  const std::wstring row = line.substr(0, line.size() - 1) + L"\",\"C:\\Games\\game.exe\"";
  EXPECT_EQ(row, TaskRow(line, L"C:\\Games\\game.exe"));
  EXPECT_EQ(row, TaskRow(line + L"\r", L"C:\\Games\\game.exe"));  // tasklist's CR LF
  EXPECT_EQ(L"\"a\",\"1\",N/A,\"C:\\a.exe\"", TaskRow(L"\"a\",\"1\",N/A", L"C:\\a.exe"));
  EXPECT_EQ(L",\"C:\\a.exe\"", TaskRow(L"", L"C:\\a.exe"));
}

TEST(SystemReport, ReportOfThisMachine) {
  ScratchFolder scratch;
  std::wstring report = scratch / L"report.txt";
  ASSERT_EQ(0, RunProgram(TestToolPath(L"report_probe.exe"), L"\"" + report + L"\""));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(report, &bytes));
  std::vector<std::string> lines;
  ASSERT_TRUE(SplitReport(bytes, &lines)) << bytes;
  ASSERT_GE(lines.size(), 13u) << bytes;

  std::size_t i = 0;
  EXPECT_EQ("System Summary: ", lines[i++]);
  EXPECT_EQ("", lines[i++]);
  std::wstring buildLabEx = RegistryText(L"BuildLabEx");
  std::wstring buildLab = RegistryText(L"BuildLab");
  if (!buildLabEx.empty()) {
    EXPECT_EQ(Narrow(L"BuildLabEx: " + buildLabEx), lines[i++]);
  } else if (!buildLab.empty()) {
    EXPECT_EQ(Narrow(L"BuildLab: " + buildLab), lines[i++]);
  }
  std::wstring productName = RegistryText(L"ProductName");
  ASSERT_FALSE(productName.empty());  // Wine has it
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  bool x64 = sizeof(void*) == 8 || wow64;
  EXPECT_EQ(Narrow(L"ProductName: " + productName + (x64 ? L" x64" : L" x32")), lines[i++]);
  std::wstring systemRoot = RegistryText(L"SystemRoot");
  ASSERT_FALSE(systemRoot.empty());
  EXPECT_EQ(Narrow(L"SystemRoot: " + systemRoot), lines[i++]);
  EXPECT_EQ("", lines[i++]);

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof(memory);
  ASSERT_TRUE(::GlobalMemoryStatusEx(&memory));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[i], m, std::regex("Memory: Usage\\[(\\d+)\\] Total\\[(\\d+)GB\\] Free\\[(\\d+)GB\\]")))
      << lines[i];
  EXPECT_EQ(memory.ullTotalPhys >> 30, std::stoull(m[2].str()));
  EXPECT_LE(std::stoi(m[1].str()), 100);
  ++i;

  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  ASSERT_TRUE(std::regex_match(lines[i], m, std::regex("CPU: Usage\\[(-?\\d+)\\] Frequency\\[(-?\\d+)GHz\\] Count\\[(\\d+)\\] Name\\[(.*)\\]")))
      << lines[i];
  EXPECT_EQ(std::to_string(system.dwNumberOfProcessors), m[3].str());
  EXPECT_EQ(Narrow(CpuName()), m[4].str());
  int usage = std::stoi(m[1].str());
  EXPECT_TRUE(usage >= 0 && usage <= 100) << usage;
  ++i;

  EXPECT_EQ(Narrow(L"Display Devices: " + AdapterName()), lines[i++]);
  EXPECT_EQ("", lines[i++]);
  EXPECT_EQ("Running Process: ", lines[i++]);
  EXPECT_EQ("", lines[i++]);
  EXPECT_EQ(Cp936(diagnostics::kTaskListHeader), lines[i++]);
  EXPECT_EQ("", lines[i++]);
  // Wine 8's tasklist prints nothing; the rows are the next test's subject.
}

TEST(SystemReport, RowsFromRealTaskListText) {
  ScratchFolder scratch;
  // The probe and the stand-in "tasklist" side by side: the command search
  // looks in the starting program's folder first.
  ASSERT_TRUE(::CopyFileW(TestToolPath(L"report_probe.exe").c_str(), (scratch / L"report_probe.exe").c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(TestToolPath(L"fake_tasklist.exe").c_str(), (scratch / L"tasklist.exe").c_str(), FALSE));

  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::string pid = std::to_string(::GetCurrentProcessId());
  // What "tasklist /v /fo CSV /NH" prints on Windows, CR LF line ends and
  // all; the last line lacks its line end.
  std::string own = "\"launcher_tests.exe\",\"" + pid +
                    "\",\"Console\",\"1\",\"12,345 K\",\"Running\",\"PC\\player\",\"0:00:01\",\"N/A\"";
  std::string text =
      "\"System Idle Process\",\"0\",\"Services\",\"0\",\"8 K\",\"Unknown\",\"NT AUTHORITY\\SYSTEM\",\"1:02:03\",\"N/A\"\r\n" +
      own + "\r\n" +
      "\"gone.exe\",\"99999999999\",\"Console\",\"1\",\"1 K\",\"Unknown\",\"N/A\",\"0:00:00\",\"N/A\"\r\n" +
      "INFO: a line without columns\r\n"
      "\r\n" +
      own;
  ASSERT_TRUE(WriteFileBytes(scratch / L"tasklist.txt", text));
  ::SetEnvironmentVariableW(L"ORLIX_TASKLIST_TEXT", (scratch / L"tasklist.txt").c_str());
  ::SetEnvironmentVariableW(L"ORLIX_TASKLIST_ARGS", (scratch / L"tasklist.args").c_str());
  std::wstring report = scratch / L"report.txt";
  long code = RunProgram(scratch / L"report_probe.exe", L"\"" + report + L"\"");
  ::SetEnvironmentVariableW(L"ORLIX_TASKLIST_TEXT", nullptr);
  ::SetEnvironmentVariableW(L"ORLIX_TASKLIST_ARGS", nullptr);
  ASSERT_EQ(0, code);

  std::string args;
  ASSERT_TRUE(ReadFileBytes(scratch / L"tasklist.args", &args));
  EXPECT_EQ("/v /fo \"CSV\" /NH", args);

  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(report, &bytes));
  std::vector<std::string> lines;
  ASSERT_TRUE(SplitReport(bytes, &lines)) << bytes;
  std::size_t header = 0;
  while (header < lines.size() && lines[header] != Cp936(diagnostics::kTaskListHeader)) ++header;
  ASSERT_LT(header + 1, lines.size());
  EXPECT_EQ("", lines[header + 1]);
  std::vector<std::string> rows(lines.begin() + header + 2, lines.end());

  // Only this process's two lines make rows: PID 0 cannot be opened, the
  // overflowing PID reads as 0, and lines without columns are skipped.
  std::string expected = own.substr(0, own.size() - 1) + "\",\"" + Cp936(exe) + "\"";
  ASSERT_EQ(2u, rows.size()) << bytes;
  EXPECT_EQ(expected, rows[0]);
  EXPECT_EQ(expected, rows[1]);
}

TEST(SystemReport, UncreatableFileLeavesNoTrace) {
  ScratchFolder scratch;
  std::wstring report = scratch / L"missing\\report.txt";
  diagnostics::WriteSystemReport(report.c_str());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(report.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((scratch / L"missing").c_str()));
}
