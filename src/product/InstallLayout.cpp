#include "product/InstallLayout.h"

#include <cwchar>

namespace layout {

namespace {

// The last backslash of |path| or, with none, its last forward slash.
const wchar_t* LastSeparator(const wchar_t* path) {
  const wchar_t* sep = std::wcsrchr(path, L'\\');
  return sep ? sep : std::wcsrchr(path, L'/');
}

}  // namespace

int GetFolderPart(const wchar_t* path, wchar_t (&out)[kPathChars]) {
  if (!path) return 0;
  const wchar_t* sep = LastSeparator(path);
  if (!sep) return 0;
  const std::size_t length = static_cast<std::size_t>(sep - path);
  if (length + 1 > kPathChars) return 0;
  std::wmemmove(out, path, length);
  out[length] = L'\0';
  return 1;
}

int GetFolderPart(const wchar_t* path) { return path && LastSeparator(path) ? 1 : 0; }

}  // namespace layout
