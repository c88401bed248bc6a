#include <windows.h>
#include <psapi.h>

#include <cpuid.h>
#include <x86intrin.h>

#include <cstring>
#include <exception>
#include <string>

#include "base/UniqueHandle.h"
#include "diagnostics/ProcessTools.h"
#include "diagnostics/SystemReport.h"
#include "base/TextConversion.h"

namespace diagnostics {

namespace {

// The report's code page: Simplified Chinese, whatever the machine's own.
constexpr UINT kReportCodePage = 936;

// Writes wide lines as code page 936 bytes, each ended with CR LF.
class ReportFile {
 public:
  explicit ReportFile(const wchar_t* path)
      : file_(path ? ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)
                   : INVALID_HANDLE_VALUE) {}

  bool ok() const { return file_.valid(); }

  void Line(const std::wstring& text = std::wstring()) {
    std::string bytes = WideToCodePage(kReportCodePage, text);
    bytes += "\r\n";
    DWORD written = 0;
    // A failed write loses only this line; the report goes on to its end.
    ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

 private:
  base::UniqueFile file_;
};

// A registry text value of at most |maxBytes| bytes, terminator included.
bool ReadRegistryText(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring* value) {
  if (!key) return false;
  // 130 characters (260 bytes) at most, plus room for a terminator that the
  // stored value may lack.
  wchar_t buffer[131] = {};
  DWORD bytes = maxBytes < 260 ? maxBytes : 260;
  DWORD type = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // Stored strings need not carry their terminator: end the text at the
  // bytes actually returned.
  buffer[bytes / sizeof(wchar_t)] = L'\0';
  *value = buffer;
  return true;
}

void WriteWindowsLines(ReportFile* report) {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS) {
    report->Line(L"Fail To Read HKEY !");
  }
  std::wstring value;
  if (ReadRegistryText(key.get(), L"BuildLabEx", 260, &value)) {
    report->Line(L"BuildLabEx: " + value);
  } else if (ReadRegistryText(key.get(), L"BuildLab", 260, &value)) {
    report->Line(L"BuildLab: " + value);
  }
  if (ReadRegistryText(key.get(), L"ProductName", 260, &value)) {
    report->Line(L"ProductName: " + value + L" x" + std::to_wstring(GetOsBitness()));
  }
  if (ReadRegistryText(key.get(), L"SystemRoot", 260, &value)) report->Line(L"SystemRoot: " + value);
}

std::wstring MemoryLine() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!::GlobalMemoryStatusEx(&status)) return FormatMemoryLine(0, 0, 0);
  return FormatMemoryLine(status.dwMemoryLoad, status.ullTotalPhys, status.ullAvailPhys);
}

int SampleFrequencyGhz() {
  unsigned long long before = __rdtsc();
  ::Sleep(50);
  unsigned long long after = __rdtsc();
  return FrequencyGhzFromTicks(before, after);
}

std::int64_t FileTimeValue(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

bool IsVistaOrLater() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  return ::GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

// The drive-letter path of a process's image, read through |process|.
bool ReadImagePath(HANDLE process, bool vistaOrLater, std::wstring* path) {
  wchar_t image[MAX_PATH] = {};
  if (!vistaOrLater) {
    if (!::GetModuleFileNameExW(process, nullptr, image, MAX_PATH)) return false;
    *path = image;
    return true;
  }
  if (!::GetProcessImageFileNameW(process, image, MAX_PATH)) return false;
  wchar_t dosPath[MAX_PATH] = {};
  if (!DevicePathToDosPath(image, dosPath, MAX_PATH)) return false;
  *path = dosPath;
  return true;
}

void WriteProcessRows(ReportFile* report) {
  std::string output;
  if (!RunHiddenCommand("tasklist", "/v /fo \"CSV\" /NH", &output)) return;
  bool vistaOrLater = IsVistaOrLater();
  for (const std::string& line : SplitTaskListLines(output)) {
    // Running out of memory on one line costs that line only.
    try {
      unsigned long pid = 0;
      if (!ParseTaskListPid(line, &pid)) continue;
      base::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
      if (!process) continue;
      std::wstring imagePath;
      if (!ReadImagePath(process.get(), vistaOrLater, &imagePath)) continue;
      report->Line(FormatTaskRow(OemToWide(line), imagePath));
    } catch (const std::exception& e) {
      report->Line();
      report->Line(L"Parse Tasklist Fail ! The reason is " + CodePageToWide(CP_ACP, e.what()));
    }
  }
}

}  // namespace

