#include "diagnostics/SystemClock_win.h"
#include "diagnostics/CrashHandler.h"


#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "diagnostics/MiniDump.h"
#include "diagnostics/ProcessBlock_win.h"
#include "diagnostics/ProcessTools.h"
#include "diagnostics/ReportNames.h"
#include "diagnostics/SystemReport.h"
#include "base/TextConversion.h"

namespace diagnostics {

namespace {

// Written once at start, before any other thread exists; only read after.
ProductInfo g_product;
wchar_t g_dumpFolder[base::kPathChars] = {};

// ---- Prepared at start --------------------------------------------------------

// The handler thread's stack: the dump and the report need a few dozen
// kilobytes; the reservation costs address space only.
constexpr SIZE_T kHandlerStackBytes = 1024 * 1024;
constexpr SIZE_T kHeapCheckStackBytes = 64 * 1024;
// How long the heap check may take before the process heap counts as held
// for good: its lock is held for microseconds by a thread that runs on.
constexpr DWORD kHeapCheckMs = 2000;
// How long a crashed thread waits for the handler thread before it ends the
// process itself, should the handler hang.
constexpr DWORD kReportTimeoutMs = 60000;
// How long a crash right after the start waits for the handler thread to run
// before the crashed thread reports by itself: a thread that starts takes
// the loader lock and allocates from the process heap, which the crash may
// hold for good.
constexpr DWORD kHandlerStartMs = 3000;
// Threads that crash while the first crash is reported and appear in its dump.
constexpr LONG kMaxOtherCrashes = 16;

struct Prepared {
  wchar_t exeName[base::kPathChars] = {};
  wchar_t uploader[base::kPathChars] = {};
  // Private heap for the dump's thread list and the report's task list, and
  // the process heap's stand-in when that one is unusable.
  HANDLE heap = nullptr;
  // Set to hand a crash to the handler thread.
  HANDLE request = nullptr;
  // Set by the handler thread once it runs.
  HANDLE handlerReady = nullptr;
  HANDLE handlerThread = nullptr;
  DWORD handlerThreadId = 0;
  // The thread that installed the handler (the launcher's main thread).
  HANDLE installThread = nullptr;
  DWORD installThreadId = 0;
  HANDLE heapCheckRequest = nullptr;
  HANDLE heapCheckDone = nullptr;
  HANDLE heapCheckThread = nullptr;
  DWORD heapCheckThreadId = 0;
  volatile LONG heapCheckPassed = 0;
};
Prepared g_prepared;

// ---- The crash being reported -------------------------------------------------

// The thread whose crash is reported, 0 before the first crash.
volatile LONG g_crashOwner = 0;
CrashedThread g_crash;
CrashedThread g_otherCrashes[kMaxOtherCrashes];
volatile LONG g_otherCrashCount = 0;
// The thread that runs the report's steps: the handler thread, or the crashed
// thread itself when the handler thread could not be started.
volatile DWORD g_reporterThread = 0;
// The next step of the report; a step that crashes is not run again.
volatile LONG g_nextStep = 0;

enum Step { StepNames, StepHeapCheck, StepDump, StepReport, StepUploader, StepCount };

wchar_t g_reportBase[base::kPathChars] = {};
wchar_t g_dumpPath[base::kPathChars] = {};
wchar_t g_reportPath[base::kPathChars] = {};
wchar_t g_command[base::kUrlChars] = {};
bool g_named = false;

[[noreturn]] void WaitForTheEnd() {
  for (;;) ::Sleep(INFINITE);
}

// The base and both file paths; false when any would pass 260 characters.
bool BuildCrashPaths(const wchar_t* folder, const wchar_t* exeName, const ClockTime& utc) {
  wchar_t candidate[base::kPathChars] = {};
  if (!FormatCrashReportBase(folder, g_product.version, exeName, utc, candidate)) return false;
  wchar_t dump[base::kPathChars] = {};
  wchar_t report[base::kPathChars] = {};
  if (!base::JoinText(dump, candidate, L".dmp") || !base::JoinText(report, candidate, L".txt")) return false;
  base::CopyText(g_reportBase, candidate);
  base::CopyText(g_dumpPath, dump);
  base::CopyText(g_reportPath, report);
  return true;
}

// Puts the private heap where GetProcessHeap() and the system's own calls
// find the process heap. Creating a file or a process allocates from the
// process heap (the NT form of a path, the new process's parameters): with
// its lock held by a thread that will never run again, each of them would
// wait for ever. Blocks allocated before stay in the old heap; freeing one
// into the stand-in fails, which costs a leak in a process that is ending.
void ReplaceProcessHeap() {
  PEB* peb = CurrentPeb();
  // The process heap follows the process parameters and the subsystem data
  // in the PEB, on i686 and x86_64 alike.
  ::InterlockedExchangePointer(&peb->Reserved4[1], g_prepared.heap);
}

// Asks the heap-check thread whether the process heap can be locked and is
// sound, and puts the private heap in its place when not.
void CheckProcessHeap() {
  if (!g_prepared.heapCheckThread) return;
  ::SetEvent(g_prepared.heapCheckRequest);
  bool answered = ::WaitForSingleObject(g_prepared.heapCheckDone, kHeapCheckMs) == WAIT_OBJECT_0;
  if (!answered || !g_prepared.heapCheckPassed) ReplaceProcessHeap();
}

void WriteCrashDump() {
  DWORD skipped[] = {g_prepared.handlerThreadId, g_prepared.heapCheckThreadId};
  CrashedThread others[kMaxOtherCrashes];
  std::size_t otherCount = 0;
  LONG recorded = g_otherCrashCount;
  for (LONG i = 0; i < recorded && i < kMaxOtherCrashes; ++i) {
    // An entry counts once its thread identifier, written last, is there.
    if (g_otherCrashes[i].threadId) others[otherCount++] = g_otherCrashes[i];
  }
  MiniDumpRequest request;
  request.crash = g_crash;
  request.otherCrashes = others;
  request.otherCrashCount = otherCount;
  request.skippedThreads = skipped;
  request.skippedThreadCount = sizeof(skipped) / sizeof(skipped[0]);
  request.privateHeap = g_prepared.heap;
  WriteMiniDump(g_dumpPath, request);
}

void RunStep(LONG step) {
  switch (step) {
    case StepNames: {
      // A dump folder too deep for the names falls back to the current
      // folder, an over-long executable name to "Unknown".
      ClockTime utc = UtcClock();
      g_named = BuildCrashPaths(g_dumpFolder, g_prepared.exeName, utc) ||
                BuildCrashPaths(L"", g_prepared.exeName, utc) || BuildCrashPaths(L"", L"Unknown", utc);
      break;
    }
    case StepHeapCheck:
      CheckProcessHeap();
      break;
    case StepDump:
      // The dump first: a report that fails still leaves it.
      if (g_named) WriteCrashDump();
      break;
    case StepReport:
      if (g_named) WriteSystemReport(g_reportPath, g_prepared.heap);
      break;
    case StepUploader:
      if (g_named && g_prepared.uploader[0] &&
          FormatUploaderCommand(g_prepared.uploader, g_product, g_reportBase, g_command)) {
        StartUploader(g_command, nullptr);
      }
      break;
    default:
      break;
  }
}

// Runs the steps not yet begun, then ends the process with the crash's code.
// Called again when a step crashes, it goes on with the step after it.
[[noreturn]] __attribute__((noinline)) void FinishReport() {
  for (;;) {
    LONG step = ::InterlockedIncrement(&g_nextStep) - 1;
    if (step >= StepCount) break;
    RunStep(step);
  }
  const EXCEPTION_RECORD* record = g_crash.exception ? g_crash.exception->ExceptionRecord : nullptr;
  // Ended here rather than by returning from the filter: returning would
  // unwind the crashed thread's stack, which may be exhausted or broken.
  ::TerminateProcess(::GetCurrentProcess(), record ? record->ExceptionCode : 1);
  WaitForTheEnd();
}

DWORD WINAPI HandlerThread(void*) {
  ::SetEvent(g_prepared.handlerReady);
  HANDLE events[] = {g_prepared.request, g_prepared.installThread};
  DWORD count = g_prepared.installThread ? 2 : 1;
  while (::WaitForMultipleObjects(count, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    // The main thread ended while the process lives on: the system ended it
    // for a crash it could not hand over (Wine ends a thread whose stack
    // overflow leaves no room for its exception). Reported without the
    // exception, rather than leaving a process that only this thread keeps.
    LONG owner = ::InterlockedCompareExchange(&g_crashOwner, static_cast<LONG>(g_prepared.installThreadId), 0);
    if (owner == 0 || owner == static_cast<LONG>(g_prepared.installThreadId)) {
      g_crash.threadId = g_prepared.installThreadId;
      g_crash.exception = nullptr;  // it lay on the ended thread's stack
      break;
    }
    count = 1;  // another thread's crash is being handed over
  }
  FinishReport();
}

DWORD WINAPI HeapCheckThread(void*) {
  ::WaitForSingleObject(g_prepared.heapCheckRequest, INFINITE);
  HANDLE heap = ::GetProcessHeap();
  // Blocks for good when the heap's lock is held by a thread that crashed.
  if (::HeapLock(heap)) {
    if (::HeapValidate(heap, 0, nullptr)) g_prepared.heapCheckPassed = 1;
    ::HeapUnlock(heap);
  }
  ::SetEvent(g_prepared.heapCheckDone);
  WaitForTheEnd();
}

// Everything the report needs that can be had before the crash.
void PrepareReport() {
  if (g_prepared.heap) return;  // prepared already
  // The executable's file name, as GetModuleBaseNameW gives it, which takes
  // milliseconds under Wine.
  wchar_t exePath[base::kPathChars] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, exePath, base::kPathChars);
  const wchar_t* exeName = length > 0 && length < base::kPathChars ? exePath + length : nullptr;
  while (exeName && exeName > exePath && exeName[-1] != L'\\') --exeName;
  if (!exeName || !*exeName || !base::CopyText(g_prepared.exeName, exeName)) {
    base::CopyText(g_prepared.exeName, L"Unknown");
  }
  if (!GetUploaderPath(g_prepared.uploader)) g_prepared.uploader[0] = L'\0';
  g_prepared.heap = ::HeapCreate(0, 0, 0);
  PrepareMiniDumpWriter();
  // Looked up now: at the crash the lookup would take the loader lock.
  GetOsBitness();
  // The report's code page table is mapped on its first use.
  char bytes[4];
  ::WideCharToMultiByte(936, 0, L"\x4E2D", 1, bytes, sizeof(bytes), nullptr, nullptr);

  g_prepared.request = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_prepared.handlerReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_prepared.heapCheckRequest = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_prepared.heapCheckDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!g_prepared.heap || !g_prepared.request || !g_prepared.handlerReady || !g_prepared.heapCheckRequest ||
      !g_prepared.heapCheckDone) {
    return;
  }
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &g_prepared.installThread, SYNCHRONIZE, FALSE, 0)) {
    g_prepared.installThread = nullptr;
  }
  g_prepared.installThreadId = ::GetCurrentThreadId();
  // The threads are not waited for: a thread's start takes tens of
  // milliseconds under Wine. A crash before the handler thread runs waits a
  // little for it (CrashFilter).
  g_prepared.heapCheckThread = ::CreateThread(nullptr, kHeapCheckStackBytes, HeapCheckThread, nullptr,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, &g_prepared.heapCheckThreadId);
  g_prepared.handlerThread = ::CreateThread(nullptr, kHandlerStackBytes, HandlerThread, nullptr,
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, &g_prepared.handlerThreadId);
  if (g_prepared.handlerThread) g_reporterThread = g_prepared.handlerThreadId;
}

