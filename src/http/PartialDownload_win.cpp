#include "http/PartialDownload.h"

#include <windows.h>

#include <cstring>

#include "base/UniqueHandle.h"

namespace update {

namespace {

// The size of |path| when it is a plain file (no folder, no reparse point);
// false otherwise.
bool PlainFileSize(const wchar_t* path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
    return false;
  }
  *size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// Reads the record at |path| whole when it holds at most
// kMaxPartialRecordBytes; false otherwise.
bool ReadRecord(const wchar_t* path, char (&bytes)[kMaxPartialRecordBytes], std::size_t* size) {
  std::uint64_t length = 0;
  if (!PlainFileSize(path, &length) || length > kMaxPartialRecordBytes) return false;
  base::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD got = 0;
  // One byte more than allowed: a file that grew since its size was read is refused.
  char buffer[kMaxPartialRecordBytes + 1];
  if (!::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) || got > kMaxPartialRecordBytes) return false;
  std::memcpy(bytes, buffer, got);
  *size = got;
  return true;
}

}  // namespace

void DeletePartialFile(const wchar_t* path) {
  if (path && path[0]) ::DeleteFileW(path);
}

bool PreparePartialDownload(PartialDownload* partial, const wchar_t* targetPath, const wchar_t* recordPath,
                            const wchar_t* identity, std::uint32_t expectedTotal) {
  if (!partial) return false;
  PartialDownload prepared;
  if (!base::CopyText(prepared.recordPath, recordPath) || !base::CopyText(prepared.identity, identity)) return false;

  char bytes[kMaxPartialRecordBytes];
  std::size_t size = 0;
  wchar_t recordIdentity[kReleaseIdentityChars] = {};
  wchar_t validator[kValidatorChars] = {};
  std::uint32_t total = 0;
  std::uint64_t kept = 0;
  const bool resumable = ReadRecord(recordPath, bytes, &size) &&
                         ParsePartialRecord(bytes, size, recordIdentity, validator, &total) &&
                         PlainFileSize(targetPath, &kept) &&
                         ResumePointFor(identity, expectedTotal, recordIdentity, validator, total, kept,
                                        &prepared.from);
  if (!resumable) {
    // Bytes of another release, of another file on the server, or more than
    // the record accounts for: nothing of them is used.
    DeletePartialFile(recordPath);
    DeletePartialFile(targetPath);
    prepared.from = ResumePoint();
  }
  *partial = prepared;
  return true;
}

bool WritePartialRecord(const PartialDownload& partial, const wchar_t* validator, std::uint32_t total) {
  char bytes[kMaxPartialRecordBytes];
  std::size_t size = 0;
  if (!partial.recordPath[0] ||
      !FormatPartialRecord(partial.identity, validator, total, bytes, sizeof(bytes), &size)) {
    return false;
  }
  bool written = false;
  {
    base::UniqueFile file(::CreateFileW(partial.recordPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    written = file && ::WriteFile(file.get(), bytes, DWORD(size), &put, nullptr) && put == size;
  }
  if (!written) DeletePartialFile(partial.recordPath);
  return written;
}

}  // namespace update
