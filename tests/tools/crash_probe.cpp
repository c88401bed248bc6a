// Crashes in one of the ways the launcher's crash handler must catch, after
// setting the handler up exactly as the launcher does at start.
//
//   crash_probe access|invalid-parameter|pure-call|terminate [replace-filter]
//
// Exits with 100 when it did not crash.
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

  if (!std::wcscmp(argv[1], L"access")) {
    *g_nowhere = 1;
  } else if (!std::wcscmp(argv[1], L"invalid-parameter")) {
    // Windows' msvcrt.dll calls the registered handler for this. Wine 8's
    // msvcrt.dll has no _set_invalid_parameter_handler, so MinGW keeps the
    // handler itself and Wine's checks only set errno: the handler the
    // runtime holds is then called the way the runtime would.
    std::fclose(g_noFile);
    _invalid_parameter_handler handler = ::_get_invalid_parameter_handler();
    if (handler) handler(L"stream != NULL", L"fclose", L"fclose.c", 42, 0);
  } else if (!std::wcscmp(argv[1], L"pure-call")) {
    probe::Circle circle;
  } else if (!std::wcscmp(argv[1], L"terminate")) {
    std::terminate();
  }
  return 100;  // not crashed
}
