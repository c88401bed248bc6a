// Decimal numbers appended to fixed wide-text buffers without the C runtime.
//
// The crash handler formats names and report lines on a thread that must not
// touch the C runtime: its printf family takes locale locks and, on a thread's
// first use, allocates the thread's runtime data from a heap that a crashed
// thread may hold or have corrupted. Like base::AppendText, a number that
// would not fit is refused and the buffer is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

namespace diagnostics {

// Appends |value| in decimal, at least |width| characters wide, padded on the
// left with |pad| (L'0' or L' '); a minus sign comes before zero padding and
// after space padding, as printf's "%0*d" and "%*d" place it.
template <std::size_t N>
bool AppendDecimal(wchar_t (&dst)[N], long long value, int width = 0, wchar_t pad = L'0') {
  wchar_t digits[24];
  std::size_t count = 0;
  // Through the unsigned magnitude, so that the smallest value negates too.
  unsigned long long magnitude =
      value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  std::size_t sign = value < 0 ? 1 : 0;
  std::size_t body = count + sign;
  std::size_t fill = width > 0 && static_cast<std::size_t>(width) > body ? static_cast<std::size_t>(width) - body : 0;
  std::size_t have = std::wcslen(dst);
  if (have + fill + body + 1 > N) return false;
  wchar_t* out = dst + have;
  if (sign && pad == L'0') *out++ = L'-';
  for (std::size_t i = 0; i < fill; ++i) *out++ = pad;
  if (sign && pad != L'0') *out++ = L'-';
  while (count) *out++ = digits[--count];
  *out = L'\0';
  return true;
}

template <std::size_t N>
bool AppendUnsigned(wchar_t (&dst)[N], unsigned long long value) {
  wchar_t digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value);
  std::size_t have = std::wcslen(dst);
  if (have + count + 1 > N) return false;
  wchar_t* out = dst + have;
  while (count) *out++ = digits[--count];
  *out = L'\0';
  return true;
}

}  // namespace diagnostics
