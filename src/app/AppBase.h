// The application object layer: one object per process, constructed during
// static initialisation, entered through RunApplication by the program entry.
// Like MFC's CWinApp: InitInstance does the work; when it returns FALSE no
// message loop runs, ExitInstance runs and its result is the exit code.
#pragma once

#include <windows.h>

namespace app {

class CWinAppBase {
 public:
  CWinAppBase();
  virtual ~CWinAppBase();
  CWinAppBase(const CWinAppBase&) = delete;
  CWinAppBase& operator=(const CWinAppBase&) = delete;

  // The whole start-up; TRUE enters the message loop.
  virtual BOOL InitInstance();
  // Called once when the run ends; the result becomes the process exit code.
  virtual int ExitInstance();

  // The one application object of the process, or null.
  static CWinAppBase* Current();

  HINSTANCE instance() const { return m_hInstance; }

  // Program entry: records |hInstance|, calls InitInstance, runs the message
  // loop if it returned TRUE, and returns ExitInstance's result.
  static int RunApplication(HINSTANCE hInstance);

 protected:
  // Pumps messages until WM_QUIT; returns its exit code.
  int RunMessageLoop();

  HINSTANCE m_hInstance = nullptr;
  int m_nQuitCode = 0;
};

}  // namespace app
