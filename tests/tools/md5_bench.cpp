// Times Md5HexOfFile on one file inside this process (QueryPerformanceCounter,
// so Wine's start-up is not counted), plus the same digest read with 1024-byte
// fread blocks for comparison. Prints "key=value" lines.
//
//   md5_bench FILE [ROUNDS]     best of ROUNDS (default 5) for each way
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "base/Md5.h"
#include "base/UniqueHandle.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// The same digest with the C library's stream read in 1 KiB blocks.
bool Md5With1KiBReads(const wchar_t* path, wchar_t (&out)[telemetry::kMd5HexChars]) {
  base::UniqueStdFile file(::_wfopen(path, L"rb"));
  if (!file) return false;
  char block[1024];
  telemetry::Md5 md5;
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof(block), file.get())) > 0) md5.Update(block, got);
  std::uint8_t digest[telemetry::kMd5DigestBytes];
  md5.Final(digest);
  telemetry::Md5ToHex(digest, out);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
  wchar_t hex[telemetry::kMd5HexChars] = {};
  wchar_t hex1k[telemetry::kMd5HexChars] = {};
  double best = 1e9, best1k = 1e9;
  for (int i = 0; i < rounds; ++i) {
    LARGE_INTEGER a, b, c;
    ::QueryPerformanceCounter(&a);
    if (!telemetry::Md5HexOfFile(argv[1], hex)) return 3;
    ::QueryPerformanceCounter(&b);
    if (!Md5With1KiBReads(argv[1], hex1k)) return 3;
    ::QueryPerformanceCounter(&c);
    if (Seconds(a, b) < best) best = Seconds(a, b);
    if (Seconds(b, c) < best1k) best1k = Seconds(b, c);
  }
  std::printf("digest=%ls\ndigest1k=%ls\nours_s=%.6f\nfread1k_s=%.6f\n", hex, hex1k, best, best1k);
  return 0;
}
