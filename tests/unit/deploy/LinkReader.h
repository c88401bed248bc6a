// Reads a .lnk file back through IShellLinkW, for the shortcut tests.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "base/UniqueHandle.h"

namespace deploy_test {

struct LinkFields {
  std::wstring target, arguments, workingFolder, iconPath, description;
  int iconIndex = -1;
};

// True when |linkPath| loaded; COM must be initialised on the thread.
inline bool ReadLink(const std::wstring& linkPath, LinkFields* out) {
  base::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return false;
  }
  base::ComPtr<IPersistFile> file;
  if (FAILED(link.As(IID_IPersistFile, &file)) || FAILED(file->Load(linkPath.c_str(), STGM_READ))) return false;
  wchar_t text[1024];
  // SLGP_RAWPATH: the path as stored, without resolving it.
  text[0] = 0;
  link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
  out->target = text;
  text[0] = 0;
  link->GetArguments(text, 1024);
  out->arguments = text;
  text[0] = 0;
  link->GetWorkingDirectory(text, 1024);
  out->workingFolder = text;
  text[0] = 0;
  link->GetIconLocation(text, 1024, &out->iconIndex);
  out->iconPath = text;
  text[0] = 0;
  link->GetDescription(text, 1024);
  out->description = text;
  return true;
}

}  // namespace deploy_test