void RecordOtherCrash(DWORD thread, EXCEPTION_POINTERS* exception) {
  LONG slot = ::InterlockedIncrement(&g_otherCrashCount) - 1;
  if (slot >= kMaxOtherCrashes) return;
  g_otherCrashes[slot].exception = exception;
  ::MemoryBarrier();
  g_otherCrashes[slot].threadId = thread;
}

// A stack overflow leaves its thread a page or two of stack. Wine walks the
// stack's frames before it calls the unhandled-exception filter and runs out
// of that room on the way ("stack overflow ... addr ... in ntdll"); it then
// ends the thread without a word. A vectored handler is called before that
// walk, so the overflow is handed over from here.
LONG CALLBACK OnStackOverflow(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  return CrashFilter(exception);
}

// Zeroes the stack below the caller's frame, where RaiseException's frames
// will lie. A crash-dump reader has no unwind information for the system's
// RaiseException (Wine's DLLs carry no debug identifier to find symbols by)
// and finds its caller by scanning the stack for return addresses; those
// left there by earlier calls (the runtime's printf) would come first.
__attribute__((noinline)) void ClearStackBelow() {
  volatile char area[4096];
  for (std::size_t i = 0; i < sizeof(area); ++i) area[i] = 0;
}

// Hands a runtime failure to the unhandled-exception filter.
[[noreturn]] __attribute__((noinline)) void RaiseFailure(DWORD code) {
  ClearStackBelow();
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

// Rewrites the start of one SetUnhandledExceptionFilter so that it returns
// null at once.
bool PatchReturnNull(void* code) {
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
  ::AddVectoredExceptionHandler(1, OnStackOverflow);
  // MinGW forwards these to msvcrt.dll when it exports them (Windows Vista
  // and later) and keeps them itself otherwise: Wine 8's msvcrt.dll lacks
  // them, so there its parameter checks only set errno. g++ code reaches
  // OnPureCall through __cxa_pure_virtual below, not through _purecall.
  ::_set_invalid_parameter_handler(OnInvalidParameter);
  ::_set_purecall_handler(OnPureCall);
  std::set_terminate(OnTerminate);
  // abort() raises SIGABRT first and ends the process quietly only when
  // nobody handles it.
  std::signal(SIGABRT, OnAbortSignal);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOALIGNMENTFAULTEXCEPT |
                 SEM_NOOPENFILEERRORBOX);
  SilenceAbort();
  std::wstring folder = GetDumpFolder();
  if (!base::CopyText(g_dumpFolder, folder.c_str())) g_dumpFolder[0] = L'\0';
  PrepareReport();
  return 1;
}

