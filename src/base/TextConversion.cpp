#include "base/TextConversion.h"

#include <cstdint>

namespace diagnostics {

namespace {

void AppendUtf8(std::string* out, unsigned long codePoint) {
  if (codePoint < 0x80) {
    out->push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

unsigned long Unit(wchar_t c) { return static_cast<std::uint32_t>(c); }

bool IsHighSurrogate(unsigned long c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(unsigned long c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsUnreserved(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // wchar_t is 16 bits on Windows, so the text is UTF-16. Where it is 32
    // bits (the native test build) a unit is a whole code point.
    unsigned long c = Unit(text[i]);
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(Unit(text[i + 1]))) {
      unsigned long low = Unit(text[++i]);
      AppendUtf8(&out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
      AppendUtf8(&out, 0xFFFD);
    } else {
      AppendUtf8(&out, c);
    }
  }
  return out;
}

std::string UrlEncode(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

}  // namespace diagnostics
