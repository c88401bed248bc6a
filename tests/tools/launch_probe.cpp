// Runs the launcher's game start with the player's prompts recorded instead
// of shown: the message box answers with the button given as the first
// argument (1 or 7) and every prompt is appended, UTF-8, to the file given as
// the second argument ("message=", "caption=", "style=", "buttons=",
// "open=" lines).
#include <windows.h>

#include <cwchar>
#include <string>

#include "diagnostics/GameLaunch.h"

namespace {

int g_answer = 1;
std::wstring g_recordPath;

void Record(const std::wstring& line) {
  std::wstring text = line + L"\n";
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], n, nullptr, nullptr);
  bytes.resize(bytes.size() - 1);
  HANDLE f = ::CreateFileW(g_recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(f);
}

int ShowMessage(const wchar_t* text, const wchar_t* caption, int style, const wchar_t* first, const wchar_t* second) {
  Record(std::wstring(L"message=") + text);
  Record(std::wstring(L"caption=") + caption);
  Record(L"style=" + std::to_wstring(style));
  Record(std::wstring(L"buttons=") + first + L"|" + second);
  return g_answer;
}

void OpenPage(const wchar_t* url) { Record(std::wstring(L"open=") + url); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_answer = std::wcstol(argv[1], nullptr, 10);
  g_recordPath = argv[2];
  diagnostics::PlayerPrompts prompts;
  prompts.showMessage = ShowMessage;
  prompts.openPage = OpenPage;
  diagnostics::LaunchGameWith(prompts);
  return 0;
}