bool BlockFilterChanges() {
  // kernel32 stays loaded for the life of every process; the reference taken
  // here is never given back.
  HMODULE kernel = ::LoadLibraryW(L"kernel32.dll");
  if (!kernel) return false;
  void* code = reinterpret_cast<void*>(::GetProcAddress(kernel, "SetUnhandledExceptionFilter"));
  if (!code || !PatchReturnNull(code)) return false;
  // Since Windows 7 kernel32's export is a stub that jumps to kernelbase's
  // function (as under Wine), and code that imports through the API sets,
  // such as the system's C runtimes, calls kernelbase directly: that one is
  // rewritten too when it is there.
  HMODULE kernelBase = ::GetModuleHandleW(L"kernelbase.dll");
  void* baseCode = kernelBase ? reinterpret_cast<void*>(::GetProcAddress(kernelBase, "SetUnhandledExceptionFilter"))
                              : nullptr;
  if (baseCode && baseCode != code) PatchReturnNull(baseCode);
  return true;
}

bool WriteMiniDump(const wchar_t* path, EXCEPTION_POINTERS* exception) {
  if (!PrepareMiniDumpWriter()) return false;
  struct HeapTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::HeapDestroy(h); }
  };
  base::UniqueAny<HeapTraits> heap(::HeapCreate(0, 0, 0));
  MiniDumpRequest request;
  if (exception) {
    request.crash.threadId = ::GetCurrentThreadId();
    request.crash.exception = exception;
  }
  request.privateHeap = heap.get();
  return diagnostics::WriteMiniDump(path, request);
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
  // Kept small: after a stack overflow this runs on the last page or two of
  // the crashed thread's stack. The report itself runs elsewhere.
  DWORD self = ::GetCurrentThreadId();
  // A step of the report crashed: the steps after it still run.
  if (self == g_reporterThread) FinishReport();
  // The heap check crashed on a broken heap: it never answers, which counts
  // as a broken heap.
  if (self == g_prepared.heapCheckThreadId) WaitForTheEnd();
  LONG owner = ::InterlockedCompareExchange(&g_crashOwner, static_cast<LONG>(self), 0);
  if (owner != 0) {
    // Another thread's crash is being reported; the process ends once it
    // is, and this thread's crash goes into the same dump.
    if (owner != static_cast<LONG>(self)) RecordOtherCrash(self, exception);
    WaitForTheEnd();
  }
  g_crash.threadId = self;
  g_crash.exception = exception;
  if (g_prepared.handlerThread &&
      ::WaitForSingleObject(g_prepared.handlerReady, kHandlerStartMs) == WAIT_OBJECT_0) {
    ::SetEvent(g_prepared.request);
    // The handler thread ends the process when the report is done; should
    // it hang, or die, the process is ended from here.
    ::WaitForSingleObject(g_prepared.handlerThread, kReportTimeoutMs);
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    WaitForTheEnd();
  }
  // No handler thread, or one that cannot start: the report is written
  // from here. A handler thread that starts later waits for a request that
  // never comes.
  g_reporterThread = self;
  FinishReport();
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

void __cdecl OnAbortSignal(int) { RaiseFailure(kAbortException); }

}  // namespace diagnostics

// g++ code has no _purecall: calls of pure (or deleted) virtual functions go
// to these libsupc++ entry points, whose own versions print and terminate.
// Defining both here keeps libsupc++'s pure.o, and its definitions, out of
// the link.
extern "C" void __cxa_pure_virtual() { diagnostics::OnPureCall(); }
extern "C" void __cxa_deleted_virtual() { diagnostics::OnPureCall(); }