std::wstring GetCpuName() {
  unsigned int maxLeaf = __get_cpuid_max(0x80000000u, nullptr);
  if (maxLeaf < 0x80000004u) return std::wstring();
  unsigned int regs[12] = {};
  for (unsigned int i = 0; i < 3; ++i) {
    __cpuid(0x80000002u + i, regs[i * 4], regs[i * 4 + 1], regs[i * 4 + 2], regs[i * 4 + 3]);
  }
  char brand[49] = {};
  std::memcpy(brand, regs, 48);
  return TrimCpuName(CodePageToWide(kReportCodePage, brand));
}

std::wstring GetDisplayAdapterName() {
  base::UniqueHKey classes;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_READ,
                      classes.put()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  std::wstring result;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD nameChars = 256;
    LONG status = ::RegEnumKeyExW(classes.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    base::UniqueHKey classKey;
    if (::RegOpenKeyExW(classes.get(), name, 0, KEY_READ, classKey.put()) != ERROR_SUCCESS) continue;
    std::wstring className;
    if (!ReadRegistryText(classKey.get(), L"Class", 128, &className) || ::lstrcmpiW(className.c_str(), L"Display")) {
      continue;
    }
    // The adapter's own description under 0000\Settings (Windows XP). Later
    // Windows, and Wine, keep only "DriverDesc" in 0000 itself: without it
    // the line would stay empty on every current machine.
    base::UniqueHKey settings;
    if (::RegOpenKeyExW(classKey.get(), L"0000\\Settings", 0, KEY_READ, settings.put()) == ERROR_SUCCESS) {
      ReadRegistryText(settings.get(), L"Device Description", 128, &result);
    }
    if (result.empty()) {
      base::UniqueHKey adapter;
      if (::RegOpenKeyExW(classKey.get(), L"0000", 0, KEY_READ, adapter.put()) == ERROR_SUCCESS) {
        ReadRegistryText(adapter.get(), L"DriverDesc", 128, &result);
      }
    }
    break;  // only the first display class is described
  }
  return result;
}

int GetCpuUsage() {
  FILETIME idle0, kernel0, user0, idle1, kernel1, user1;
  if (!::GetSystemTimes(&idle0, &kernel0, &user0)) return 0;
  ::Sleep(1000);
  if (!::GetSystemTimes(&idle1, &kernel1, &user1)) return 0;
  return CpuUsageFromTimes(FileTimeValue(idle1) - FileTimeValue(idle0), FileTimeValue(kernel1) - FileTimeValue(kernel0),
                           FileTimeValue(user1) - FileTimeValue(user0));
}

void WriteSystemReport(const wchar_t* path) {
  ReportFile report(path);
  if (!report.ok()) return;

  report.Line(L"System Summary: ");
  report.Line();
  WriteWindowsLines(&report);
  report.Line();
  report.Line(MemoryLine());

  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  int frequency = SampleFrequencyGhz();
  int usage = GetCpuUsage();
  report.Line(FormatCpuLine(usage, frequency, system.dwNumberOfProcessors, GetCpuName()));
  report.Line(L"Display Devices: " + GetDisplayAdapterName());
  report.Line();
  report.Line(L"Running Process: ");
  report.Line();
  report.Line(kTaskListHeader);
  report.Line();
  WriteProcessRows(&report);
}

}  // namespace diagnostics
