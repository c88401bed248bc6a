// LaunchGame with the player's real prompts: the skinned message box and
// the default browser.
#include <windows.h>
#include <shellapi.h>

#include "diagnostics/GameLaunch.h"
#include "ui/MessageBox.h"

namespace diagnostics {

namespace {

void OpenInBrowser(const wchar_t* url) { ::ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_HIDE); }

}  // namespace

void LaunchGame() {
  PlayerPrompts prompts;
  prompts.showMessage = ui::ShowMessageBox;
  prompts.openPage = OpenInBrowser;
  LaunchGameWith(prompts);
}

}  // namespace diagnostics
