#include <windows.h>

#include <vector>

#include "base/TextConversion.h"

namespace diagnostics {

std::wstring CodePageToWide(unsigned codePage, const std::string& text) {
  // Measure and convert the whole string with its terminator; embedded zero
  // bytes end the text like they would in a C string.
  int chars = ::MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (chars <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<std::size_t>(chars) + 1, L'\0');
  if (::MultiByteToWideChar(codePage, 0, text.c_str(), -1, buffer.data(), chars) <= 0) return std::wstring();
  return std::wstring(buffer.data());
}

std::wstring OemToWide(const std::string& text) { return CodePageToWide(CP_OEMCP, text); }

std::string WideToCodePage(unsigned codePage, const std::wstring& text) {
  int bytes = ::WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(bytes) + 1, '\0');
  if (::WideCharToMultiByte(codePage, 0, text.c_str(), -1, buffer.data(), bytes, nullptr, nullptr) <= 0) {
    return std::string();
  }
  return std::string(buffer.data());
}

}  // namespace diagnostics
