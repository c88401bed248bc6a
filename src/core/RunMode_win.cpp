#include <windows.h>
#include <shellapi.h>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "core/RunMode.h"

namespace core {

int GetRunMode() {
  int argc = 0;
  base::UniqueLocal argvOwner(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  auto argv = static_cast<wchar_t**>(argvOwner.get());
  if (argv && argc > 1) {
    int mode = RunModeFromSwitch(argv[1]);
    if (mode >= 0) return mode;
  }

  wchar_t exePath[layout::kPathChars] = {};
  DWORD n = ::GetModuleFileNameW(nullptr, exePath, layout::kPathChars);
  if (n == 0 || n >= layout::kPathChars) return ModeFirstRun;
  wchar_t makerFolder[layout::kPathChars] = {};
  if (!layout::GetMakerFolder(makerFolder)) return ModeFirstRun;

  // Full Unicode upper-casing on both sides, as the file system compares.
  ::CharUpperBuffW(exePath, static_cast<DWORD>(wcslen(exePath)));
  ::CharUpperBuffW(makerFolder, static_cast<DWORD>(wcslen(makerFolder)));
  return RunModeFromLocation(exePath, makerFolder);
}

}  // namespace core
