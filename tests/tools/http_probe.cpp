// Drives the launcher's HTTP client, download window form and pings against
// a server, for the end-to-end tests. One command per run; results go to
// standard output as "key=value" lines.
//
//   http_probe get URL                      HttpGetNoReply
//   http_probe download URL TARGET          the configuration form
//   http_probe window URL TARGET MODE       the window form; MODE none,
//                                           cancel-connect or cancel-read
//   http_probe ping URL                     CZuduvizApp::SendPing
//   http_probe pings                        the four pings as the launcher
//                                           formats them, sent one by one
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "appobject/ZuduvizApp.h"
#include "telemetry/PingUrl.h"
#include "http/HttpClient.h"

namespace {

constexpr UINT kEndedMessage = WM_APP + 1;
constexpr UINT kCancelMessage = WM_APP + 2;
constexpr UINT_PTR kCancelTimer = 1;
constexpr UINT_PTR kGiveUpTimer = 2;

void Line(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
  std::fflush(stdout);
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 128 ? char(*text) : '?';
  return out;
}

long long FileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A plain window with a progress control, standing in for the update window.
class ProbeWindow : public update::DownloadSink {
 public:
  enum class Mode { kNone, kCancelConnect, kCancelRead };

  ProbeWindow(Mode mode) : mode_(mode) {}

  HWND UpdateWindow() override { return hwnd_; }
  HWND ProgressControl() override { return progress_; }
  void TransferEnded(int endCode) override { ::PostMessageW(hwnd_, kEndedMessage, endCode, 0); }

  int Run(const wchar_t* url, const wchar_t* target) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrlixProbeWindow";
    ::RegisterClassW(&wc);
    hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"probe", WS_POPUP | WS_VISIBLE, 100, 100, 470, 120, nullptr,
                              nullptr, wc.hInstance, this);
    progress_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 18, 58, 415, 23, hwnd_,
                                  nullptr, wc.hInstance, nullptr);
    if (!hwnd_ || !progress_) return 3;
    ::SetWindowSubclass(progress_, ProgressProc, 1, reinterpret_cast<DWORD_PTR>(this));
    RECT client;
    ::GetClientRect(hwnd_, &client);
    Line("client", std::to_string(client.right) + "," + std::to_string(client.bottom));

    base::CopyText(state_.url, url);
    base::CopyText(state_.targetPath, target);
    Line("start", update::StartDownload(&state_, this) ? "1" : "0");
    if (mode_ == Mode::kCancelConnect) ::SetTimer(hwnd_, kCancelTimer, 1500, nullptr);
    ::SetTimer(hwnd_, kGiveUpTimer, 90000, nullptr);
    MSG msg;
    while (!done_ && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    std::string reports;
    for (size_t i = 0; i < reports_.size(); ++i) reports += (i ? "," : "") + std::to_string(reports_[i]);
    Line("reports", reports);
    Line("placed", placed_);
    Line("result", std::to_string(state_.result));
    const bool clear = !state_.hTransferThread && !state_.hWatcherThread && !state_.file && !state_.hInternet &&
                       !state_.hConnect && !state_.hRequest;
    Line("fields", clear ? "clear" : "open");
    Line("size", std::to_string(FileSize(target)));
    if (FileSize(target) >= 0) {
      // The file must be closed: moving it fails while a stream holds it.
      std::wstring moved = std::wstring(target) + L".moved";
      const bool movable = ::MoveFileExW(target, moved.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
      if (movable) ::MoveFileExW(moved.c_str(), target, MOVEFILE_REPLACE_EXISTING);
      Line("closed", movable ? "1" : "0");
    }
    ::DestroyWindow(hwnd_);
    return 0;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProbeWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
      if (message == kEndedMessage) {
        Line("end", std::to_string(wParam));
        self->done_ = true;
        return 0;
      }
      if (message == kCancelMessage || (message == WM_TIMER && wParam == kCancelTimer)) {
        ::KillTimer(hwnd, kCancelTimer);
        self->Cancel();
        return 0;
      }
      if (message == WM_TIMER && wParam == kGiveUpTimer) {
        Line("end", "timeout");
        self->done_ = true;
        return 0;
      }
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }

  static LRESULT CALLBACK ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* self = reinterpret_cast<ProbeWindow*>(data);
    if (message == PBM_SETPOS) {
      if (self->reports_.empty()) {
        RECT rc;
        ::GetWindowRect(hwnd, &rc);
        POINT topLeft = {rc.left, rc.top};
        ::ScreenToClient(self->hwnd_, &topLeft);
        self->placed_ = std::to_string(topLeft.x) + "," + std::to_string(topLeft.y) + "," +
                        std::to_string(rc.right - rc.left) + "," + std::to_string(rc.bottom - rc.top);
      }
      self->reports_.push_back(int(wParam));
      if (self->mode_ == Mode::kCancelRead && self->reports_.size() == 1) {
        ::PostMessageW(self->hwnd_, kCancelMessage, 0, 0);
      }
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
  }

  void Cancel() {
    const bool cancelled = update::CancelDownload(&state_);
    Line("cancel", cancelled ? "1" : "0");
    Line("end", cancelled ? "2" : "none");
    done_ = cancelled;
  }

  Mode mode_;
  HWND hwnd_ = nullptr;
  HWND progress_ = nullptr;
  update::DownloadState state_;
  std::vector<int> reports_;
  std::string placed_ = "none";
  bool done_ = false;
};

