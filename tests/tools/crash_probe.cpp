// Crashes in one of the ways the launcher's crash handler must catch, after
// setting the handler up exactly as the launcher does at start.
//
//   crash_probe MODE [replace-filter]
//
// MODE: access, invalid-parameter, pure-call, terminate, abort,
// stack-overflow (deep recursion on the main thread), heap-corruption (a
// block overrun and a double free in the C runtime's heap, which Wine's heap
// survives, then in the process heap, which it does not), locked-heap (an access violation while the crashing thread
// holds the process heap's lock), busy-heap (an access violation on a second
// thread while three others allocate and free in a loop) or two-threads (two
// threads crash at once), main-thread-ends (the main thread is ended while
// the process lives on, as Wine ends a thread whose stack overflow leaves no
// room for its exception) or report-crash (an access violation, after which
// the report's first system call faults too: the memory status is made to
// run an invalid instruction). Prints "thread <id>" for each thread that is about
// to crash, then crashes. Exits with 100 when it did not crash. The lines
// marked "fault: KIND" are where tests/e2e/test_crash.py expects the crash.
//
// With "replace-filter" a later SetUnhandledExceptionFilter call stands for a
// library that tries to take the filter over; its filter would leave
// "library-filter-ran.txt" in the current folder. Prints what that call
// returned, then crashes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>

#include "product/ProductInfo.h"
#include "diagnostics/CrashHandler.h"

namespace {

LONG WINAPI LibraryFilter(EXCEPTION_POINTERS*) {
  HANDLE f = ::CreateFileW(L"library-filter-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
  return EXCEPTION_EXECUTE_HANDLER;
}

int* volatile g_nowhere = nullptr;
FILE* volatile g_noFile = nullptr;

void SayThread() {
  std::printf("thread %lu\n", ::GetCurrentThreadId());
  std::fflush(stdout);
}

// Each call takes a frame the compiler cannot fold away, until the stack is
// gone; that it never ends is the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[256];
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// Frees a block, overruns its neighbour into it (over the freed block's
// links), frees it again, then allocates blocks of its size until the heap
// gives way. Large blocks, which Wine's heap keeps in its plain free lists
// rather than in its low-fragmentation bins, make the fault come at once,
// inside the heap's code and under its lock.
// Not inlined: the crash tests expect it as a frame of its own.
template <typename Allocate, typename Release>
__attribute__((noinline)) void CorruptHeap(Allocate allocate, Release release) {
  const std::size_t size = 100000;
  char* block = static_cast<char*>(allocate(size));
  char* neighbour = static_cast<char*>(allocate(size));
  allocate(size);  // keeps the neighbour from joining the heap's free end
  release(neighbour);
  std::memset(block, 0xA5, size + 64);
  release(neighbour);
  for (int i = 0; i < 64; ++i) allocate(size);
}

// Makes GlobalMemoryStatusEx, which the report calls, fault at its first
// instruction (ud2), as a call into a damaged process may.
bool BreakMemoryStatus() {
  void* code = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GlobalMemoryStatusEx"));
  static const unsigned char kInvalid[] = {0x0F, 0x0B};
  DWORD old = 0;
  if (!code || !::VirtualProtect(code, sizeof(kInvalid), PAGE_EXECUTE_READWRITE, &old)) return false;
  std::memcpy(code, kInvalid, sizeof(kInvalid));
  ::FlushInstructionCache(::GetCurrentProcess(), code, sizeof(kInvalid));
  return true;
}

// The launcher crashes, if at all, after some of its start-up work, by when
// the crash handler's threads run. A crash on a held or broken heap before
// they run is reported by the crashed thread itself; this keeps the heap
// kinds on the handler thread's way.
void SettleAsTheLauncher() { ::Sleep(500); }

volatile LONG g_churned[3];

DWORD WINAPI Churn(void* slot) {
  LONG* counter = const_cast<LONG*>(&g_churned[reinterpret_cast<INT_PTR>(slot)]);
  HANDLE heap = ::GetProcessHeap();
  for (unsigned i = 0;; ++i) {
    void* c = std::malloc(32 + i % 4000);
    char* p = new char[16 + i % 300];
    void* h = ::HeapAlloc(heap, 0, 24 + i % 2000);
    ::HeapFree(heap, 0, h);
    delete[] p;
    std::free(c);
    ::InterlockedIncrement(counter);
  }
}

HANDLE g_go = nullptr;
volatile LONG g_waiting = 0;

DWORD WINAPI CrashWhenTold(void*) {
  SayThread();
  ::InterlockedIncrement(&g_waiting);
  ::WaitForSingleObject(g_go, INFINITE);
  *g_nowhere = 1;  // fault: thread
  return 0;
}

void BusyHeapThenCrash() {
  for (INT_PTR i = 0; i < 3; ++i) ::CloseHandle(::CreateThread(nullptr, 0, Churn, reinterpret_cast<void*>(i), 0, nullptr));
  // Under way: each has gone round its loop many times.
  for (int i = 0; i < 3; ++i) {
    while (g_churned[i] < 1000) ::Sleep(1);
  }
  g_go = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE crasher = ::CreateThread(nullptr, 0, CrashWhenTold, nullptr, 0, nullptr);
  ::WaitForSingleObject(crasher, INFINITE);
}

void TwoThreadsCrash() {
  g_go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[2];
  for (HANDLE& thread : threads) thread = ::CreateThread(nullptr, 0, CrashWhenTold, nullptr, 0, nullptr);
  while (g_waiting < 2) ::Sleep(1);
  ::SetEvent(g_go);
  ::WaitForMultipleObjects(2, threads, TRUE, INFINITE);
}

}  // namespace

namespace probe {

// Calls its pure function from the base constructor, through a function the
// compiler cannot see: knowing the type under construction, GCC would
// otherwise drop the call as undefined instead of going through the vtable.
// Outside the anonymous namespace, so that the hierarchy is not closed.
struct Shape;
void DrawShape(Shape* shape);
void (*volatile g_drawShape)(Shape*) = DrawShape;
struct Shape {
  Shape() { g_drawShape(this); }
  virtual ~Shape() {}
  virtual void Draw() = 0;
};
__attribute__((noipa)) void DrawShape(Shape* shape) { shape->Draw(); }
struct Circle : Shape {
  void Draw() override {}
};

}  // namespace probe

int wmain(int argc, wchar_t** argv) {
  diagnostics::RegisterProductInfo(product::kKind, product::kGameName, product::kProductCode, product::kVersion,
                                   product::kAppName);
  diagnostics::InstallCrashHandler();

  if (argc < 2) return 2;
  if (argc > 2 && !std::wcscmp(argv[2], L"replace-filter")) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(LibraryFilter);
    std::printf("replace-filter returned %s\n", previous ? "a filter" : "null");
    std::fflush(stdout);
  }

