// Shows one of the launcher's skinned windows and exits with its end code.
//
//   show_windows box STYLE TEXT CAPTION [FIRST SECOND]   a message box
//   show_windows product N                              the launcher's message N (0..3)
//   show_windows update URL TARGET [PERCENT]            the update window
//
// The windows load their templates and images from Tavrel_Launcher.exe,
// found beside this program or one folder up. With PERCENT the update window's
// bar is set to that position (and placed in the middle, as the first progress
// report places it) once the window is up; the download itself runs as usual.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <cstdlib>
#include <string>

#include "app/Window.h"
#include "base/FixedText.h"
#include "ui/MessageBox.h"
#include "ui/ClientUpdDlg.h"

namespace {

bool LoadLauncherResources() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  dir.resize(dir.find_last_of(L'\\') + 1);
  for (const wchar_t* candidate : {L"Tavrel_Launcher.exe", L"..\\Tavrel_Launcher.exe"}) {
    HMODULE m = ::LoadLibraryExW((dir + candidate).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m) {
      app::SetResourceInstance(m);
      return true;
    }
  }
  return false;
}

struct ProductMessage {
  const wchar_t* text;
  const wchar_t* caption;
  int style;
  const wchar_t* first;
  const wchar_t* second;
};

const ProductMessage kProductMessages[] = {
    {L"当前网络不可用，请检查网络连接是否正常！", L"OrlixDuskmere", 0, L"", L""},
    {L"确定要移除 OrlixDuskmere吗？", L"OrlixDuskmere", 4, L"", L""},
    {L"OrlixDuskmere已成功移除，部分文件将在程序退出\r\n或计算机重启后自行删除", L"OrlixDuskmere", 0, L"", L""},
    {L"游戏启动异常(2)", L"Duskmere3.0.1.5", 4, L"确定", L"查看帮助"},
};

struct PercentSetter {
  update::CClientUpdDlg* dialog;
  int percent;
};

DWORD WINAPI SetPercentWhenShown(void* p) {
  auto* job = static_cast<PercentSetter*>(p);
  for (int i = 0; i < 500; ++i) {
    HWND window = job->dialog->m_hWnd;
    HWND bar = window ? ::GetDlgItem(window, update::kUpdateProgressId) : nullptr;
    if (bar && ::IsWindowVisible(window)) {
      RECT client = {};
      ::GetClientRect(window, &client);
      ::MoveWindow(bar, (client.right - 390) / 2, (client.bottom - 21) / 2 + 10, 390, 21, TRUE);
      ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(job->percent), 0);
      return 0;
    }
    ::Sleep(20);
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  if (argc < 2 || !LoadLauncherResources()) return 100;
  const std::wstring what = argv[1];
  if (what == L"box" && argc >= 5) {
    return ui::ShowMessageBox(argv[3], argv[4], _wtoi(argv[2]), argc > 5 ? argv[5] : L"", argc > 6 ? argv[6] : L"");
  }
  if (what == L"product" && argc >= 3) {
    const int n = _wtoi(argv[2]);
    if (n < 0 || n > 3) return 101;
    const ProductMessage& m = kProductMessages[n];
    return ui::ShowMessageBox(m.text, m.caption, m.style, m.first, m.second);
  }
  if (what == L"update" && argc >= 4) {
    static update::CClientUpdDlg dialog;
    if (!base::CopyText(dialog.m_download.url, argv[2]) || !base::CopyText(dialog.m_download.targetPath, argv[3]))
      return 102;
    PercentSetter job = {&dialog, argc > 4 ? _wtoi(argv[4]) : -1};
    HANDLE setter = nullptr;
    if (job.percent >= 0) setter = ::CreateThread(nullptr, 0, SetPercentWhenShown, &job, 0, nullptr);
    const INT_PTR result = dialog.DoModal();
    if (setter) {
      ::WaitForSingleObject(setter, 15000);
      ::CloseHandle(setter);
    }
    return static_cast<int>(result);
  }
  return 103;
}
