// The application object layer: one object per process, constructed during
// static initialisation, entered through RunApplication by the program entry.
// Like MFC's CWinApp, InitInstance does the work and ExitInstance's result is
// the exit code. The launcher's InitInstance always returns FALSE (every window
// it shows runs its own modal loop), so this layer has no message loop: the
// run ends with ExitInstance whatever InitInstance returned.
#pragma once

#include <windows.h>

namespace app {

class CWinAppBase {
 public:
  CWinAppBase();
  virtual ~CWinAppBase();
  CWinAppBase(const CWinAppBase&) = delete;
  CWinAppBase& operator=(const CWinAppBase&) = delete;

  // The whole start-up.
  virtual BOOL InitInstance();
  // Called once when the run ends; the result becomes the process exit code.
  virtual int ExitInstance();

  // The one application object of the process, or null.
  static CWinAppBase* Current();

  HINSTANCE instance() const { return m_hInstance; }

  // Program entry: records |hInstance|, calls InitInstance and then
  // ExitInstance, and returns ExitInstance's result.
  static int RunApplication(HINSTANCE hInstance);

 protected:
  HINSTANCE m_hInstance = nullptr;
};

}  // namespace app
