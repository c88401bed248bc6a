#include <windows.h>

#include <cwchar>

#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "appobject/ZuduvizApp.h"
#include "deploy/Install.h"
#include "deploy/Shortcuts.h"

namespace deploy {

namespace {

using layout::kPathChars;

// The launcher's own path as the system gives it; false when it does not fit
// a path buffer (GetModuleFileNameW cuts it then).
bool GetOwnPath(wchar_t (&out)[kPathChars]) {
  DWORD n = ::GetModuleFileNameW(nullptr, out, kPathChars);
  return n != 0 && n < kPathChars;
}

void MakeShortcuts(const wchar_t* target) {
  base::ScopedCoInitialize com;
  CreateDesktopShortcut(target);
  CreateStartMenuShortcut(layout::kGameShortcutName, target, kGameShortcutArguments);
  CreateStartMenuShortcut(layout::kUninstallShortcutName, target, kUninstallShortcutArguments);
}

}  // namespace

int InstallLauncher(CZuduvizApp& app, int* gamePresent) {
  wchar_t ownPath[kPathChars] = {};
  const bool haveOwnPath = GetOwnPath(ownPath);

  // Local app data\Orlix, \GameLogin, \Tavrel, one level at a time.
  wchar_t installFolder[kPathChars] = {};
  if (!layout::EnsureInstallFolder(installFolder)) {
    if (gamePresent) *gamePresent = 0;
    return 1;
  }

  wchar_t target[kPathChars] = {};
  wchar_t gamePath[kPathChars] = {};
  const bool haveTarget = base::JoinText(target, installFolder, L"\\", layout::kLauncherExeName);
  const bool haveGamePath = base::JoinText(gamePath, installFolder, L"\\", layout::kGameExeName);

  // Looked at before anything is copied: an earlier installation's game.
  if (gamePresent) *gamePresent = (haveGamePath && layout::FileExists(gamePath)) ? 1 : 0;

  // This executable's own name in the install folder: when that is where it
  // runs from, the installed launcher is running and is left as it is.
  if (haveOwnPath && haveTarget) {
    const wchar_t* ownName = std::wcsrchr(ownPath, L'\\');
    wchar_t samePlace[kPathChars] = {};
    const bool runsInstalled = ownName && base::JoinText(samePlace, installFolder, ownName) &&
                               base::EqualsIgnoreAsciiCase(samePlace, ownPath);
    if (!runsInstalled) ::CopyFileW(ownPath, target, FALSE);  // a failed copy leaves nothing to link
  }

  if (haveTarget) {
    MakeShortcuts(target);
    app.StartProgram(target);
  }
  return 1;
}

}  // namespace deploy
