#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/UniqueHandle.h"

namespace {

std::wstring Lower(std::wstring text) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// Puts the prepared Wine prefix back after every case: the cases run in it
// one after another (CTest starts each in the same build/wineprefix), and the
// end-to-end tests copy it, so a key or file one case leaves would be there
// for every later test. Whatever a case (or a program it started) added
// directly below the places the launcher writes to, the registry's
// "Software" keys in both views and the user's and the system's folders,
// is removed when it ends. The suite's last check (tools/wine/prefix-check)
// catches anything else.
class PreparedStateKeeper : public ::testing::EmptyTestEventListener {
 public:
  PreparedStateKeeper() {
    keys_ = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, {}},
             {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, {}},
             {HKEY_CURRENT_USER, 0, {}}};
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD chars = ::GetTempPathW(MAX_PATH + 1, temp);
    if (chars > 0 && chars <= MAX_PATH) folders_.push_back({temp, {}});
    for (int csidl : {CSIDL_LOCAL_APPDATA, CSIDL_APPDATA, CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_PERSONAL,
                      CSIDL_PROFILE, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS,
                      CSIDL_PROGRAM_FILES}) {
      std::wstring folder = testing_support::ShellFolder(csidl);
      if (!folder.empty()) folders_.push_back({folder, {}});
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length >= 3 && length < MAX_PATH) folders_.push_back({std::wstring(windows, 3), {}});  // "C:\"
  }

  void OnTestStart(const ::testing::TestInfo&) override {
    for (Keys& keys : keys_) keys.names = Lowered(SubKeyNames(keys));
    for (Folder& folder : folders_) folder.names = Lowered(EntryNames(folder.path));
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const Keys& keys : keys_) {
      for (const std::wstring& name : SubKeyNames(keys)) {
        if (!keys.names.count(Lower(name))) DeleteKeyTree(keys, name);
      }
    }
    for (const Folder& folder : folders_) {
      for (const std::wstring& name : EntryNames(folder.path)) {
        if (!folder.names.count(Lower(name))) RemoveWhenFree(Join(folder.path, name));
      }
    }
  }

 private:
  // Names are compared as Windows does, without regard to case.
  struct Keys {  // the subkeys of "Software" below |root| in |view|
    HKEY root;
    REGSAM view;
    std::set<std::wstring> names;  // lowercased
  };
  struct Folder {
    std::wstring path;
    std::set<std::wstring> names;  // lowercased
  };

  static std::set<std::wstring> Lowered(const std::vector<std::wstring>& names) {
    std::set<std::wstring> lowered;
    for (const std::wstring& name : names) lowered.insert(Lower(name));
    return lowered;
  }

  // A program the case started (an uploader stand-in, say) may still run
  // from the folder or hold a file in it: Windows then refuses to delete
  // them until it ends. Tried again for up to 30 s.
  static void RemoveWhenFree(const std::wstring& path) {
    for (int attempt = 0; attempt < 300 && !testing_support::RemoveTree(path); ++attempt) ::Sleep(100);
  }

  static std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
  }

  static std::vector<std::wstring> SubKeyNames(const Keys& keys) {
    std::vector<std::wstring> names;
    base::UniqueHKey software;
    if (::RegOpenKeyExW(keys.root, L"Software", 0, KEY_ENUMERATE_SUB_KEYS | keys.view, software.put()) !=
        ERROR_SUCCESS) {
      return names;
    }
    for (DWORD index = 0;; ++index) {
      wchar_t name[256] = {};
      DWORD chars = 256;
      if (::RegEnumKeyExW(software.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back(name);
    }
    return names;
  }

  static void DeleteKeyTree(const Keys& keys, const std::wstring& name) {
    const std::wstring path = L"Software\\" + name;
    {
      base::UniqueHKey key;
      if (::RegOpenKeyExW(keys.root, path.c_str(), 0,
                          DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | keys.view,
                          key.put()) != ERROR_SUCCESS) {
        return;
      }
      ::RegDeleteTreeW(key.get(), nullptr);
    }
    ::RegDeleteKeyExW(keys.root, path.c_str(), keys.view, 0);
  }

  static std::vector<std::wstring> EntryNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    base::UniqueFind find(::FindFirstFileW(Join(folder, L"*").c_str(), &data));
    if (!find) return names;
    do {
      if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    return names;
  }

  std::vector<Keys> keys_;
  std::vector<Folder> folders_;
};

}  // namespace

int main(int argc, char** argv) {
  // No Windows error boxes for a crashing or failing test: they would wait
  // for a click under Wine and stall the run.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new PreparedStateKeeper);
  return RUN_ALL_TESTS();
}
