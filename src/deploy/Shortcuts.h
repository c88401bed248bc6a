// The launcher's shell shortcuts (.lnk files): the game shortcut on the
// desktop and in the start-menu group "Orlix登录器", and the uninstall
// shortcut in that group, all pointing at the installed launcher.
//
// Shortcut names are file names with their ".lnk" ending, as the install
// layout spells them (layout::kGameShortcutName and friends). The creating
// functions need COM initialised on the calling thread; InstallLauncher and
// RemoveShortcuts do that around their calls.
#pragma once

#include <cstddef>

#include "product/InstallLayout.h"

namespace deploy {

// Arguments of the shortcuts; they select the run mode of the started launcher.
constexpr const wchar_t* kGameShortcutArguments = L"/TavrelD";
constexpr const wchar_t* kUninstallShortcutArguments = L"/uninst";
// Description (tooltip) of the desktop game shortcut.
constexpr const wchar_t* kGameShortcutDescription = L"OrlixDuskmere";

// Writes the shortcut file |linkPath| for |target| with |arguments|, the
// target's icon 0, the target's folder as working folder (empty when the
// target has no separator) and |description| when not null or empty.
// Returns 1 when the shortcut was saved, 0 when |linkPath| or |target| is
// null, a COM object cannot be obtained or a property or the save fails.
int CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* arguments,
                   const wchar_t* description);

// The desktop game shortcut for |target| (arguments "/TavrelD", description
// "OrlixDuskmere"). First deletes the game shortcut from the profile's
// original "Desktop" folder, so a re-installation replaces it and a desktop
// moved elsewhere keeps no stale copy. Returns CreateShortcut's result, or 0
// when |target| is null, empty or not an existing file, or the desktop
// folder cannot be found.
int CreateDesktopShortcut(const wchar_t* target);

// A shortcut named |name| in the start-menu group (made when missing).
// Returns CreateShortcut's result, or 0 when |name| or |target| is null or
// empty, |target| is not an existing file, or the programs folder cannot be
// found.
int CreateStartMenuShortcut(const wchar_t* name, const wchar_t* target, const wchar_t* arguments);

// Delete the shortcut file |name| from the desktop or the start-menu group.
// 1 when a file was deleted; 0 when none was, |name| is null or empty, or the
// folder cannot be found. Neither touches a folder.
int DeleteDesktopShortcut(const wchar_t* name);
int DeleteStartMenuShortcut(const wchar_t* name);

// Deletes the portal and game shortcuts from the desktop and the game and
// uninstall shortcuts from the start-menu group, then removes the group when
// no file is left in it (a group that still holds another game's shortcut, or
// cannot be listed, stays). Returns 1.
int RemoveShortcuts();

// Where the game shortcut lies when the desktop is at its original place: the
// parent of the documents folder (normally the profile folder), the desktop
// folder's last component with its backslash, then "\" and |shortcutName|.
// False, with |out| untouched, when either folder has no backslash or the
// path would not fit.
bool BuildStaleDesktopShortcutPath(const wchar_t* documentsFolder, const wchar_t* desktopFolder,
                                   const wchar_t* shortcutName, wchar_t (&out)[layout::kPathChars]);

}  // namespace deploy
