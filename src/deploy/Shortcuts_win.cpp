#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/Shortcuts.h"

namespace deploy {

namespace {

using layout::kPathChars;

// A shortcut target must be an existing file whose path fits a path buffer.
bool IsUsableTarget(const wchar_t* target) {
  return target && target[0] && std::wcslen(target) < kPathChars && layout::FileExists(target);
}

bool StartMenuShortcutPath(const wchar_t* name, wchar_t (&out)[kPathChars]) {
  wchar_t group[kPathChars] = {};
  if (!layout::GetStartMenuGroupFolder(group)) return false;
  wchar_t path[kPathChars] = {};
  if (!base::JoinText(path, group, L"\\", name)) return false;
  return base::CopyText(out, path);
}

}  // namespace

int CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* arguments,
                   const wchar_t* description) {
  if (!linkPath || !target) return 0;
  // Owners in creation order: the persist-file interface is released first.
  base::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return 0;
  }
  base::ComPtr<IPersistFile> file;
  if (FAILED(link.As(IID_IPersistFile, &file))) return 0;

  // The working folder is the target's folder; a target without separator
  // leaves it empty.
  wchar_t workingFolder[kPathChars] = {};
  layout::GetFolderPart(target, workingFolder);

  if (FAILED(link->SetPath(target)) || FAILED(link->SetIconLocation(target, 0)) ||
      FAILED(link->SetArguments(arguments ? arguments : L"")) ||
      (description && description[0] && FAILED(link->SetDescription(description))) ||
      FAILED(link->SetWorkingDirectory(workingFolder))) {
    return 0;
  }
  // Remember flag TRUE: the saved file becomes the link's current file.
  return SUCCEEDED(file->Save(linkPath, TRUE)) ? 1 : 0;
}

int CreateDesktopShortcut(const wchar_t* target) {
  if (!IsUsableTarget(target)) return 0;
  wchar_t desktop[kPathChars] = {};
  if (!layout::GetDesktopFolder(desktop)) return 0;

  // The game shortcut at the desktop's original place beside the documents
  // folder: normally the very file about to be written (so a re-installation
  // replaces it), or the one left behind when the desktop was moved.
  wchar_t documents[kPathChars] = {};
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents))) {
    wchar_t stale[kPathChars] = {};
    if (BuildStaleDesktopShortcutPath(documents, desktop, layout::kGameShortcutName, stale)) {
      ::DeleteFileW(stale);  // usually absent
    }
  }

  wchar_t linkPath[kPathChars] = {};
  if (!base::JoinText(linkPath, desktop, L"\\", layout::kGameShortcutName)) return 0;
  return CreateShortcut(target, linkPath, kGameShortcutArguments, kGameShortcutDescription);
}

int CreateStartMenuShortcut(const wchar_t* name, const wchar_t* target, const wchar_t* arguments) {
  if (!name || !name[0] || !IsUsableTarget(target)) return 0;
  wchar_t group[kPathChars] = {};
  if (!layout::GetStartMenuGroupFolder(group)) return 0;
  ::CreateDirectoryW(group, nullptr);  // usually there already
  wchar_t linkPath[kPathChars] = {};
  if (!base::JoinText(linkPath, group, L"\\", name)) return 0;
  return CreateShortcut(target, linkPath, arguments, nullptr);
}

int DeleteDesktopShortcut(const wchar_t* name) {
  if (!name || !name[0]) return 0;
  wchar_t desktop[kPathChars] = {};
  wchar_t linkPath[kPathChars] = {};
  if (!layout::GetDesktopFolder(desktop) || !base::JoinText(linkPath, desktop, L"\\", name)) return 0;
  return ::DeleteFileW(linkPath) ? 1 : 0;
}

int DeleteStartMenuShortcut(const wchar_t* name) {
  if (!name || !name[0]) return 0;
  wchar_t linkPath[kPathChars] = {};
  if (!StartMenuShortcutPath(name, linkPath)) return 0;
  return ::DeleteFileW(linkPath) ? 1 : 0;
}

int RemoveShortcuts() {
  base::ScopedCoInitialize com;
  DeleteDesktopShortcut(layout::kPortalShortcutName);
  DeleteDesktopShortcut(layout::kGameShortcutName);
  DeleteStartMenuShortcut(layout::kGameShortcutName);
  DeleteStartMenuShortcut(layout::kUninstallShortcutName);

  // The group is shared with the maker's other games: it goes only when
  // nothing is left in it (CountFiles gives 1 for a group it cannot list).
  wchar_t group[kPathChars] = {};
  if (layout::GetStartMenuGroupFolder(group) && layout::IsDirectory(group) && layout::CountFiles(group) == 0) {
    ::RemoveDirectoryW(group);
  }
  return 1;
}

}  // namespace deploy
