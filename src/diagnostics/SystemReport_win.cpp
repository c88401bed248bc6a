#include <windows.h>
#include <psapi.h>

#include <cpuid.h>
#include <x86intrin.h>

#include <cstring>
#include <cwchar>

#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "diagnostics/NumberText.h"
#include "diagnostics/ProcessTools.h"
#include "diagnostics/SystemReport.h"
#include "base/TextConversion.h"

namespace diagnostics {

namespace {

// The report's code page: Simplified Chinese, whatever the machine's own.
constexpr UINT kReportCodePage = 936;

// Registry texts of the Windows lines: at most 260 bytes, 130 characters.
constexpr DWORD kWindowsValueBytes = 260;
constexpr DWORD kAdapterValueBytes = 128;

// A task list that runs longer than this is ended; the rows it printed stay.
constexpr DWORD kTaskListTimeoutMs = 20000;

// The message of the C++ runtime's allocation failure, which the report has
// always carried for a task-list line it could not handle.
constexpr wchar_t kLineFailure[] = L"Parse Tasklist Fail ! The reason is std::bad_alloc";

struct HeapTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::HeapDestroy(h); }
};
using UniqueHeap = base::UniqueAny<HeapTraits>;

// Bytes that grow in a private heap.
class HeapBytes {
 public:
  explicit HeapBytes(HANDLE heap) : heap_(heap) {}
  HeapBytes(const HeapBytes&) = delete;
  HeapBytes& operator=(const HeapBytes&) = delete;
  ~HeapBytes() {
    if (data_) ::HeapFree(heap_, 0, data_);
  }

  // False, keeping what is there, when the heap has no room.
  bool Append(const char* bytes, std::size_t size) {
    if (size > capacity_ - size_) {
      std::size_t wanted = capacity_ ? capacity_ * 2 : 64 * 1024;
      while (wanted - size_ < size) wanted *= 2;
      void* grown = data_ ? ::HeapReAlloc(heap_, 0, data_, wanted) : ::HeapAlloc(heap_, 0, wanted);
      if (!grown) return false;
      data_ = static_cast<char*>(grown);
      capacity_ = wanted;
    }
    std::memcpy(data_ + size_, bytes, size);
    size_ += size;
    return true;
  }

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  HANDLE heap_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

bool AppendCaptured(void* context, const char* bytes, std::size_t size) {
  // Out of room: the capture stops and the rows read so far are reported.
  return static_cast<HeapBytes*>(context)->Append(bytes, size);
}

// Writes wide text as code page 936 bytes, lines ended with CR LF, through a
// fixed buffer.
class ReportFile {
 public:
  explicit ReportFile(const wchar_t* path)
      : file_(path ? ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)
                   : INVALID_HANDLE_VALUE) {}

  bool ok() const { return file_.valid(); }

  void Text(const wchar_t* text, std::size_t length) {
    while (length) {
      // Two bytes at most per character of code page 936.
      std::size_t piece = length < kPieceChars ? length : kPieceChars;
      // A surrogate pair stays in one piece, so it becomes one default character.
      if (piece < length && piece > 1 && text[piece - 1] >= 0xD800 && text[piece - 1] <= 0xDBFF) --piece;
      int bytes = ::WideCharToMultiByte(kReportCodePage, 0, text, static_cast<int>(piece), bytes_, sizeof(bytes_),
                                        nullptr, nullptr);
      DWORD written = 0;
      // A failed write loses only this text; the report goes on to its end.
      if (bytes > 0) ::WriteFile(file_.get(), bytes_, static_cast<DWORD>(bytes), &written, nullptr);
      text += piece;
      length -= piece;
    }
  }
  void Text(const wchar_t* text) { Text(text, std::wcslen(text)); }
  void EndLine() {
    DWORD written = 0;
    ::WriteFile(file_.get(), "\r\n", 2, &written, nullptr);
  }
  void Line(const wchar_t* text = L"") {
    Text(text);
    EndLine();
  }

 private:
  static constexpr std::size_t kPieceChars = 1024;
  base::UniqueFile file_;
  char bytes_[kPieceChars * 2];
};

// A registry text value of at most |maxBytes| bytes (terminator included)
// into |value|; false, |value| untouched, when it is missing, of another
// type or longer.
template <std::size_t N>
bool ReadRegistryText(HKEY key, const wchar_t* name, DWORD maxBytes, wchar_t (&value)[N]) {
  static_assert(N * sizeof(wchar_t) > kWindowsValueBytes, "room for the longest value and a terminator");
  if (!key) return false;
  // Stored strings need not carry their terminator: room for one more.
  wchar_t buffer[N] = {};
  DWORD bytes = maxBytes;
  DWORD type = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // End the text at the bytes actually returned.
  buffer[bytes / sizeof(wchar_t)] = L'\0';
  return base::CopyText(value, buffer);
}

