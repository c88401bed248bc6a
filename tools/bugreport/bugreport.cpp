// BugReport.exe: the crash-report uploader carried in the game package.
//
// Started hidden by the launcher after a crash or a failed game start:
//
//   "<folder>\BugReport.exe" /report KIND GAME PRODUCT VERSION APP "BASE"
//
// KIND, GAME (UTF-8, percent-encoded), PRODUCT, VERSION and APP describe the
// program that failed. BASE names the report without extension: a full path
// for a launcher crash (BASE.dmp is the minidump), or a bare name for a failed
// game start, whose files (BASE.dmp the failure note) lie beside this program.
// BASE.txt is the system report in both cases.
//
// Each of BASE.dmp and BASE.txt that exists is sent as the raw body of
// POST http://<server>/report?file=<file name>, the describing values in
// X-Orlix-* headers. When at least one file arrived, the time is written to
// "lstReport" (decimal seconds since 1970-01-01 UTC) in section "Tavrel" of
// the statistics file, which the launcher reads to send at most one report
// every ten minutes. The files themselves are left in place.
//
// Every start and its outcome is appended to "BugReport.log" beside the
// program. Exit code: 0 all files sent, 1 bad command line, 2 nothing to send,
// 3 a transfer failed.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <ctime>
#include <string>
#include <vector>

#include "product/MakerSettings.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;  // per connect, send and receive: never linger

struct ReportArguments {
  std::wstring kind, game, product, version, app, base;
};

std::wstring ExeFolder() {
  wchar_t exe[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring path(exe, n);
  std::size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

void Log(const std::wstring& text) {
  std::wstring path = ExeFolder() + L"BugReport.log";
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string line = ToUtf8(text) + "\r\n";
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
}

bool ParseArguments(int argc, wchar_t** argv, ReportArguments* out) {
  if (argc != 8 || ::CompareStringOrdinal(argv[1], -1, L"/report", -1, TRUE) != CSTR_EQUAL) return false;
  for (int i = 2; i < 8; ++i) {
    if (!argv[i][0]) return false;
  }
  *out = ReportArguments{argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]};
  return true;
}

// A bare base name lies beside this program; a path stays as it is.
std::wstring ResolveBase(const std::wstring& base) {
  bool hasFolder = base.find_first_of(L"\\/") != std::wstring::npos || (base.size() > 1 && base[1] == L':');
  return hasFolder ? base : ExeFolder() + base;
}

std::wstring FileNamePart(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring PercentEncode(const std::wstring& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  for (unsigned char c : ToUtf8(text)) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<wchar_t>(c);
    } else {
      out += L'%';
      out += static_cast<wchar_t>(kHex[c >> 4]);
      out += static_cast<wchar_t>(kHex[c & 15]);
    }
  }
  return out;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart < 0x7FFFFFFF;
  std::string data;
  if (ok) {
    data.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    ok = data.empty() || (::ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &got, nullptr) &&
                          got == data.size());
  }
  ::CloseHandle(file);
  if (ok) bytes->swap(data);
  return ok;
}

// Splits maker::kServerHost ("host" or "host:port").
void SplitHost(const std::wstring& hostPort, std::wstring* host, INTERNET_PORT* port) {
  std::size_t colon = hostPort.rfind(L':');
  *host = hostPort;
  *port = INTERNET_DEFAULT_HTTP_PORT;
  if (colon != std::wstring::npos) {
    unsigned long value = std::wcstoul(hostPort.c_str() + colon + 1, nullptr, 10);
    if (value > 0 && value < 65536) {
      *host = hostPort.substr(0, colon);
      *port = static_cast<INTERNET_PORT>(value);
    }
  }
}

class Uploader {
 public:
  Uploader() {
    session_ = ::InternetOpenW(L"BugReport/3.0", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!session_) return;
    DWORD timeout = kTimeoutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      ::InternetSetOptionW(session_, option, &timeout, sizeof(timeout));
    }
    std::wstring host;
    INTERNET_PORT port = 0;
    SplitHost(maker::kServerHost, &host, &port);
    connection_ = ::InternetConnectW(session_, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  }
  ~Uploader() {
    if (connection_) ::InternetCloseHandle(connection_);
    if (session_) ::InternetCloseHandle(session_);
  }
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;

  // POSTs |body| as file |name|; true on a 2xx answer.
  bool Send(const std::wstring& name, const std::string& body, const ReportArguments& args, DWORD* status) {
    *status = 0;
    if (!connection_) return false;
    std::wstring object = L"/report?file=" + PercentEncode(name);
    HINTERNET request = ::HttpOpenRequestW(connection_, L"POST", object.c_str(), nullptr, nullptr, nullptr,
                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                               INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI,
                                           0);
    if (!request) return false;
    std::wstring headers = L"Content-Type: application/octet-stream\r\nX-Orlix-Kind: " + args.kind +
                           L"\r\nX-Orlix-Game: " + args.game + L"\r\nX-Orlix-Product: " + args.product +
                           L"\r\nX-Orlix-Version: " + args.version + L"\r\nX-Orlix-App: " + args.app + L"\r\n";
    BOOL sent = ::HttpSendRequestW(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                   body.empty() ? nullptr : const_cast<char*>(body.data()),
                                   static_cast<DWORD>(body.size()));
    if (sent) {
      DWORD size = sizeof(*status);
      if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, &size, nullptr)) {
        *status = 0;
      }
      // Drain the answer so the connection ends cleanly.
      char sink[512];
      DWORD got = 0;
      while (::InternetReadFile(request, sink, sizeof(sink), &got) && got > 0) {
      }
    }
    ::InternetCloseHandle(request);
    return sent && *status >= 200 && *status < 300;
  }

 private:
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
};

// "lstReport" in section "Tavrel" of %LOCALAPPDATA%\Orlix\GameLogin\Statistic.ini.
void WriteLastReportTime() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, appData))) return;
  std::wstring ini = std::wstring(appData) + L"\\Orlix\\GameLogin\\Statistic.ini";
  wchar_t seconds[32] = {};
  std::swprintf(seconds, 32, L"%lld", static_cast<long long>(std::time(nullptr)));
  if (!::WritePrivateProfileStringW(L"Tavrel", L"lstReport", seconds, ini.c_str())) {
    Log(L"  cannot write lstReport to " + ini);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  Log(std::wstring(L"start: ") + ::GetCommandLineW());
  ReportArguments args;
  bool parsed = argv && ParseArguments(argc, argv, &args);
  if (argv) ::LocalFree(argv);
  if (!parsed) {
    Log(L"  bad command line; expected /report KIND GAME PRODUCT VERSION APP \"BASE\"");
    return 1;
  }

  std::wstring base = ResolveBase(args.base);
  Uploader uploader;
  int found = 0, delivered = 0;
  for (const wchar_t* extension : {L".dmp", L".txt"}) {
    std::wstring path = base + extension;
    std::string body;
    if (!ReadWholeFile(path, &body)) continue;
    ++found;
    DWORD status = 0;
    bool ok = uploader.Send(FileNamePart(path), body, args, &status);
    Log(L"  " + path + (ok ? L": sent, HTTP " : L": not sent, HTTP ") + std::to_wstring(status));
    if (ok) ++delivered;
  }
  if (delivered > 0) WriteLastReportTime();
  if (found == 0) {
    Log(L"  no report files for " + base);
    return 2;
  }
  return delivered == found ? 0 : 3;
}
