// Helper for the first-run installation tests.
//   install_probe install   runs InstallLauncher from wherever this copy lies;
//                           exits with 100 + the game-present flag
//   install_probe           (no argument: the installed copy that
//                           InstallLauncher started) writes "started.txt"
//                           beside itself with its command line; exits 0
#include <windows.h>

#include <cwchar>
#include <string>

#include "appobject/ZuduvizApp.h"
#include "deploy/Install.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring marker(exe);
    marker.resize(marker.find_last_of(L'\\') + 1);
    marker += L"started.txt";
    const wchar_t* commandLine = ::GetCommandLineW();
    HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, commandLine, static_cast<DWORD>(std::wcslen(commandLine) * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    return 0;
  }
  if (std::wcscmp(argv[1], L"install") == 0) {
    CZuduvizApp app;
    int gamePresent = -1;
    if (deploy::InstallLauncher(app, &gamePresent) != 1) return 1;
    return 100 + gamePresent;
  }
  return 2;
}
