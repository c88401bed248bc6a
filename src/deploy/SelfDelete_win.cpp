#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/Process.h"
#include "base/FixedText.h"
#include "base/TextConversion.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/SelfDelete.h"
#include "deploy/SelfDeleteScript.h"

namespace deploy {

namespace {

using layout::kPathChars;

// GetShortPathNameW of an existing path; empty when the system has none.
std::wstring ShortForm(const std::wstring& path) {
  wchar_t buffer[kPathChars] = {};
  DWORD n = ::GetShortPathNameW(path.c_str(), buffer, kPathChars);
  return (n == 0 || n >= kPathChars) ? std::wstring() : std::wstring(buffer, n);
}

std::wstring LongForm(const std::wstring& path) {
  wchar_t buffer[kPathChars] = {};
  DWORD n = ::GetLongPathNameW(path.c_str(), buffer, kPathChars);
  return (n == 0 || n >= kPathChars) ? path : std::wstring(buffer, n);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

}  // namespace

long AppendTextToFile(const char* text, const char* path) {
  if (!text || !path) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  base::UniqueFile file(
      ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  // INVALID_SET_FILE_POINTER is also a valid low part of a large offset; only
  // a nonzero last error tells a failure.
  ::SetLastError(NO_ERROR);
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) {
    DWORD error = ::GetLastError();
    file.reset();
    ::SetLastError(error);
    return -1;
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr)) {
    DWORD error = ::GetLastError();
    file.reset();
    ::SetLastError(error);
    return -1;
  }
  return static_cast<long>(written);
}

bool ToCodePageExact(unsigned codePage, const std::wstring& text, std::string* out) {
  if (text.empty()) {
    out->clear();
    return true;
  }
  const int chars = static_cast<int>(text.size());
  // No best-fit mapping ("é" must not silently become "e"). Code pages such as
  // UTF-8 and GB18030 refuse that flag; they map every character anyway.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int n = ::WideCharToMultiByte(codePage, flags, text.data(), chars, nullptr, 0, nullptr, nullptr);
  if (n <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    n = ::WideCharToMultiByte(codePage, flags, text.data(), chars, nullptr, 0, nullptr, nullptr);
  }
  if (n <= 0) return false;
  std::string narrow(static_cast<std::size_t>(n), '\0');
  if (::WideCharToMultiByte(codePage, flags, text.data(), chars, &narrow[0], n, nullptr, nullptr) != n) return false;
  // The round trip catches every replacement, whatever the code page's
  // default character is.
  if (diagnostics::CodePageToWide(codePage, narrow) != text) return false;
  *out = std::move(narrow);
  return true;
}

bool PathForCodePage(unsigned codePage, const std::wstring& path, std::wstring* usable) {
  std::string narrow;
  if (ToCodePageExact(codePage, path, &narrow)) {
    *usable = path;
    return true;
  }
  std::wstring shortPath = ShortForm(path);
  if (shortPath.empty()) {
    // Not there yet: the folder's short form with the path's own name.
    std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    std::wstring folder = ShortForm(path.substr(0, slash));
    if (folder.empty()) return false;
    shortPath = folder + path.substr(slash);
  }
  // Without 8.3 names on the volume the "short" form is the long one again.
  if (!ToCodePageExact(codePage, shortPath, &narrow)) return false;
  *usable = shortPath;
  return true;
}

bool IsSameFolder(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  const std::wstring longA = WithoutTrailingSlash(LongForm(a));
  const std::wstring longB = WithoutTrailingSlash(LongForm(b));
  return ::CompareStringOrdinal(longA.c_str(), static_cast<int>(longA.size()), longB.c_str(),
                                static_cast<int>(longB.size()), TRUE) == CSTR_EQUAL;
}

bool BuildSelfDeleteScriptText(const std::wstring& launcherPath, const std::wstring& launcherFolder,
                               const std::wstring& scriptPath, char* text, std::size_t textBytes) {
  std::wstring exe, folder, script;
  if (!PathForCodePage(CP_OEMCP, launcherPath, &exe) || !PathForCodePage(CP_OEMCP, launcherFolder, &folder) ||
      !PathForCodePage(CP_OEMCP, scriptPath, &script)) {
    return false;
  }
  std::string narrow;
  if (!ToCodePageExact(CP_OEMCP, FormatSelfDeleteScript(exe, folder, script), &narrow)) return false;
  if (!text || narrow.size() + 1 > textBytes) return false;
  std::memcpy(text, narrow.c_str(), narrow.size() + 1);
  return true;
}

bool StartSelfDelete(std::string* scriptPathOut) {
  // The running launcher and its folder.
  wchar_t launcher[kPathChars] = {};
  DWORD n = ::GetModuleFileNameW(nullptr, launcher, kPathChars);
  if (n == 0 || n >= kPathChars) return false;
  wchar_t launcherFolder[kPathChars] = {};
  if (!layout::GetFolderPart(launcher, launcherFolder)) return false;

  // The script deletes the launcher's folder with everything in it, so it is
  // made only for the installed launcher: started from anywhere else, the
  // folder is the player's own (a download folder, the desktop).
  wchar_t installFolder[kPathChars] = {};
  if (!layout::GetInstallFolder(installFolder) || !IsSameFolder(launcherFolder, installFolder)) return false;

  // Temporary folder as GetTempPathA gives it, when that is exactly the
  // folder GetTempPathW names; else its short form, when the ANSI code page
  // holds that.
  char tempFolder[MAX_PATH + 1] = {};
  DWORD tempChars = ::GetTempPathA(MAX_PATH + 1, tempFolder);
  if (tempChars == 0 || tempChars > MAX_PATH) return false;
  wchar_t tempFolderWide[MAX_PATH + 1] = {};
  DWORD tempWideChars = ::GetTempPathW(MAX_PATH + 1, tempFolderWide);
  if (tempWideChars == 0 || tempWideChars > MAX_PATH) return false;
  if (diagnostics::CodePageToWide(CP_ACP, tempFolder) != tempFolderWide) {
    std::wstring usable;
    std::string narrow;
    if (!PathForCodePage(CP_ACP, tempFolderWide, &usable) || !ToCodePageExact(CP_ACP, usable, &narrow) ||
        narrow.size() + 1 > sizeof(tempFolder)) {
      return false;
    }
    std::memcpy(tempFolder, narrow.c_str(), narrow.size() + 1);
  }

  // "DelXXXX.tmp" (an empty unique file, which stays) with ".bat" appended.
  char uniqueName[MAX_PATH] = {};
  if (!::GetTempFileNameA(tempFolder, layout::kSelfDeletePrefix, 0, uniqueName)) return false;
  const std::string scriptPath = std::string(uniqueName) + ".bat";
  // The unique file reserves the name while the script exists; when no
  // script comes of it, it goes again.
  auto refuse = [&uniqueName]() {
    ::DeleteFileA(uniqueName);
    return false;
  };
  if (scriptPath.size() + 1 > MAX_PATH) return refuse();
  // The script is appended to its file; a stale file of the same name from
  // an earlier run must not run before it.
  ::DeleteFileA(scriptPath.c_str());
  if (::GetFileAttributesA(scriptPath.c_str()) != INVALID_FILE_ATTRIBUTES) return refuse();

  char text[kSelfDeleteScriptBytes] = {};
  if (!BuildSelfDeleteScriptText(launcher, launcherFolder, diagnostics::CodePageToWide(CP_ACP, scriptPath), text,
                                 sizeof(text))) {
    return refuse();
  }
  // Only a complete script runs; a cut one is removed.
  if (AppendTextToFile(text, scriptPath.c_str()) != static_cast<long>(std::strlen(text))) {
    ::DeleteFileA(scriptPath.c_str());
    return refuse();
  }

  // Quoted: unquoted, a temporary folder with a space ("C:\Users\Ann Lee\...")
  // would make CreateProcess try "C:\Users\Ann.exe" first and hand cmd a
  // broken command.
  char commandLine[MAX_PATH + 3] = {};
  std::snprintf(commandLine, sizeof(commandLine), "\"%s\"", scriptPath.c_str());
  base::ProcessStart how;
  how.show = SW_HIDE;  // the console cmd gets stays hidden
  base::OwnedProcess started;
  // The system runs a .bat through its cmd.exe; for the 32-bit launcher on
  // 64-bit Windows System32 redirects to SysWOW64, whose 32-bit cmd.exe reads
  // the script the same way (OEM code page).
  // Started in the temporary folder, not in the launcher's current folder
  // (the install folder when started from the uninstall shortcut): a process
  // whose current folder is the install folder keeps it from being removed,
  // and so would the console host that Wine starts beside cmd with the same
  // current folder.
  if (!base::StartProcess(commandLine, tempFolder, how, &started)) {
    ::DeleteFileA(scriptPath.c_str());
    return refuse();
  }
  ::SetThreadPriority(started.thread.get(), THREAD_PRIORITY_IDLE);
  if (scriptPathOut) *scriptPathOut = scriptPath;
  return true;
}

}  // namespace deploy