int Ping(CZuduvizApp& app, const wchar_t* url) {
  wchar_t buffer[base::kUrlChars] = {};
  if (!base::CopyText(buffer, url)) return 2;
  const int sent = app.SendPing(buffer);
  // The caller may reuse its buffer as soon as SendPing returns.
  for (auto& c : buffer) c = L'X';
  const bool takenReset = ::WaitForSingleObject(app.m_hTakenEvent.get(), 0) == WAIT_TIMEOUT;
  const bool done = ::WaitForSingleObject(app.m_hDoneEvent.get(), 60000) == WAIT_OBJECT_0;
  Line("sent", std::to_string(sent));
  Line("taken_reset", takenReset ? "1" : "0");
  Line("done", done ? "1" : "0");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&icc);
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  if (command == L"get" && argc >= 3) {
    ::SetLastError(12345);
    const int result = update::HttpGetNoReply(argv[2]);
    const DWORD error = ::GetLastError();
    Line("result", std::to_string(result));
    Line("error", std::to_string(error));
    return 0;
  }
  if (command == L"download" && argc >= 4) {
    Line("result", std::to_string(update::DownloadToFile(argv[2], argv[3])));
    Line("size", std::to_string(FileSize(argv[3])));
    return 0;
  }
  if (command == L"window" && argc >= 5) {
    const std::wstring mode = argv[4];
    ProbeWindow window(mode == L"cancel-connect" ? ProbeWindow::Mode::kCancelConnect
                       : mode == L"cancel-read"  ? ProbeWindow::Mode::kCancelRead
                                                 : ProbeWindow::Mode::kNone);
    const int code = window.Run(argv[2], argv[3]);
    std::fflush(stdout);
    // A transfer thread that a cancel left in a blocking read under Wine must
    // not keep the process: end it here, as the launcher's run would.
    ::ExitProcess(code);
  }
  CZuduvizApp app;
  app.m_hTakenEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  app.m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (command == L"ping" && argc >= 3) return Ping(app, argv[2]);
  if (command == L"pings") {
    wchar_t url[base::kUrlChars];
    const telemetry::PingEvent counted[3] = {telemetry::PingEvent::kInstall, telemetry::PingEvent::kUpdate,
                                             telemetry::PingEvent::kUninstall};
    for (int i = 0; i < 3; ++i) {
      if (!telemetry::BuildCountPingUrl(counted[i], i + 1, url)) return 3;
      Line("url", Narrow(url));
      Ping(app, url);
      ::ResetEvent(app.m_hDoneEvent.get());  // only so that each ping's end is seen here
    }
    if (!telemetry::BuildActivityPingUrl(12, 0, 3, 5, L"20270105", L"0123456789abcdef0123456789abcdef", url)) return 3;
    Line("url", Narrow(url));
    Ping(app, url);
    ::ResetEvent(app.m_hDoneEvent.get());
    if (!telemetry::BuildActivityPingUrl(1, 0, 1, 1, L"", L"d41d8cd98f00b204e9800998ecf8427e", url)) return 3;
    Line("url", Narrow(url));
    return Ping(app, url);
  }
  return 2;
}
