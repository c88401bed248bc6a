#include "TestSupport.h"

#include <shlobj.h>

#include <cwchar>

#include "base/UniqueHandle.h"

namespace testing_support {

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  static unsigned counter = 0;
  wchar_t name[64];
  swprintf(name, 64, L"orlix-test-%lu-%u", ::GetCurrentProcessId(), ++counter);
  path_ = std::wstring(temp) + name;
  RemoveTree(path_);
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool RemoveTree(const std::wstring& path) {
  DWORD attrs = ::GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) != 0;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L"..")) continue;
      RemoveTree(path + L"\\" + data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::RemoveDirectoryW(path.c_str()) != 0;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(f);
  return ok && written == bytes.size();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(f, buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
  ::CloseHandle(f);
  *bytes = out;
  return true;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  return SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) ? path : L"";
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring TestToolPath(const wchar_t* name) {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  folder.resize(folder.find_last_of(L'\\'));
  return folder + L"\\testtools\\" + name;
}

std::wstring OtherArchToolPath(const wchar_t* name) {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  folder.resize(folder.find_last_of(L'\\'));   // the build tree
  folder.resize(folder.find_last_of(L'\\'));   // build/
  return folder + L"\\" ORLIX_OTHER_ARCH_TREE L"\\testtools\\" + name;
}

bool RegistryHasTwoViews() {
  if (sizeof(void*) == 8) return true;
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool MachineKeyExists(const std::wstring& subKey, REGSAM view) {
  base::UniqueHKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

bool CreateMachineKey(const std::wstring& subKey, REGSAM view) {
  base::UniqueHKey key;
  return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, key.put(),
                           nullptr) == ERROR_SUCCESS;
}

void DeleteMachineKeyTree(const std::wstring& subKey, REGSAM view) {
  {
    base::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0,
                        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                        key.put()) != ERROR_SUCCESS) {
      return;
    }
    ::RegDeleteTreeW(key.get(), nullptr);
  }
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), view, 0);
}

long RunProgram(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir, DWORD timeoutMs) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
    return -1;
  }
  ::CloseHandle(pi.hThread);
  long result = -1;
  if (::WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (::GetExitCodeProcess(pi.hProcess, &code)) result = static_cast<long>(code);
  } else {
    ::TerminateProcess(pi.hProcess, 1);
  }
  ::CloseHandle(pi.hProcess);
  return result;
}

}  // namespace testing_support
