#include "base/Process.h"

namespace base {

namespace {

template <typename StartupInfo>
StartupInfo MakeStartupInfo(const ProcessStart& how) {
  StartupInfo startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = how.show;
  if (how.stdOutput || how.stdError) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = how.stdOutput;
    startup.hStdError = how.stdError;
  }
  return startup;
}

bool InheritsHandles(const ProcessStart& how) { return how.stdOutput || how.stdError; }

void TakeOver(const PROCESS_INFORMATION& info, OwnedProcess* started) {
  started->process.reset(info.hProcess);
  started->thread.reset(info.hThread);
}

}  // namespace

bool StartProcess(const wchar_t* application, wchar_t* commandLine, const wchar_t* currentFolder,
                  const ProcessStart& how, OwnedProcess* started) {
  STARTUPINFOW startup = MakeStartupInfo<STARTUPINFOW>(how);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(application, commandLine, nullptr, nullptr, InheritsHandles(how), how.creationFlags, nullptr,
                        currentFolder, &startup, &info)) {
    return false;
  }
  TakeOver(info, started);
  return true;
}

bool StartProcess(char* commandLine, const char* currentFolder, const ProcessStart& how, OwnedProcess* started) {
  STARTUPINFOA startup = MakeStartupInfo<STARTUPINFOA>(how);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(nullptr, commandLine, nullptr, nullptr, InheritsHandles(how), how.creationFlags, nullptr,
                        currentFolder, &startup, &info)) {
    return false;
  }
  TakeOver(info, started);
  return true;
}

}  // namespace base
