#include "diagnostics/SystemClock_win.h"
#include "diagnostics/CrashHandler.h"

#include <dbghelp.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "diagnostics/ReportNames.h"
#include "diagnostics/SystemReport.h"
#include "base/TextConversion.h"

namespace diagnostics {

namespace {

// Written once at start, before any other thread exists; only read after.
ProductInfo g_product;
wchar_t g_dumpFolder[base::kPathChars] = {};
// The thread writing a crash report, 0 while none is.
volatile LONG g_crashingThread = 0;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION, PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);

// The base and both file paths; false when any would pass 260 characters.
bool BuildCrashPaths(const wchar_t* folder, const wchar_t* exeName, const ClockTime& utc,
                     wchar_t (&reportBase)[base::kPathChars], wchar_t (&dumpPath)[base::kPathChars],
                     wchar_t (&reportPath)[base::kPathChars]) {
  wchar_t candidate[base::kPathChars] = {};
  if (!FormatCrashReportBase(folder, g_product.version, exeName, utc, candidate)) return false;
  wchar_t dump[base::kPathChars] = {};
  wchar_t report[base::kPathChars] = {};
  if (!base::JoinText(dump, candidate, L".dmp") || !base::JoinText(report, candidate, L".txt")) return false;
  base::CopyText(reportBase, candidate);
  base::CopyText(dumpPath, dump);
  base::CopyText(reportPath, report);
  return true;
}

// Hands a runtime failure to the unhandled-exception filter.
[[noreturn]] void RaiseFailure(DWORD code) {
  for (;;) ::RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// std::terminate (an exception nobody catches, on i686 whose DWARF unwinder
// never hands it to SEH) reports like any other crash.
[[noreturn]] void OnTerminate() { RaiseFailure(kTerminateException); }

// _set_abort_behavior exists from msvcr80 and in the UCRT, not in the
// system's msvcrt.dll that MinGW links; there the abort message is kept off
// the screen by sending runtime errors to standard error.
void SilenceAbort() {
  using SetAbortBehavior = unsigned int(__cdecl*)(unsigned int, unsigned int);
  const wchar_t* runtimes[] = {L"ucrtbase.dll", L"msvcrt.dll"};
  for (const wchar_t* name : runtimes) {
    HMODULE runtime = ::GetModuleHandleW(name);
    if (!runtime) continue;
    auto setAbort = reinterpret_cast<SetAbortBehavior>(::GetProcAddress(runtime, "_set_abort_behavior"));
    if (setAbort) {
      // Neither the abort message (1) nor the fault report (2).
      setAbort(0, 3);
      return;
    }
  }
  ::_set_error_mode(_OUT_TO_STDERR);
}

}  // namespace

bool RegisterProductInfo(const wchar_t* appKind, const wchar_t* gameName, const wchar_t* productCode,
                         const wchar_t* version, const wchar_t* appName) {
  std::wstring encodedName = OemToWide(UrlEncode(WideToUtf8(gameName ? gameName : L"")));
  ProductInfo info;
  if (!base::CopyText(info.appKind, appKind) || !base::CopyText(info.gameName, encodedName.c_str()) ||
      !base::CopyText(info.productCode, productCode) || !base::CopyText(info.version, version) ||
      !base::CopyText(info.appName, appName)) {
    return false;
  }
  g_product = info;
  return true;
}

const ProductInfo& GetProductInfo() { return g_product; }

const wchar_t* GetInstalledDumpFolder() { return g_dumpFolder; }

int InstallCrashHandler() {
  // MinGW's start-up code has installed its own filter by now, so the block
  // is in place in every launcher built with it.
  if (::SetUnhandledExceptionFilter(CrashFilter)) BlockFilterChanges();
  // MinGW forwards these to msvcrt.dll when it exports them (Windows Vista
  // and later) and keeps them itself otherwise: Wine 8's msvcrt.dll lacks
  // them, so there its parameter checks only set errno. g++ code reaches
  // OnPureCall through __cxa_pure_virtual below, not through _purecall.
  ::_set_invalid_parameter_handler(OnInvalidParameter);
  ::_set_purecall_handler(OnPureCall);
  std::set_terminate(OnTerminate);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOALIGNMENTFAULTEXCEPT |
                 SEM_NOOPENFILEERRORBOX);
  SilenceAbort();
  std::wstring folder = GetDumpFolder();
  if (!base::CopyText(g_dumpFolder, folder.c_str())) g_dumpFolder[0] = L'\0';
  return 1;
}

