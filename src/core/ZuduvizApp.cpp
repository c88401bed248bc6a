#include "core/ZuduvizApp.h"

#include <commctrl.h>

#include "core/InstallLayout.h"
#include "core/RunMode.h"

CZuduvizApp::CZuduvizApp() = default;

CZuduvizApp::~CZuduvizApp() = default;

BOOL CZuduvizApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = 8;
  icc.dwICC = 0xFF;  // every Windows 95 common control class
  ::InitCommonControlsEx(&icc);

  app::CWinAppBase::InitInstance();

  const int mode = core::GetRunMode();
  (void)mode;

  m_hTakenEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return FALSE;
}

int CZuduvizApp::ExitInstance() {
  m_hTakenEvent.reset();
  m_hDoneEvent.reset();
  return app::CWinAppBase::ExitInstance();
}

void CZuduvizApp::StartProgram(const wchar_t* path) {
  // CreateProcessW may write into its command line, so it gets its own copy.
  wchar_t commandLine[layout::kPathChars] = {};
  if (path) {
    if (!base::CopyText(commandLine, path)) return;
  } else {
    DWORD n = ::GetModuleFileNameW(nullptr, commandLine, layout::kPathChars);
    if (n == 0 || n >= layout::kPathChars) return;
  }
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi = {};
  if (::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr, nullptr, &si,
                       &pi)) {
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
}
