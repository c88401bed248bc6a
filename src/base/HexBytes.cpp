#include "base/HexBytes.h"

namespace update {

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

bool ParseHexBytes(const wchar_t* text, std::size_t count, std::uint8_t* out) {
  if (!text || !out) return false;
  // Checked whole first, so that a refused text leaves |out| as it was.
  for (std::size_t i = 0; i < 2 * count; ++i) {
    if (HexValue(text[i]) < 0) return false;  // also stops at the terminator
  }
  if (text[2 * count] != L'\0') return false;
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
  }
  return true;
}

}  // namespace update
