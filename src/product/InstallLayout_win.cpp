#include "product/InstallLayout.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "base/UniqueHandle.h"

namespace layout {

namespace {

bool GetShellFolder(int csidl, wchar_t (&out)[kPathChars]) {
  wchar_t folder[kPathChars] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder))) return false;
  return base::CopyText(out, folder);
}

bool ShellFolderJoin(int csidl, const wchar_t* tail, wchar_t (&out)[kPathChars]) {
  wchar_t path[kPathChars] = {};
  if (!GetShellFolder(csidl, path)) return false;
  if (!base::AppendText(path, tail)) return false;
  return base::CopyText(out, path);
}

}  // namespace

int GetExeFolderPath(wchar_t (&out)[kPathChars], const wchar_t* fileName) {
  wchar_t exe[kPathChars] = {};
  DWORD n = ::GetModuleFileNameW(nullptr, exe, kPathChars);
  out[0] = L'\0';
  // A full buffer means the path was cut (ERROR_INSUFFICIENT_BUFFER): refuse it.
  if (n == 0 || n >= kPathChars) return 0;
  wchar_t* slash = std::wcsrchr(exe, L'\\');
  if (!slash) return 0;
  if (fileName) {
    slash[1] = L'\0';
    if (!base::AppendText(exe, fileName)) return 0;
  }
  return base::CopyText(out, exe) ? 1 : 0;
}

int CreateDirectoryTree(const wchar_t* path) {
  if (!path || std::wcslen(path) < 4) return 0;
  // Only a plain folder counts as present; a folder with further attribute
  // bits is tried again and CreateDirectoryW fails harmlessly on it.
  if (::GetFileAttributesW(path) != FILE_ATTRIBUTE_DIRECTORY) {
    wchar_t parent[kPathChars] = {};
    if (GetFolderPart(path, parent)) CreateDirectoryTree(parent);
    ::CreateDirectoryW(path, nullptr);
  }
  return 1;
}

int CountFiles(const wchar_t* folder) {
  if (!folder || !folder[0]) return 0;
  std::size_t len = std::wcslen(folder);
  bool endsWithSlash = folder[len - 1] == L'\\';

  wchar_t pattern[kPathChars] = {};
  if (!base::JoinText(pattern, folder, endsWithSlash ? L"" : L"\\", L"*")) return 1;

  WIN32_FIND_DATAW data;
  base::UniqueFind find(::FindFirstFileW(pattern, &data));
  if (!find) return 1;

  int count = 0;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
      wchar_t sub[kPathChars] = {};
      // A subtree whose path would not fit cannot be listed: it counts as 1.
      count += base::JoinText(sub, folder, endsWithSlash ? L"" : L"\\", data.cFileName) ? CountFiles(sub) : 1;
    } else {
      ++count;
    }
  } while (::FindNextFileW(find.get(), &data));
  return count;
}

int IsDirectory(const wchar_t* path) {
  if (!path) return 0;
  DWORD attrs = ::GetFileAttributesW(path);
  return (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
}

int FileExists(const wchar_t* path) {
  if (!path) return 0;
  DWORD attrs = ::GetFileAttributesW(path);
  return (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
}

bool GetLocalAppDataFolder(wchar_t (&out)[kPathChars]) { return GetShellFolder(CSIDL_LOCAL_APPDATA, out); }

bool GetMakerFolder(wchar_t (&out)[kPathChars]) { return ShellFolderJoin(CSIDL_LOCAL_APPDATA, kMakerSubPath, out); }

bool GetInstallFolder(wchar_t (&out)[kPathChars]) {
  wchar_t path[kPathChars] = {};
  if (!GetMakerFolder(path) || !base::AppendText(path, kInstallSubFolder)) return false;
  return base::CopyText(out, path);
}

bool GetInstallFilePath(wchar_t (&out)[kPathChars], const wchar_t* fileName) {
  wchar_t path[kPathChars] = {};
  if (!GetInstallFolder(path) || !base::AppendText(path, L"\\", fileName)) return false;
  return base::CopyText(out, path);
}

bool GetStatisticsFilePath(wchar_t (&out)[kPathChars]) {
  return ShellFolderJoin(CSIDL_LOCAL_APPDATA, kStatisticsSubPath, out);
}

bool GetDesktopFolder(wchar_t (&out)[kPathChars]) { return GetShellFolder(CSIDL_DESKTOPDIRECTORY, out); }

bool GetStartMenuGroupFolder(wchar_t (&out)[kPathChars]) {
  return ShellFolderJoin(CSIDL_PROGRAMS, kStartMenuGroup, out);
}

bool GetDumpFolderPath(wchar_t (&out)[kPathChars]) { return ShellFolderJoin(CSIDL_PERSONAL, kDumpSubPath, out); }

bool EnsureInstallFolder(wchar_t (&installFolder)[kPathChars]) {
  wchar_t path[kPathChars] = {};
  if (!GetLocalAppDataFolder(path)) return false;
  // One level at a time; "already exists" is the usual result and is ignored.
  for (const wchar_t* level : {kOrlixSubFolder, kGameLoginSubFolder, kInstallSubFolder}) {
    if (!base::AppendText(path, level)) return false;
    ::CreateDirectoryW(path, nullptr);
  }
  return base::CopyText(installFolder, path);
}

bool EnsureInstallFolder() {
  wchar_t ignored[kPathChars];
  return EnsureInstallFolder(ignored);
}

}  // namespace layout
