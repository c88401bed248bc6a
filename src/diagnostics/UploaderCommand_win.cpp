#include <windows.h>

#include "product/InstallLayout.h"
#include "diagnostics/UploaderCommand.h"

namespace diagnostics {

bool GetUploaderPath(wchar_t (&out)[base::kPathChars]) {
  wchar_t path[base::kPathChars] = {};
  if (!layout::GetExeFolderPath(path, layout::kUploaderExeName)) return false;
  return base::CopyText(out, path);
}

bool StartUploader(wchar_t (&commandLine)[base::kUrlChars], const wchar_t* workFolder) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr, workFolder,
                        &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

}  // namespace diagnostics
