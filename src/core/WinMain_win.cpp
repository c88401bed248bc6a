// Program entry of the launcher: hands over to the application object that
// static initialisation constructed.
#include <windows.h>

#include "app/AppBase.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
  return app::CWinAppBase::RunApplication(hInstance);
}