bool BlockFilterChanges() {
  // kernel32 stays loaded for the life of every process; the reference taken
  // here is never given back.
  HMODULE kernel = ::LoadLibraryW(L"kernel32.dll");
  if (!kernel) return false;
  void* code = reinterpret_cast<void*>(::GetProcAddress(kernel, "SetUnhandledExceptionFilter"));
  if (!code) return false;
#if defined(__i386__)
  // xor eax, eax; ret 4 -- returns null and pops the one stdcall argument.
  static const unsigned char kReturnNull[] = {0x33, 0xC0, 0xC2, 0x04, 0x00};
#elif defined(__x86_64__)
  // xor eax, eax; ret -- the x64 convention passes the argument in RCX and
  // leaves the stack to the caller.
  static const unsigned char kReturnNull[] = {0x33, 0xC0, 0xC3};
#else
#error "BlockFilterChanges knows i686 and x86_64 code only"
#endif
  // WriteProcessMemory makes execute-only pages writable by itself on
  // Windows; older Wine does not, so the code is unprotected here first.
  DWORD oldProtect = 0;
  BOOL unprotected = ::VirtualProtect(code, sizeof(kReturnNull), PAGE_EXECUTE_READWRITE, &oldProtect);
  SIZE_T written = 0;
  BOOL ok = ::WriteProcessMemory(::GetCurrentProcess(), code, kReturnNull, sizeof(kReturnNull), &written);
  if (unprotected) {
    DWORD ignored = 0;
    ::VirtualProtect(code, sizeof(kReturnNull), oldProtect, &ignored);
  }
  ::FlushInstructionCache(::GetCurrentProcess(), code, sizeof(kReturnNull));
  return ok && written == sizeof(kReturnNull);
}

bool WriteMiniDump(const wchar_t* path, EXCEPTION_POINTERS* exception) {
  // Loaded when needed and left loaded: the process is ending anyway.
  HMODULE dbghelp = ::LoadLibraryA("dbghelp");
  if (!dbghelp) return false;
  auto writeDump = reinterpret_cast<MiniDumpWriteDumpFunction>(::GetProcAddress(dbghelp, "MiniDumpWriteDump"));
  if (!writeDump) return false;
  base::UniqueFile file(
      ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  MINIDUMP_EXCEPTION_INFORMATION info = {};
  info.ThreadId = ::GetCurrentThreadId();
  info.ExceptionPointers = exception;
  info.ClientPointers = FALSE;
  BOOL result = writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(),
                          static_cast<MINIDUMP_TYPE>(MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory),
                          exception ? &info : nullptr, nullptr, nullptr);
  return result == TRUE;
}

std::wstring GetDumpFolder() {
  wchar_t folder[base::kPathChars] = {};
  if (!layout::GetDumpFolderPath(folder)) return std::wstring();
  if (layout::IsDirectory(folder)) return folder;
  // One level only: Documents\Orlix must be there already.
  if (!::CreateDirectoryW(folder, nullptr)) return std::wstring();
  return folder;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception) {
  LONG self = static_cast<LONG>(::GetCurrentThreadId());
  LONG owner = ::InterlockedCompareExchange(&g_crashingThread, self, 0);
  if (owner == self) return EXCEPTION_EXECUTE_HANDLER;  // the report itself crashed: end now
  if (owner != 0) {
    // Another thread is writing its report; the process ends once it is
    // done, which also ends this thread.
    for (;;) ::Sleep(INFINITE);
  }

  ClockTime utc = UtcClock();
  wchar_t exeName[base::kPathChars] = {};
  if (!::GetModuleBaseNameW(::GetCurrentProcess(), nullptr, exeName, base::kPathChars)) {
    base::CopyText(exeName, L"Unknown");
  }
  wchar_t reportBase[base::kPathChars] = {};
  wchar_t dumpPath[base::kPathChars] = {};
  wchar_t reportPath[base::kPathChars] = {};
  // A dump folder too deep for the names falls back to the current folder,
  // an over-long executable name to "Unknown".
  bool named = BuildCrashPaths(g_dumpFolder, exeName, utc, reportBase, dumpPath, reportPath) ||
               BuildCrashPaths(L"", exeName, utc, reportBase, dumpPath, reportPath) ||
               BuildCrashPaths(L"", L"Unknown", utc, reportBase, dumpPath, reportPath);
  if (named) {
    WriteMiniDump(dumpPath, exception);
    WriteSystemReport(reportPath);
    wchar_t uploader[base::kPathChars] = {};
    wchar_t command[base::kUrlChars] = {};
    if (GetUploaderPath(uploader) && FormatUploaderCommand(uploader, g_product, reportBase, command)) {
      StartUploader(command, nullptr);
    }
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t*, const wchar_t*, unsigned int,
                                std::uintptr_t) {
  // The release runtime passes null for every text.
  std::printf("Expression: %ls\n", expression ? expression : L"");
  std::fflush(stdout);
  // Raised rather than thrown: a C++ throw through the runtime's frames would
  // end in std::terminate on i686 (DWARF unwinding) instead of CrashFilter.
  RaiseFailure(kInvalidParameterException);
}

void __cdecl OnPureCall() {
  std::printf("In _purecall_handler.");
  std::fflush(stdout);
  RaiseFailure(kPureCallException);
}

}  // namespace diagnostics

// g++ code has no _purecall: calls of pure (or deleted) virtual functions go
// to these libsupc++ entry points, whose own versions print and terminate.
// Defining both here keeps libsupc++'s pure.o, and its definitions, out of
// the link.
extern "C" void __cxa_pure_virtual() { diagnostics::OnPureCall(); }
extern "C" void __cxa_deleted_virtual() { diagnostics::OnPureCall(); }
