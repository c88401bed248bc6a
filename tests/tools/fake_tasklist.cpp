// Stand-in for the system's "tasklist", copied as tasklist.exe beside a
// program so that its command search finds it first. Prints the bytes of the
// file named by ORLIX_TASKLIST_TEXT unchanged (real task-list text prepared
// by the test) and, when ORLIX_TASKLIST_ARGS names a file, writes its own
// arguments there.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? value : L"";
}

// The command line after the program name.
std::string ArgumentsOf(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != ' ') ++p;
  }
  while (*p == ' ') ++p;
  return p;
}

}  // namespace

int wmain() {
  std::wstring argsFile = Environment(L"ORLIX_TASKLIST_ARGS");
  if (!argsFile.empty()) {
    std::string args = ArgumentsOf(::GetCommandLineA());
    HANDLE f = ::CreateFileW(argsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(f, args.data(), static_cast<DWORD>(args.size()), &written, nullptr);
      ::CloseHandle(f);
    }
  }
  std::wstring textFile = Environment(L"ORLIX_TASKLIST_TEXT");
  if (textFile.empty()) return 0;
  HANDLE in = ::CreateFileW(textFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return 1;
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got) {
    DWORD written = 0;
    ::WriteFile(out, buffer, got, &written, nullptr);
  }
  ::CloseHandle(in);
  return 0;
}
