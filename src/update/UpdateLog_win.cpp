#include "update/UpdateLog.h"

#include <windows.h>

#include "product/InstallLayout.h"

namespace update {

bool GetUpdateLogFolder(wchar_t (&folder)[base::kPathChars]) {
  wchar_t exePath[layout::kPathChars] = {};
  return layout::GetExeFolderPath(exePath, nullptr) && layout::GetFolderPart(exePath, folder);
}

}  // namespace update