  const wchar_t* mode = argv[1];
  if (!std::wcscmp(mode, L"access")) {
    SayThread();
    *g_nowhere = 1;  // fault: access
  } else if (!std::wcscmp(mode, L"invalid-parameter")) {
    // Windows' msvcrt.dll calls the registered handler for this. Wine 8's
    // msvcrt.dll has no _set_invalid_parameter_handler, so MinGW keeps the
    // handler itself and Wine's checks only set errno: the handler the
    // runtime holds is then called the way the runtime would.
    SayThread();
    std::fclose(g_noFile);
    _invalid_parameter_handler handler = ::_get_invalid_parameter_handler();
    if (handler) handler(L"stream != NULL", L"fclose", L"fclose.c", 42, 0);
  } else if (!std::wcscmp(mode, L"pure-call")) {
    SayThread();
    probe::Circle circle;
  } else if (!std::wcscmp(mode, L"terminate")) {
    SayThread();
    std::terminate();
  } else if (!std::wcscmp(mode, L"abort")) {
    SayThread();
    std::abort();
  } else if (!std::wcscmp(mode, L"stack-overflow")) {
    SayThread();
    Recurse(0);
  } else if (!std::wcscmp(mode, L"heap-corruption")) {
    SayThread();
    SettleAsTheLauncher();
    CorruptHeap([](std::size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
    HANDLE heap = ::GetProcessHeap();
    CorruptHeap([heap](std::size_t n) { return ::HeapAlloc(heap, 0, n); }, [heap](void* p) { ::HeapFree(heap, 0, p); });
  } else if (!std::wcscmp(mode, L"locked-heap")) {
    SayThread();
    SettleAsTheLauncher();
    ::HeapLock(::GetProcessHeap());
    *g_nowhere = 1;  // fault: locked-heap
  } else if (!std::wcscmp(mode, L"main-thread-ends")) {
    SayThread();
    ::ExitThread(1);
  } else if (!std::wcscmp(mode, L"report-crash")) {
    SayThread();
    if (BreakMemoryStatus()) *g_nowhere = 1;
  } else if (!std::wcscmp(mode, L"busy-heap")) {
    BusyHeapThenCrash();
  } else if (!std::wcscmp(mode, L"two-threads")) {
    TwoThreadsCrash();
  }
  return 100;  // not crashed
}
