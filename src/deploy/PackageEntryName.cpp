#include "deploy/PackageEntryName.h"

namespace deploy {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsSafePackageEntryName(const wchar_t* name) {
  if (!name || !*name || IsSeparator(name[0])) return false;
  const wchar_t* segment = name;
  for (const wchar_t* p = name;; ++p) {
    if (*p == L':') return false;
    if (*p == L'\0' || IsSeparator(*p)) {
      long length = static_cast<long>(p - segment);
      bool dot = length == 1 && segment[0] == L'.';
      bool dotDot = length == 2 && segment[0] == L'.' && segment[1] == L'.';
      if (dot || dotDot) return false;
      // An empty segment ("a//b") is allowed only as the final separator.
      if (length == 0 && *p != L'\0' && p[1] != L'\0') return false;
      if (*p == L'\0') return true;
      segment = p + 1;
    }
  }
}

}  // namespace deploy
