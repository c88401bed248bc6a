#include "update/UpdateLog.h"

namespace update {
namespace detail {

void CopyLoggableText(const wchar_t* text, wchar_t* out, std::size_t capacity) {
  if (!out || capacity == 0) return;
  std::size_t n = 0;
  for (; text && text[n] && n + 1 < capacity; ++n) {
    const wchar_t c = text[n];
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                       c == L'.' || c == L':' || c == L'/' || c == L'-';
    out[n] = plain ? c : L'?';
  }
  out[n] = L'\0';
}

}  // namespace detail
}  // namespace update
