#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "diagnostics/SystemClock_win.h"
#include "diagnostics/DiagnosticLog.h"

namespace diagnostics {

namespace {

constexpr std::size_t kFirstFormatChars = 4096;
constexpr std::size_t kLargestFormatChars = 8388608;
// CR, LF and the terminator are kept free behind the formatted text.
constexpr std::size_t kLineEndReserve = 3;


// Closes |file| and then puts |error| back: CloseHandle may overwrite it.
int FailKeepingError(base::UniqueFile* file, DWORD error) {
  file->reset();
  ::SetLastError(error);
  return -1;
}

}  // namespace

wchar_t* FormatTimeOfDay(wchar_t* buffer) {
  if (!buffer) return nullptr;
  // The buffer's size is the caller's word (kTimeOfDayChars): the text is
  // made in a buffer of that size and copied whole.
  wchar_t text[kTimeOfDayChars] = {};
  if (!FormatClockText(LocalClock(), text)) text[0] = L'\0';
  std::wmemcpy(buffer, text, kTimeOfDayChars);
  return buffer;
}

int WriteLogText(const wchar_t* text, const wchar_t* filePath) {
  if (!text) {
    base::UniqueFile file(::CreateFileW(filePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : -1;
  }
  base::UniqueFile file(::CreateFileW(filePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  // INVALID_SET_FILE_POINTER is also a valid low half of a large position;
  // only the last error tells them apart.
  ::SetLastError(NO_ERROR);
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    return FailKeepingError(&file, ::GetLastError());
  }
  // Sized from the text itself, so a long line is stored whole.
  int needed = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return 0;
  std::vector<char> bytes(static_cast<std::size_t>(needed) + 1, '\0');
  if (::WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.data(), needed, nullptr, nullptr) <= 0) return 0;
  DWORD length = static_cast<DWORD>(std::strlen(bytes.data()));
  if (length == 0) return 0;
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), length, &written, nullptr)) {
    return FailKeepingError(&file, ::GetLastError());
  }
  return static_cast<int>(written);
}

int AppendLogLineV(const wchar_t* filePath, const wchar_t* format, va_list args) {
  if (!format) return WriteLogText(nullptr, filePath);

  wchar_t prefix[kTimeOfDayChars] = {};
  FormatTimeOfDay(prefix);
  std::wstring line(prefix);
  if (!line.empty()) line += L' ';

  bool formatted = false;
  for (std::size_t capacity = kFirstFormatChars; capacity <= kLargestFormatChars && !formatted; capacity *= 2) {
    std::vector<wchar_t> buffer(capacity, L'\0');
    va_list pass;
    va_copy(pass, args);
    // The C runtime's _vsnwprintf: -1 when the text does not fit, and the
    // Microsoft meaning of %s (a wide string) in a wide format.
    int n = ::_vsnwprintf(buffer.data(), capacity - kLineEndReserve, format, pass);
    va_end(pass);
    if (n >= 0 && static_cast<std::size_t>(n) <= capacity - kLineEndReserve) {
      line.append(buffer.data(), static_cast<std::size_t>(n));
      formatted = true;
    }
  }
  if (!formatted) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return -1;
  }
  line += L"\r\n";
  return WriteLogText(line.c_str(), filePath);
}

int AppendLogLine(const wchar_t* filePath, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int result = AppendLogLineV(filePath, format, args);
  va_end(args);
  return result;
}

int LogToDatedFile(const wchar_t* folder, const wchar_t* suffix, const wchar_t* format, ...) {
  if (!folder) return 0;
  if (::GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
    layout::CreateDirectoryTree(folder);
    if (::GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) return 0;
  }
  if (!suffix) return 0;

  wchar_t path[base::kPathChars] = {};
  if (!FormatDatedLogPath(folder, LocalClock(), suffix, path)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  if (!format) return WriteLogText(nullptr, path);
  va_list args;
  va_start(args, format);
  int result = AppendLogLineV(path, format, args);
  va_end(args);
  return result;
}

}  // namespace diagnostics
