// Stand-in for the crash-report uploader, copied as BugReport.exe beside the
// program under test: appends its command line, current folder and priority
// class to BugReport.calls.txt beside itself (UTF-8, one "cmd=", "cwd=" and
// "priority=" line per start), then ends. Started with
// "/linger" first it records nothing and stays up to 60 seconds, until
// BugReport.stop appears beside it, standing for an uploader already running.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring OwnFolder() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::string Utf8(const std::wstring& text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring folder = OwnFolder();
  if (argc > 1 && !std::wcscmp(argv[1], L"/linger")) {
    for (int i = 0; i < 600; ++i) {
      if (::GetFileAttributesW((folder + L"BugReport.stop").c_str()) != INVALID_FILE_ATTRIBUTES) break;
      ::Sleep(100);
    }
    return 0;
  }
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::string record = "cmd=" + Utf8(::GetCommandLineW()) + "\ncwd=" + Utf8(cwd) +
                       "\npriority=" + std::to_string(::GetPriorityClass(::GetCurrentProcess())) + "\n";
  HANDLE f = ::CreateFileW((folder + L"BugReport.calls.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(f, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  ::CloseHandle(f);
  return 0;
}
