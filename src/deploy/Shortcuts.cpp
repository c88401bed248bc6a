#include "deploy/Shortcuts.h"

#include <cwchar>

#include "base/FixedText.h"

namespace deploy {

bool BuildStaleDesktopShortcutPath(const wchar_t* documentsFolder, const wchar_t* desktopFolder,
                                   const wchar_t* shortcutName, wchar_t (&out)[layout::kPathChars]) {
  constexpr std::size_t outChars = layout::kPathChars;
  if (!documentsFolder || !desktopFolder || !shortcutName) return false;
  const wchar_t* documentsSlash = std::wcsrchr(documentsFolder, L'\\');
  const wchar_t* desktopLeaf = std::wcsrchr(desktopFolder, L'\\');  // with its backslash
  if (!documentsSlash || !desktopLeaf) return false;

  const std::size_t parentChars = static_cast<std::size_t>(documentsSlash - documentsFolder);
  const std::size_t total = parentChars + std::wcslen(desktopLeaf) + 1 + std::wcslen(shortcutName);
  if (total + 1 > outChars) return false;
  std::wmemcpy(out, documentsFolder, parentChars);
  out[parentChars] = L'\0';
  base::AppendText(out, outChars, desktopLeaf);
  base::AppendText(out, outChars, L"\\");
  base::AppendText(out, outChars, shortcutName);
  return true;
}

}  // namespace deploy
