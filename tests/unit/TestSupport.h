// Helpers shared by the Windows tests: scratch folders, small files, and
// starting the helper programs built into build/<arch>/testtools.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the temporary folder, removed with all its contents
// when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Removes a file or a whole folder tree; true when nothing is left.
bool RemoveTree(const std::wstring& path);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string* bytes);

// A shell folder (SHGetFolderPathW), or empty when the shell has none.
std::wstring ShellFolder(int csidl);

// True when a file or folder is at |path|.
bool Exists(const std::wstring& path);

// Full path of a helper program built beside the tests.
std::wstring TestToolPath(const wchar_t* name);

// The same helper program built for the other architecture (x86_64 for the
// i686 tests and the other way round), in the sibling build tree.
std::wstring OtherArchToolPath(const wchar_t* name);

// True on 64-bit Windows, where HKEY_LOCAL_MACHINE\Software has a 32-bit
// and a 64-bit view; 32-bit Windows has one and ignores the view flags.
bool RegistryHasTwoViews();

// Machine keys (HKEY_LOCAL_MACHINE) in a chosen registry view,
// KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool MachineKeyExists(const std::wstring& subKey, REGSAM view);
bool CreateMachineKey(const std::wstring& subKey, REGSAM view);
void DeleteMachineKeyTree(const std::wstring& subKey, REGSAM view);

// Runs |exe| with |arguments| (already quoted as needed) from |workDir|
// (empty: the caller's), waits up to |timeoutMs| and returns its exit code,
// or -1 when it could not be started or did not end in time.
long RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir = L"",
                DWORD timeoutMs = 60000);

}  // namespace testing_support