void WriteWindowsLines(ReportFile* report) {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS) {
    report->Line(L"Fail To Read HKEY !");
  }
  wchar_t value[kWindowsValueBytes / sizeof(wchar_t) + 1] = {};
  if (ReadRegistryText(key.get(), L"BuildLabEx", kWindowsValueBytes, value)) {
    report->Text(L"BuildLabEx: ");
    report->Line(value);
  } else if (ReadRegistryText(key.get(), L"BuildLab", kWindowsValueBytes, value)) {
    report->Text(L"BuildLab: ");
    report->Line(value);
  }
  if (ReadRegistryText(key.get(), L"ProductName", kWindowsValueBytes, value)) {
    wchar_t bitness[8] = L" x";
    AppendDecimal(bitness, GetOsBitness());
    report->Text(L"ProductName: ");
    report->Text(value);
    report->Line(bitness);
  }
  if (ReadRegistryText(key.get(), L"SystemRoot", kWindowsValueBytes, value)) {
    report->Text(L"SystemRoot: ");
    report->Line(value);
  }
}

void WriteMemoryLine(ReportFile* report) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  wchar_t line[kReportLineChars] = {};
  bool read = ::GlobalMemoryStatusEx(&status);
  if (FormatMemoryLine(read ? status.dwMemoryLoad : 0, read ? status.ullTotalPhys : 0,
                       read ? status.ullAvailPhys : 0, line)) {
    report->Line(line);
  }
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
bool ReadImagePath(HANDLE process, bool vistaOrLater, wchar_t (&path)[MAX_PATH]) {
  wchar_t image[MAX_PATH] = {};
  if (!vistaOrLater) {
    if (!::GetModuleFileNameExW(process, nullptr, image, MAX_PATH)) return false;
    return base::CopyText(path, image);
  }
  if (!::GetProcessImageFileNameW(process, image, MAX_PATH)) return false;
  return DevicePathToDosPath(image, path, MAX_PATH);
}

// One task-list line as its report row; false when the line's text could
// not be held.
bool WriteTaskRow(ReportFile* report, HANDLE heap, const TextSpan& line, const wchar_t* imagePath) {
  // The line's characters before its first zero byte, from the OEM code page.
  const void* zero = std::memchr(line.data, '\0', line.size);
  int bytes = static_cast<int>(zero ? static_cast<const char*>(zero) - line.data : line.size);
  int chars = bytes ? ::MultiByteToWideChar(CP_OEMCP, 0, line.data, bytes, nullptr, 0) : 0;
  if (bytes && chars <= 0) chars = 0;  // not convertible: the row carries the image path only
  wchar_t* wide = nullptr;
  if (chars) {
    wide = static_cast<wchar_t*>(::HeapAlloc(heap, 0, chars * sizeof(wchar_t)));
    if (!wide) return false;
    chars = ::MultiByteToWideChar(CP_OEMCP, 0, line.data, bytes, wide, chars);
  }
  bool closingQuote = false;
  std::size_t kept = TaskRowKeptChars(wide, chars > 0 ? chars : 0, &closingQuote);
  report->Text(wide, kept);
  report->Text(closingQuote ? L"\",\"" : L",\"");
  report->Text(imagePath);
  report->Line(L"\"");
  if (wide) ::HeapFree(heap, 0, wide);
  return true;
}

void WriteProcessRows(ReportFile* report, HANDLE heap) {
  char command[] = "tasklist /v /fo \"CSV\" /NH";
  HeapBytes output(heap);
  if (CaptureHiddenCommand(command, AppendCaptured, &output, kTaskListTimeoutMs) != CaptureResult::Captured) return;
  bool vistaOrLater = IsVistaOrLater();
  std::size_t position = 0;
  TextSpan line;
  while (NextTaskListLine(output.data(), output.size(), &position, &line)) {
    unsigned long pid = 0;
    if (!ParseTaskListPid(line.data, line.size, &pid)) continue;
    base::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) continue;
    wchar_t imagePath[MAX_PATH] = {};
    if (!ReadImagePath(process.get(), vistaOrLater, imagePath)) continue;
    // A line the heap has no room for costs that line only.
    if (!WriteTaskRow(report, heap, line, imagePath)) {
      report->Line();
      report->Line(kLineFailure);
    }
  }
}

}  // namespace

