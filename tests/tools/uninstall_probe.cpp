// Helper for the uninstallation tests: plays the launcher after the player
// has confirmed the removal.
//   uninstall_probe RESOURCES RESULTFILE
// RESOURCES is the launcher executable whose dialog template and skin images
// the closing notice is drawn from. Runs RunUninstall; a second thread waits
// for the notice, writes its title and whether it has a second button to
// RESULTFILE (UTF-16) and presses its button. Then waits for the ping to
// finish (m_hDoneEvent, at most a minute). Exits with the notice's result,
// 97 when no notice was seen, 98 when the ping never finished.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>

#include "app/Window.h"
#include "appobject/ZuduvizApp.h"
#include "deploy/Uninstall.h"
#include "ui/SkinMessageBox.h"

namespace {

struct Dismisser {
  std::wstring resultFile;
  bool seen = false;
};

// An enumeration callback is CALLBACK (stdcall on i686), which a lambda's
// function pointer is not.
BOOL CALLBACK TakeVisibleDialog(HWND hwnd, LPARAM found) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[16] = {};
  ::GetClassNameW(hwnd, cls, 16);
  if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) && std::wcscmp(cls, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindVisibleDialog() {
  HWND found = nullptr;
  ::EnumWindows(TakeVisibleDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

DWORD WINAPI DismissNotice(void* p) {
  auto* dismisser = static_cast<Dismisser*>(p);
  for (int i = 0; i < 600; ++i) {  // a minute at most
    HWND box = FindVisibleDialog();
    if (box) {
      wchar_t title[128] = {};
      ::GetWindowTextW(box, title, 128);
      std::wstring record = std::wstring(title) + L"|" +
                            (::GetDlgItem(box, ui::kSecondButtonId) ? L"two buttons" : L"one button");
      HANDLE file = ::CreateFileW(dismisser->resultFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
        ::CloseHandle(file);
      }
      dismisser->seen = true;
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(ui::kFirstButtonId, BN_CLICKED), 0);
      return 0;
    }
    ::Sleep(100);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 96;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  app::SetResourceInstance(::LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE));

  CZuduvizApp app;
  app.m_hTakenEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  app.m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

  Dismisser dismisser;
  dismisser.resultFile = argv[2];
  HANDLE thread = ::CreateThread(nullptr, 0, DismissNotice, &dismisser, 0, nullptr);
  const int result = deploy::RunUninstall(app);
  ::WaitForSingleObject(thread, 60000);
  ::CloseHandle(thread);
  if (!dismisser.seen) return 97;
  if (::WaitForSingleObject(app.m_hDoneEvent.get(), 60000) != WAIT_OBJECT_0) return 98;
  return result;
}
