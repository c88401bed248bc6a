// Crashes in one of the ways the launcher's crash handler must catch, after
// setting the handler up exactly as the launcher does at start.
//
//   crash_probe access|invalid-parameter|pure-call|terminate [replace-filter]
//
// With "replace-filter" a later SetUnhandledExceptionFilter call stands for a
// library that tries to take the filter over; its filter would leave
// "library-filter-ran.txt" in the current folder. Prints what that call
// returned, then crashes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>

#include "core/ProductInfo.h"
#include "diagnostics/CrashHandler.h"

namespace {

LONG WINAPI LibraryFilter(EXCEPTION_POINTERS*) {
  HANDLE f = ::CreateFileW(L"library-filter-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
  return EXCEPTION_EXECUTE_HANDLER;
}

int* volatile g_nowhere = nullptr;
FILE* volatile g_noFile = nullptr;

// Calls its pure function from the base constructor, through a pointer the
// compiler cannot see through, so the call goes to the pure-call hook.
struct Shape {
  Shape();
  virtual ~Shape() {}
  virtual void Draw() = 0;
};
Shape* volatile g_shape = nullptr;
Shape::Shape() {
  g_shape = this;
  g_shape->Draw();
}
struct Circle : Shape {
  void Draw() override {}
};

}  // namespace

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
    std::fclose(g_noFile);
  } else if (!std::wcscmp(argv[1], L"pure-call")) {
    Circle circle;
  } else if (!std::wcscmp(argv[1], L"terminate")) {
    std::terminate();
  }
  return 3;  // not crashed
}