void GetCpuName(wchar_t (&name)[kCpuNameChars]) {
  name[0] = L'\0';
  unsigned int maxLeaf = __get_cpuid_max(0x80000000u, nullptr);
  if (maxLeaf < 0x80000004u) return;
  unsigned int regs[12] = {};
  for (unsigned int i = 0; i < 3; ++i) {
    __cpuid(0x80000002u + i, regs[i * 4], regs[i * 4 + 1], regs[i * 4 + 2], regs[i * 4 + 3]);
  }
  char brand[49] = {};
  std::memcpy(brand, regs, 48);
  // The whole string and its terminator: at most 49 characters.
  if (!::MultiByteToWideChar(kReportCodePage, 0, brand, -1, name, kCpuNameChars)) name[0] = L'\0';
  TrimCpuName(name);
}

void GetDisplayAdapterName(wchar_t (&result)[kAdapterNameChars]) {
  result[0] = L'\0';
  base::UniqueHKey classes;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_READ,
                      classes.put()) != ERROR_SUCCESS) {
    return;
  }
  wchar_t text[kWindowsValueBytes / sizeof(wchar_t) + 1] = {};
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD nameChars = 256;
    LONG status = ::RegEnumKeyExW(classes.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    base::UniqueHKey classKey;
    if (::RegOpenKeyExW(classes.get(), name, 0, KEY_READ, classKey.put()) != ERROR_SUCCESS) continue;
    if (!ReadRegistryText(classKey.get(), L"Class", kAdapterValueBytes, text) || ::lstrcmpiW(text, L"Display")) {
      continue;
    }
    // The adapter's own description under 0000\Settings (Windows XP). Later
    // Windows, and Wine, keep only "DriverDesc" in 0000 itself: without it
    // the line would stay empty on every current machine.
    base::UniqueHKey settings;
    if (::RegOpenKeyExW(classKey.get(), L"0000\\Settings", 0, KEY_READ, settings.put()) == ERROR_SUCCESS &&
        ReadRegistryText(settings.get(), L"Device Description", kAdapterValueBytes, text)) {
      base::CopyText(result, text);
    }
    base::UniqueHKey adapter;
    if (!result[0] && ::RegOpenKeyExW(classKey.get(), L"0000", 0, KEY_READ, adapter.put()) == ERROR_SUCCESS &&
        ReadRegistryText(adapter.get(), L"DriverDesc", kAdapterValueBytes, text)) {
      base::CopyText(result, text);
    }
    break;  // only the first display class is described
  }
}

int GetCpuUsage() {
  FILETIME idle0, kernel0, user0, idle1, kernel1, user1;
  if (!::GetSystemTimes(&idle0, &kernel0, &user0)) return 0;
  ::Sleep(1000);
  if (!::GetSystemTimes(&idle1, &kernel1, &user1)) return 0;
  return CpuUsageFromTimes(FileTimeValue(idle1) - FileTimeValue(idle0), FileTimeValue(kernel1) - FileTimeValue(kernel0),
                           FileTimeValue(user1) - FileTimeValue(user0));
}

void WriteSystemReport(const wchar_t* path, void* privateHeap) {
  ReportFile report(path);
  if (!report.ok()) return;

  report.Line(L"System Summary: ");
  report.Line();
  WriteWindowsLines(&report);
  report.Line();
  WriteMemoryLine(&report);

  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  int frequency = SampleFrequencyGhz();
  int usage = GetCpuUsage();
  wchar_t cpuName[kCpuNameChars];
  GetCpuName(cpuName);
  wchar_t line[kReportLineChars] = {};
  if (FormatCpuLine(usage, frequency, system.dwNumberOfProcessors, cpuName, line)) report.Line(line);
  wchar_t adapter[kAdapterNameChars];
  GetDisplayAdapterName(adapter);
  report.Text(L"Display Devices: ");
  report.Line(adapter);
  report.Line();
  report.Line(L"Running Process: ");
  report.Line();
  report.Line(kTaskListHeader);
  report.Line();
  if (privateHeap) WriteProcessRows(&report, static_cast<HANDLE>(privateHeap));
}

void WriteSystemReport(const wchar_t* path) {
  UniqueHeap heap(::HeapCreate(0, 0, 0));
  WriteSystemReport(path, heap.get());
}

}  // namespace diagnostics
