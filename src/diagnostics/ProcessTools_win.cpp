#include "diagnostics/ProcessTools.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/Process.h"
#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "diagnostics/DevicePaths.h"

namespace diagnostics {

namespace {

// How long an ended process is given to be gone. TerminateProcess only starts
// the termination; until the process object is signalled its image and open
// files are still in use and cannot be replaced.
constexpr DWORD kTerminateWaitMs = 10000;

constexpr DWORD kDriveListChars = 500;
constexpr DWORD kDeviceTargetChars = 100;

// Every process identifier, or false when the enumeration failed. EnumProcesses
// says nothing about identifiers that did not fit, so the array grows until a
// call leaves room to spare.
bool EnumerateProcessIds(std::vector<DWORD>* ids) {
  std::size_t capacity = GrowProcessIdCapacity(0);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::vector<DWORD> buffer(capacity);
    DWORD bytes = 0;
    if (!::EnumProcesses(buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &bytes)) return false;
    std::size_t count = bytes / sizeof(DWORD);
    if (count < capacity) {
      buffer.resize(count);
      ids->swap(buffer);
      return true;
    }
    capacity = GrowProcessIdCapacity(capacity);
  }
  return false;
}

// Full path of the main module of the process behind |process| (opened with
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ). The first module that
// EnumProcessModules lists is the executable. A 32-bit process cannot list
// the modules of a 64-bit one (ERROR_PARTIAL_COPY); the image name from
// QueryFullProcessImageNameW is the same path and works across bitness.
bool GetMainModulePath(HANDLE process, wchar_t (&path)[MAX_PATH]) {
  path[0] = L'\0';
  HMODULE first = nullptr;
  DWORD needed = 0;
  if (::EnumProcessModules(process, &first, sizeof(first), &needed)) {
    DWORD n = ::GetModuleFileNameExW(process, first, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return true;
  }
  DWORD size = MAX_PATH;
  path[0] = L'\0';
  return ::QueryFullProcessImageNameW(process, 0, path, &size) && size > 0 && size < MAX_PATH;
}

// Whole-path comparison without regard to case, the way the file system
// compares names (ordinal, upper-case table), not by the user's locale.
bool SamePath(const wchar_t* a, const wchar_t* b) {
  return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The process |pid|, opened for queries, when its main module is |exePath|;
// else an empty owner. While the handle is held the identifier cannot be
// given to a new process, so opening |pid| again reaches the same process.
base::UniqueHandle OpenIfPathMatches(DWORD pid, const wchar_t* exePath) {
  base::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return process;
  wchar_t path[MAX_PATH];
  if (!GetMainModulePath(process.get(), path) || !SamePath(path, exePath)) process.reset();
  return process;
}

// Ends one process and waits, bounded, until it is gone.
bool TerminateAndWait(DWORD pid) {
  base::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return false;
  if (!::TerminateProcess(process.get(), 0)) return false;
  ::WaitForSingleObject(process.get(), kTerminateWaitMs);
  return true;
}

}  // namespace

int GetOsBitness() {
  // Looked up once: the answer never changes, and the lookup takes the
  // loader lock, which the crash handler's report must not wait for.
  static volatile LONG bitness = 0;
  if (bitness) return bitness;
  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  SYSTEM_INFO info = {};
  HMODULE kernel = ::GetModuleHandleW(L"kernel32");
  auto native = kernel ? reinterpret_cast<GetNativeSystemInfoFn>(::GetProcAddress(kernel, "GetNativeSystemInfo"))
                       : nullptr;
  if (native) {
    native(&info);
  } else {
    ::GetSystemInfo(&info);
  }
  WORD arch = info.wProcessorArchitecture;
  bitness = (arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64) ? 64 : 32;
  return bitness;
}

CaptureResult CaptureHiddenCommand(char* commandLine, CapturedOutputSink sink, void* context,
                                   unsigned long timeoutMs) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  base::UniqueHandle readEnd;
  base::UniqueHandle writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return CaptureResult::PipeFailed;
  // Only the write end goes to the child; a child holding the read end too
  // would keep a reader alive that nobody drains.
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  base::ProcessStart how;
  how.show = SW_HIDE;
  how.stdOutput = writeEnd.get();
  how.stdError = writeEnd.get();
  // A program found in System32 comes from SysWOW64 for the 32-bit launcher
  // on 64-bit Windows (file system redirection). The system report's
  // tasklist is there too, and lists the 64-bit processes all the same.
  base::OwnedProcess child;
  if (!base::StartProcess(commandLine, nullptr, how, &child)) return CaptureResult::StartFailed;
  const HANDLE process = child.process.get();
  // Our copy of the write end must go, or the pipe never reports its end.
  writeEnd.reset();

  // Every byte as the child wrote it, zero bytes included, in chunks of at
  // most 255 bytes. Without a time limit a blocking read waits for the pipe
  // to break; with one, the pipe is only read when it holds something, so
  // that a child that hangs without printing cannot hold the caller past it.
  char chunk[256];
  DWORD got = 0;
  if (timeoutMs == INFINITE) {
    while (::ReadFile(readEnd.get(), chunk, 255, &got, nullptr)) {
      if (got && !sink(context, chunk, got)) break;
    }
    return CaptureResult::Captured;
  }
  ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    DWORD waiting = 0;
    if (!::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &waiting, nullptr)) break;  // every writer gone
    if (waiting) {
      if (!::ReadFile(readEnd.get(), chunk, waiting < 255 ? waiting : 255, &got, nullptr)) break;
      if (got && !sink(context, chunk, got)) break;
      continue;
    }
    ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      ::TerminateProcess(process, 1);
      break;
    }
    // Wakes when the child ends (its last output is then read before the
    // pipe reports its end) or after a short while to look at the pipe again.
    ULONGLONG left = deadline - now;
    ::WaitForSingleObject(process, left < 10 ? static_cast<DWORD>(left) : 10);
  }
  return CaptureResult::Captured;
}

