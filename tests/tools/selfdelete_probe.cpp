// Helper for the self-delete tests: plays the launcher at the end of an
// uninstallation.
//   selfdelete_probe RESULTFILE WAITMS
// Calls StartSelfDelete, writes the script's path (nothing when it was not
// started) to RESULTFILE, then stays alive WAITMS milliseconds, as the
// launcher does while its closing message is shown. Exits 0 when no script
// was started, 1 when one was and this executable and "keep.txt" beside it
// were still there at the end of the wait, 2 when they had gone too early.
#include <windows.h>

#include <cwchar>
#include <string>

#include "deploy/SelfDelete.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 3;
  std::string script;
  const bool started = deploy::StartSelfDelete(&script);
  HANDLE file = ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  ::WriteFile(file, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
  ::CloseHandle(file);

  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  if (!started) return 0;
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring keep(exe);
  keep.resize(keep.find_last_of(L'\\') + 1);
  keep += L"keep.txt";
  const bool intact = ::GetFileAttributesW(exe) != INVALID_FILE_ATTRIBUTES &&
                      ::GetFileAttributesW(keep.c_str()) != INVALID_FILE_ATTRIBUTES;
  return intact ? 1 : 2;
}
