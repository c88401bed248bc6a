#include "release/VersionKey.h"

#include <cwchar>

#include "base/FixedText.h"

namespace update {

namespace {

std::size_t DotlessLength(const wchar_t* version) {
  std::size_t n = 0;
  for (const wchar_t* p = version; p && *p; ++p) {
    if (*p != L'.') ++n;
  }
  return n;
}

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c + (L'a' - L'A')) : c; }

}  // namespace

std::size_t DigestPartLength(const wchar_t* version) {
  std::size_t dotless = DotlessLength(version);
  return dotless >= kVersionKeyLength ? 0 : kVersionKeyLength - dotless;
}

bool MakeVersionKey(const wchar_t* digestHex, const wchar_t* version, wchar_t (&key)[kVersionKeyChars]) {
  std::size_t digestPart = DigestPartLength(version);
  if (!digestHex || digestPart == 0 || std::wcslen(digestHex) < digestPart) return false;
  wchar_t built[kVersionKeyChars] = {};
  std::wmemcpy(built, digestHex, digestPart);
  std::size_t n = digestPart;
  for (const wchar_t* p = version; *p; ++p) {
    if (*p != L'.') built[n++] = *p;
  }
  built[n] = L'\0';
  return base::CopyText(key, built);
}

bool VersionKeysDiffer(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return a != b;
  for (; *a && *b; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return true;
  }
  return *a != *b;
}

}  // namespace update