namespace {

bool AppendToString(void* context, const char* bytes, std::size_t size) {
  static_cast<std::string*>(context)->append(bytes, size);
  return true;
}

}  // namespace

bool RunHiddenCommand(const std::string& program, const std::string& arguments, std::string* output) {
  // CreateProcessA may write into the command line: give it a private copy.
  std::string commandLine = program + " " + arguments;
  std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
  commandBuffer.push_back('\0');
  std::string captured;
  CaptureResult result = CaptureHiddenCommand(commandBuffer.data(), AppendToString, &captured, INFINITE);
  if (result != CaptureResult::Captured) {
    std::printf(result == CaptureResult::PipeFailed ? "CreatePipe failed: GetLastError() = %lu\n"
                                                     : "CreateProcessA failed: GetLastError() = %lu\n",
                ::GetLastError());
    return false;
  }
  output->swap(captured);
  return true;
}

bool EnableDebugPrivilege() {
  base::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) return false;
  // AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED when the
  // account lacks the privilege: only a last error of 0 means it is enabled.
  ::SetLastError(ERROR_SUCCESS);
  BOOL adjusted = ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  DWORD error = ::GetLastError();
  return adjusted && error == ERROR_SUCCESS;
}

bool KillProcessesByPath(const wchar_t* exePath) {
  if (!exePath || !*exePath) return false;
  EnableDebugPrivilege();
  std::vector<DWORD> ids;
  if (!EnumerateProcessIds(&ids)) return false;
  bool lastResult = false;
  for (DWORD pid : ids) {
    if (pid == ::GetCurrentProcessId()) continue;  // never ourselves
    base::UniqueHandle match = OpenIfPathMatches(pid, exePath);
    if (match) lastResult = TerminateAndWait(pid);
  }
  return lastResult;
}

bool IsProcessRunning(const wchar_t* exePath) {
  if (!exePath || !*exePath) return false;
  std::vector<DWORD> ids;
  if (!EnumerateProcessIds(&ids)) return false;
  for (DWORD pid : ids) {
    if (OpenIfPathMatches(pid, exePath)) return true;
  }
  return false;
}

bool KillGameProcess() {
  wchar_t game[base::kPathChars] = {};
  if (!layout::GetInstallFilePath(game, layout::kGameExeName)) return false;
  return KillProcessesByPath(game);
}

bool KillReporterAndGame() {
  // The uploader first: it may be reading the game's files.
  wchar_t uploader[base::kPathChars] = {};
  if (layout::GetInstallFilePath(uploader, layout::kUploaderExeName)) KillProcessesByPath(uploader);
  return KillGameProcess();
}

bool DevicePathToDosPath(const wchar_t* devicePath, wchar_t* dosPath, std::size_t dosPathChars) {
  if (!devicePath || !dosPath || dosPathChars == 0) return false;
  wchar_t roots[kDriveListChars + 1] = {};
  DWORD n = ::GetLogicalDriveStringsW(kDriveListChars, roots);
  if (n == 0 || n > kDriveListChars || roots[0] == L'\0') {
    base::CopyText(dosPath, dosPathChars, devicePath);
    return false;
  }
  std::size_t position = 0;
  wchar_t drive[3];
  while (NextDriveName(roots, n, &position, drive)) {
    wchar_t target[kDeviceTargetChars] = {};
    if (!::QueryDosDeviceW(drive, target, kDeviceTargetChars)) return false;
    std::size_t claimed = DeviceTargetLength(devicePath, target);
    if (claimed) {
      // A result that does not fit the caller's buffer is refused, not cut.
      const wchar_t* rest = devicePath + claimed;
      if (2 + std::wcslen(rest) + 1 > dosPathChars) return false;
      base::CopyText(dosPath, dosPathChars, drive);
      base::AppendText(dosPath, dosPathChars, rest);
      return true;
    }
  }
  base::CopyText(dosPath, dosPathChars, devicePath);
  return false;
}

}  // namespace diagnostics
