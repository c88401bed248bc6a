#include <windows.h>

#include "base/Process.h"
#include "product/InstallLayout.h"
#include "diagnostics/UploaderCommand.h"

namespace diagnostics {

bool GetUploaderPath(wchar_t (&out)[base::kPathChars]) {
  wchar_t path[base::kPathChars] = {};
  if (!layout::GetExeFolderPath(path, layout::kUploaderExeName)) return false;
  return base::CopyText(out, path);
}

bool StartUploader(wchar_t (&commandLine)[base::kUrlChars], const wchar_t* workFolder) {
  base::ProcessStart how;
  how.show = SW_HIDE;
  how.creationFlags = IDLE_PRIORITY_CLASS;
  base::OwnedProcess uploader;
  return base::StartProcess(nullptr, commandLine, workFolder, how, &uploader);
}

}  // namespace diagnostics
