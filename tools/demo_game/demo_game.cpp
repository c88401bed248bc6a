// tavr_online.exe: a stand-in for the OrlixDuskmere game client, shipped in the
// game package so the launcher has a real game to unpack, start and end.
//
// Each start appends one line to "tavr_online.log" beside the executable (and
// to the file named by the environment variable ORLIX_GAME_LOG, when set):
//   {"pid":1234,"cwd":"C:\\...","cmdline":"\"C:\\...\\tavr_online.exe\" -x","args":["-x"]}
// (UTF-8 JSON, one object per line; "args" are the arguments after the
// program, split by the usual Windows rules). It then shows a window titled
// "OrlixDuskmere" until the window is closed or the process is ended, and ends
// by itself after ten minutes so a forgotten copy never lingers.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr wchar_t kWindowClass[] = L"OrlixDuskmereGameWindow";
constexpr wchar_t kWindowTitle[] = L"OrlixDuskmere";
constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMs = 10 * 60 * 1000;

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

// JSON string literal of |text| (UTF-8).
std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      wsprintfA(escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void AppendLine(const std::wstring& path, const std::string& line) {
  if (path.empty()) return;
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::wstring LogBesideExe() {
  wchar_t exe[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring path(exe, n);
  std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  return path.substr(0, slash + 1) + L"tavr_online.log";
}

std::wstring EnvLogPath() {
  wchar_t value[MAX_PATH] = {};
  DWORD n = ::GetEnvironmentVariableW(L"ORLIX_GAME_LOG", value, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? std::wstring(value, n) : std::wstring();
}

// The arguments after the program name as a JSON array.
std::string JsonArguments() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::string out = "[";
  for (int i = 1; argv && i < argc; ++i) {
    if (i > 1) out += ",";
    out += JsonString(argv[i]);
  }
  if (argv) ::LocalFree(argv);
  return out + "]";
}

void RecordStart() {
  wchar_t cwd[MAX_PATH] = {};
  DWORD n = ::GetCurrentDirectoryW(MAX_PATH, cwd);
  std::string line = "{\"pid\":" + std::to_string(::GetCurrentProcessId()) +
                     ",\"cwd\":" + JsonString(n > 0 && n < MAX_PATH ? cwd : L"") +
                     ",\"cmdline\":" + JsonString(::GetCommandLineW()) +
                     ",\"args\":" + JsonArguments() + "}\r\n";
  AppendLine(LogBesideExe(), line);
  AppendLine(EnvLogPath(), line);
}

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      ::SetTimer(window, kLifetimeTimer, kLifetimeMs, nullptr);
      return 0;
    case WM_TIMER:
      if (wParam == kLifetimeTimer) ::DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT client;
      ::GetClientRect(window, &client);
      ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, RGB(230, 200, 120));
      ::DrawTextW(dc, kWindowTitle, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::KillTimer(window, kLifetimeTimer);
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  RecordStart();

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = GameWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&windowClass)) return 1;

  HWND window = ::CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  640, 400, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::ShowWindow(window, showCommand);
  ::UpdateWindow(window);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
