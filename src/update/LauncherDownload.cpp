#include "update/LauncherDownload.h"

#include <cwchar>

#include "base/Sha256.h"

namespace update {

bool MakeReleaseIdentity(const wchar_t* publishedKey, const std::uint8_t* sha256,
                         wchar_t (&out)[kReleaseIdentityChars]) {
  if (!publishedKey || !publishedKey[0]) return false;
  wchar_t text[kReleaseIdentityChars] = {};
  std::size_t n = 0;
  for (const wchar_t* p = publishedKey; *p; ++p) {
    // The key goes into a record line as it is: printable ASCII, no blank.
    if (*p <= 0x20 || *p >= 0x7F || n + 1 >= kReleaseIdentityChars) return false;
    text[n++] = *p;
  }
  if (sha256) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    const wchar_t kTag[] = L" sha256=";
    if (n + (sizeof(kTag) / sizeof(wchar_t) - 1) + 2 * kSha256Bytes + 1 > kReleaseIdentityChars) return false;
    for (const wchar_t* t = kTag; *t; ++t) text[n++] = *t;
    for (std::size_t i = 0; i < kSha256Bytes; ++i) {
      text[n++] = kHex[sha256[i] >> 4];
      text[n++] = kHex[sha256[i] & 15];
    }
  }
  std::wmemcpy(out, text, kReleaseIdentityChars);
  return true;
}

}  // namespace update
