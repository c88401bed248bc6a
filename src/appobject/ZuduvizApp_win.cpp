#include "appobject/ZuduvizApp.h"

#include <windows.h>

#include "base/FixedText.h"
#include "base/Process.h"
#include "product/InstallLayout.h"

void CZuduvizApp::StartProgram(const wchar_t* path) {
  wchar_t program[layout::kPathChars] = {};
  if (path) {
    if (!base::CopyText(program, path)) return;
  } else {
    DWORD n = ::GetModuleFileNameW(nullptr, program, layout::kPathChars);
    if (n == 0 || n >= layout::kPathChars) return;
  }
  // The path is quoted: unquoted, a path with a space ("C:\Users\John Smith\...")
  // would make CreateProcessW try "C:\Users\John.exe" first. CreateProcessW
  // may also write into its command line, so it gets its own buffer.
  wchar_t commandLine[layout::kPathChars + 2] = {};
  if (!base::JoinText(commandLine, L"\"", program, L"\"")) return;
  base::ProcessStart how;
  how.creationFlags = IDLE_PRIORITY_CLASS;
  base::OwnedProcess started;
  base::StartProcess(nullptr, commandLine, nullptr, how, &started);
}
