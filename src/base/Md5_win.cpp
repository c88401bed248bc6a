#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/Md5.h"
#include "base/UniqueHandle.h"

namespace telemetry {

namespace {

// Read size of Md5HexOfFile. The C library's stream buffer already reads the
// disk in 4 KiB pieces; larger requests let fread hand whole pieces through
// without an extra copy per kilobyte (see bench/md5).
constexpr std::size_t kFileBlockBytes = 64 * 1024;

}  // namespace

void Md5HexOfText(const wchar_t* text, wchar_t (&out)[kMd5HexChars]) {
  std::string ansi;
  const int length = text ? static_cast<int>(std::wcslen(text)) : 0;
  if (length > 0) {
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
      ansi.resize(static_cast<std::size_t>(bytes));
      ::WideCharToMultiByte(CP_ACP, 0, text, length, &ansi[0], bytes, nullptr, nullptr);
    }
  }
  Md5 md5;
  md5.Update(ansi.data(), ansi.size());
  std::uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  Md5ToHex(digest, out);
}

bool Md5HexOfFile(const wchar_t* path, wchar_t (&out)[kMd5HexChars]) {
  if (!path) return false;
  base::UniqueStdFile file(::_wfopen(path, L"rb"));
  if (!file) return false;
  std::vector<char> block(kFileBlockBytes);
  Md5 md5;
  std::size_t got;
  while ((got = std::fread(block.data(), 1, block.size(), file.get())) > 0) md5.Update(block.data(), got);
  const bool readToEnd = !std::ferror(file.get());
  if (!readToEnd) return false;
  std::uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  Md5ToHex(digest, out);
  return true;
}

}  // namespace telemetry
