#include "product/InstallLayout.h"

#include <cwchar>

namespace layout {

int GetFolderPart(const wchar_t* path, wchar_t* out, std::size_t outChars) {
  if (!path) return 0;
  const wchar_t* sep = std::wcsrchr(path, L'\\');
  if (!sep) sep = std::wcsrchr(path, L'/');
  if (!sep) return 0;
  const std::size_t length = static_cast<std::size_t>(sep - path);
  if (out) {
    if (length + 1 > outChars) return 0;
    std::wmemmove(out, path, length);
    out[length] = L'\0';
  }
  return 1;
}

}  // namespace layout
