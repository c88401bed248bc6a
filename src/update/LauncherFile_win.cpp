// Reading a launcher file for its version key: its headers, its version
// resource (GetFileVersionInfoW / VerQueryValueW) and its MD5 digest.
#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

#include "base/UniqueHandle.h"
#include "base/Md5.h"
#include "update/LauncherFile.h"

namespace update {

namespace {

constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;

LauncherFileFault CheckHeadersOfFile(const wchar_t* path) {
  base::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LauncherFileFault::kUnreadable;
  unsigned char head[kProgramHeaderBytes] = {};
  DWORD got = 0;
  if (!::ReadFile(file.get(), head, sizeof(head), &got, nullptr)) return LauncherFileFault::kUnreadable;
  return CheckProgramHeaders(head, got, OwnMachine());
}

// The file version of the fixed file information, "a.b.c.d".
bool ReadFileVersion(const wchar_t* path, wchar_t (&version)[kVersionTextChars]) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::unique_ptr<unsigned char[]> info(new (std::nothrow) unsigned char[size]);
  if (!info || !::GetFileVersionInfoW(path, 0, size, info.get())) return false;
  void* value = nullptr;
  UINT valueSize = 0;
  if (!::VerQueryValueW(info.get(), L"\\", &value, &valueSize) || !value || valueSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != kFixedFileInfoSignature) return false;
  return FormatFileVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS, version);
}

}  // namespace

LauncherFileFault ComputeLauncherFileKey(const wchar_t* path, wchar_t (&key)[kVersionKeyChars],
                                         wchar_t (&versionOut)[kVersionTextChars]) {
  if (!path) return LauncherFileFault::kUnreadable;
  const LauncherFileFault headers = CheckHeadersOfFile(path);
  if (headers != LauncherFileFault::kNone) return headers;
  wchar_t version[kVersionTextChars] = {};
  if (!ReadFileVersion(path, version)) return LauncherFileFault::kNoVersion;
  wchar_t digest[telemetry::kMd5HexChars] = {};
  if (!telemetry::Md5HexOfFile(path, digest)) return LauncherFileFault::kUnreadable;
  // A version of 32 digits or more leaves no room for a digest: no key.
  if (!MakeVersionKey(digest, version, key)) return LauncherFileFault::kNoVersion;
  std::wmemcpy(versionOut, version, kVersionTextChars);
  return LauncherFileFault::kNone;
}

LauncherFileFault ComputeLauncherFileKey(const wchar_t* path, wchar_t (&key)[kVersionKeyChars]) {
  wchar_t version[kVersionTextChars] = {};
  return ComputeLauncherFileKey(path, key, version);
}

}  // namespace update
