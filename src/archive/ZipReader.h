// Reading the game package: a ZIP archive on disk, listed and extracted entry
// by entry under a base folder, with the entries' attributes and time stamps.
//
// Typical use (one thread per handle):
//
//   archive::UniqueArchive zip(archive::ArchiveOpen(path));
//   if (!zip) ...;                                   // missing or not a ZIP
//   archive::ArchiveSetBaseFolder(zip.get(), folder);
//   archive::ArchiveEntry entry;
//   archive::ArchiveGetEntry(zip.get(), -1, &entry); // entry.index = count
//   for (int i = 0; i < count; ++i) {
//     archive::ArchiveGetEntry(zip.get(), i, &entry);
//     if (archive::ArchiveExtractEntry(zip.get(), i, entry.name) != archive::ZipOk) ...;
//   }
//
// The archive is read only, never changed, and never loaded whole. Only
// single-disk archives without 64-bit extensions; entries stored or deflated.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/UniqueHandle.h"

namespace archive {

// Results of the handle layer.
enum ZipResult : std::uint32_t {
  ZipOk = 0,
  ZipNoFile = 0x200,             // an output file (or its path) cannot be created
  ZipWriteFailed = 0x400,        // writing an output file failed
  ZipCorrupt = 0x700,            // headers disagree, cannot be read, or the name is unusable
  ZipReadFailed = 0x800,         // an entry's local extra field cannot be read
  ZipPassword = 0x1000,          // encrypted entry: the encryption header does not match
  ZipBadArgs = 0x10000,          // null handle or record, index out of range, unsafe destination
  ZipInflateFailed = 0x5000000,  // reading, decompressing or checking (CRC-32) the data failed
};

constexpr std::size_t kEntryNameChars = 260;

// Windows attribute values an entry can carry.
constexpr std::uint32_t kEntryReadOnly = 0x1;
constexpr std::uint32_t kEntryHidden = 0x2;
constexpr std::uint32_t kEntrySystem = 0x4;
constexpr std::uint32_t kEntryFolder = 0x10;
constexpr std::uint32_t kEntryArchive = 0x20;

struct ArchiveEntry {
  std::int32_t index;              // entry number; for the query of index -1 the entry count
  wchar_t name[kEntryNameChars];   // path inside the archive, decoded and cleaned
  std::uint32_t attributes;        // kEntry* values
  FILETIME lastAccessTime;         // UTC; all three zero when the entry's date is invalid
  FILETIME creationTime;
  FILETIME lastWriteTime;
  std::int32_t compressedSize;
  std::int32_t uncompressedSize;
};

// Opaque reader behind a handle.
struct ArchiveReader;
using ArchiveHandle = ArchiveReader*;

// Opens the archive at |path|: null when the file cannot be opened or is not
// a valid archive. The base folder starts as the current folder.
ArchiveHandle ArchiveOpen(const wchar_t* path);

// Sets the folder that relative destination names are taken under; a
// backslash is added unless it ends in one or a slash. ZipBadArgs for a null
// handle or folder, or a folder too long for a 260-character path.
ZipResult ArchiveSetBaseFolder(ArchiveHandle handle, const wchar_t* folder);

// Fills |entry| for entry |index|; index -1 gives the entry count in
// entry->index and empties everything else. Whatever the result, the index,
// the name and the uncompressed size are cleared first. An entry whose
// cleaned name would leave the base folder ("../x", "x/.."), or whose stored
// name has 260 bytes or more, is refused with ZipCorrupt.
ZipResult ArchiveGetEntry(ArchiveHandle handle, int index, ArchiveEntry* entry);

// Writes entry |index| to the file (or makes the folder) |destName|, taken
// under the base folder unless it is absolute ("\x", "/x", "C:..."). Missing
// folders on the way are made. The file receives the entry's attributes and
// times. A destination with a ".." segment is refused (ZipBadArgs).
ZipResult ArchiveExtractEntry(ArchiveHandle handle, int index, const wchar_t* destName);

// ArchiveExtractEntry in two steps, for a caller that runs readers side by
// side and orders what they do to the file system. ArchiveBeginEntry does
// everything up to and including the creation of the output file (or the
// folder, which completes a folder entry) and keeps the file open in the
// reader; ArchiveFinishEntry then writes the data, sets the times and closes
// it. The results are those of ArchiveExtractEntry, each from the step that
// fails. Any other call on the handle first closes a begun file as it is
// (empty, as a failed extraction leaves it). ArchiveFinishEntry without a
// begun entry: ZipBadArgs.
ZipResult ArchiveBeginEntry(ArchiveHandle handle, int index, const wchar_t* destName);
ZipResult ArchiveFinishEntry(ArchiveHandle handle);

// Closes the archive and frees the reader.
ZipResult ArchiveClose(ArchiveHandle handle);

struct ArchiveTraits {
  using Type = ArchiveHandle;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ArchiveClose(h); }
};

// Owner of an open archive: closes it when it goes.
using UniqueArchive = base::UniqueAny<ArchiveTraits>;

}  // namespace archive
