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

}  // namespace

TEST(SystemReport, CpuNameOfThisMachineIsTrimmed) {
  // The brand string read on this machine is already trimmed.
  std::wstring name = CpuName();
  EXPECT_EQ(Trimmed(name.c_str()), name);
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
