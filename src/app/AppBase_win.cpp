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

int CWinAppBase::ExitInstance() { return 0; }

CWinAppBase* CWinAppBase::Current() { return g_current; }

int CWinAppBase::RunApplication(HINSTANCE hInstance) {
  CWinAppBase* app = Current();
  if (!app) return 1;
  app->m_hInstance = hInstance;
  app->InitInstance();
  return app->ExitInstance();
}

}  // namespace app
