// Stand-in for the game executable: writes its command line, current folder
// and priority class to "<own path>.record.txt" (UTF-8), then ends.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int wmain() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::string record = "cmd=" + Utf8(::GetCommandLineW()) + "\ncwd=" + Utf8(cwd) +
                       "\npriority=" + std::to_string(::GetPriorityClass(::GetCurrentProcess())) + "\n";
  std::wstring recordPath = std::wstring(exe) + L".record.txt";
  HANDLE f = ::CreateFileW(recordPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(f, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  ::CloseHandle(f);
  return 0;
}
