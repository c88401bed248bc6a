// Starting a program: one call for every program the launcher starts, which
// hands back the new process and its first thread as owned handles.
#pragma once

#include <windows.h>

#include "base/UniqueHandle.h"

namespace base {

struct OwnedProcess {
  UniqueHandle process;
  UniqueHandle thread;
};

struct ProcessStart {
  WORD show = SW_SHOWNORMAL;  // the new program's first window (STARTF_USESHOWWINDOW)
  DWORD creationFlags = 0;    // priority class and the like, as CreateProcess takes them
  // Standard output and error of the new program: when either is given, both
  // go to it (STARTF_USESTDHANDLES) and the caller's inheritable handles are
  // inherited; otherwise nothing is inherited.
  HANDLE stdOutput = nullptr;
  HANDLE stdError = nullptr;
};

// CreateProcessW: |application| may be null (the program is then the first
// token of |commandLine|), |commandLine| may be null when |application| is
// given and is otherwise written into by the system, so it must be the
// caller's own buffer; |currentFolder| null keeps the caller's. On failure
// |started| is untouched and the last-error code is CreateProcessW's.
bool StartProcess(const wchar_t* application, wchar_t* commandLine, const wchar_t* currentFolder,
                  const ProcessStart& how, OwnedProcess* started);

// The same through CreateProcessA, for paths and commands in the system's
// ANSI code page.
bool StartProcess(char* commandLine, const char* currentFolder, const ProcessStart& how, OwnedProcess* started);

}  // namespace base
