// Bounded text in fixed, zero-terminated wide-character buffers.
//
// The launcher keeps paths in 260-character buffers, URLs in 512 and keys in
// 32 or 64. These helpers write into such an array only when the whole result
// fits including its terminator; a result that would not fit is refused
// (false) and the buffer is left exactly as it was. Nothing is ever truncated.
#pragma once

#include <cstddef>
#include <cwchar>
#include <initializer_list>

namespace base {

constexpr std::size_t kPathChars = 260;  // MAX_PATH, terminator included
constexpr std::size_t kUrlChars = 512;

// Length of |text| or 0 for null.
inline std::size_t TextLength(const wchar_t* text) { return text ? std::wcslen(text) : 0; }

// Copies |src| (null counts as empty) into |dst| of |capacity| characters.
inline bool CopyText(wchar_t* dst, std::size_t capacity, const wchar_t* src) {
  std::size_t n = TextLength(src);
  if (!dst || n + 1 > capacity) return false;
  if (n) std::wmemmove(dst, src, n);
  dst[n] = L'\0';
  return true;
}

// Appends |pieces| in order; all or nothing.
inline bool AppendText(wchar_t* dst, std::size_t capacity, const wchar_t* piece) {
  if (!dst) return false;
  std::size_t have = std::wcslen(dst);
  std::size_t n = TextLength(piece);
  if (have + n + 1 > capacity) return false;
  if (n) std::wmemcpy(dst + have, piece, n);
  dst[have + n] = L'\0';
  return true;
}

template <std::size_t N>
bool CopyText(wchar_t (&dst)[N], const wchar_t* src) {
  return CopyText(dst, N, src);
}

// Appends every piece, or none of them when the whole would not fit.
template <std::size_t N, typename... Pieces>
bool AppendText(wchar_t (&dst)[N], const Pieces*... pieces) {
  std::size_t have = std::wcslen(dst);
  std::size_t total = have;
  for (const wchar_t* p : {pieces...}) total += TextLength(p);
  if (total + 1 > N) return false;
  for (const wchar_t* p : {pieces...}) AppendText(dst, N, p);
  return true;
}

// Sets |dst| to the concatenation of the pieces, or leaves it untouched.
template <std::size_t N, typename... Pieces>
bool JoinText(wchar_t (&dst)[N], const Pieces*... pieces) {
  std::size_t total = 0;
  for (const wchar_t* p : {pieces...}) total += TextLength(p);
  if (total + 1 > N) return false;
  dst[0] = L'\0';
  for (const wchar_t* p : {pieces...}) AppendText(dst, N, p);
  return true;
}

// Upper-cases ASCII letters only; Windows paths compare case-insensitively
// and the launcher's switches and folder tests are ASCII.
inline wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - (L'a' - L'A')) : c; }

inline bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b) {
    if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
  }
  return *a == *b;
}

}  // namespace base
