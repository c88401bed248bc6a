#include "app/AppBase.h"

namespace app {

namespace {
CWinAppBase* g_current = nullptr;
}

CWinAppBase::CWinAppBase() {
  // The first object constructed is the application; a second one (never
  // made by the launcher) does not replace it.
  if (!g_current) g_current = this;
}

CWinAppBase::~CWinAppBase() {
  if (g_current == this) g_current = nullptr;
}

BOOL CWinAppBase::InitInstance() { return TRUE; }

int CWinAppBase::ExitInstance() { return m_nQuitCode; }

CWinAppBase* CWinAppBase::Current() { return g_current; }

int CWinAppBase::RunMessageLoop() {
  MSG msg;
  BOOL got;
  while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (got == 0) m_nQuitCode = static_cast<int>(msg.wParam);
  return ExitInstance();
}

int CWinAppBase::RunApplication(HINSTANCE hInstance) {
  CWinAppBase* app = Current();
  if (!app) return 1;
  app->m_hInstance = hInstance;
  if (!app->InitInstance()) return app->ExitInstance();
  return app->RunMessageLoop();
}

}  // namespace app
