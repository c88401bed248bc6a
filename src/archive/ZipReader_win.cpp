// The handle layer of the ZIP reader: the archive file, entry records with
// Windows names, attributes and times, and extraction to files and folders.
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/ZipDirectory.h"
#include "archive/ZipFormat.h"
#include "archive/ZipReader.h"
#include "base/FixedText.h"
#include "base/UniqueHandle.h"

namespace archive {

namespace {

// Bytes per read from an entry stream and per WriteFile. Each WriteFile is
// a system call of its own (under Wine and on Windows alike): 64 KiB writes
// the benchmark package in a third of the calls that 16 KiB needs, for 48 KiB
// more per reader.
constexpr std::uint32_t kExtractBufferBytes = 65536;

// The archive file, read at explicit positions. Small reads (headers,
// names, extra fields, the data of small entries) are served from two
// read-ahead windows: one follows the central directory, the other the local
// headers, so walking an archive costs about one read per entry instead of
// five. Large reads go straight to the file.
class FileSource : public ByteSource {
 public:
  explicit FileSource(base::UniqueFile file) : file_(std::move(file)) {}

  bool Size(std::uint64_t* size) override {
    LARGE_INTEGER li;
    if (!::GetFileSizeEx(file_.get(), &li) || li.QuadPart < 0) return false;
    *size = static_cast<std::uint64_t>(li.QuadPart);
    return true;
  }

  bool ReadAt(std::uint64_t position, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    for (Window& w : windows_) {
      if (w.bytes && position >= w.position && position + size <= w.position + w.length) {
        std::memcpy(buffer, w.bytes.get() + (position - w.position), size);
        w.lastUse = ++clock_;
        *got = size;
        return true;
      }
    }
    if (size > kWindowBytes / 4) return ReadFromFile(position, buffer, size, got);
    Window& w = windows_[0].lastUse <= windows_[1].lastUse ? windows_[0] : windows_[1];
    if (!w.bytes) {
      w.bytes.reset(new (std::nothrow) unsigned char[kWindowBytes]);
      if (!w.bytes) return ReadFromFile(position, buffer, size, got);
    }
    w.length = 0;
    std::uint32_t filled = 0;
    if (!ReadFromFile(position, w.bytes.get(), kWindowBytes, &filled)) return false;
    w.position = position;
    w.length = filled;
    w.lastUse = ++clock_;
    *got = filled < size ? filled : size;
    std::memcpy(buffer, w.bytes.get(), *got);
    return true;
  }

 private:
  static constexpr std::uint32_t kWindowBytes = 32768;
  struct Window {
    std::unique_ptr<unsigned char[]> bytes;
    std::uint64_t position = 0;
    std::uint32_t length = 0;
    std::uint64_t lastUse = 0;
  };

  // Seek, then read. A ReadFile with an OVERLAPPED offset would save the
  // seek, but Wine then posts a completion through wineserver on every
  // read of a synchronous handle, a round trip per header. An entry's data
  // is read front to back, so the seek is left out when the file already
  // stands where the read starts.
  bool ReadFromFile(std::uint64_t position, void* buffer, std::uint32_t size, std::uint32_t* got) {
    if (!positionKnown_ || position != filePosition_) {
      positionKnown_ = false;
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(position);
      if (!::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) return false;
    }
    DWORD n = 0;
    if (!::ReadFile(file_.get(), buffer, size, &n, nullptr)) {
      positionKnown_ = false;
      return false;
    }
    filePosition_ = position + n;
    positionKnown_ = true;
    *got = n;
    return true;
  }

  base::UniqueFile file_;
  Window windows_[2];
  std::uint64_t clock_ = 0;
  // Where the file pointer stands, when known.
  std::uint64_t filePosition_ = 0;
  bool positionKnown_ = false;
};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Index of the last "\" or "/" in |text|, or -1.
long LastSeparator(const wchar_t* text) {
  long at = -1;
  for (long i = 0; text[i]; ++i) {
    if (IsSeparator(text[i])) at = i;
  }
  return at;
}

bool PathExists(const wchar_t* path) { return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const wchar_t* path) {
  DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Makes |base| + |path|, its missing parents first. |base| is "" or ends in
// a separator.
void MakeFolderTree(const wchar_t* base, const wchar_t* path) {
  wchar_t full[kEntryNameChars] = {};
  if (!base::JoinText(full, base, path) || PathExists(full)) return;
  wchar_t parent[kEntryNameChars] = {};
  base::CopyText(parent, path);
  long at = LastSeparator(parent);
  if (at > 0) {
    parent[at] = L'\0';
    MakeFolderTree(base, parent);
  }
  ::CreateDirectoryW(full, nullptr);
}

// Makes the folder |path| under |base| (or |path| itself for an empty
// base), and |base| first when it is missing. With |confirm|, true when the
// folder exists afterwards (one more lookup); without, always true: a file
// that needs the folder shows the failure when it is created.
bool EnsureFolder(const wchar_t* base, const wchar_t* path, bool confirm) {
  if (base[0] && !PathExists(base)) MakeFolderTree(L"", base);
  if (!confirm) {
    if (path[0]) MakeFolderTree(base, path);
    return true;
  }
  if (!path[0]) return base[0] ? IsFolder(base) : true;
  MakeFolderTree(base, path);
  wchar_t full[kEntryNameChars] = {};
  return base::JoinText(full, base, path) && IsFolder(full);
}

void ClearEntry(ArchiveEntry* entry) { std::memset(entry, 0, sizeof(*entry)); }

// Local DOS date and time to UTC, as Windows converts local file times: with
// the bias in effect now, not the one of that date.
bool DosTimeToUtc(std::uint32_t dosDateTime, FILETIME* utc) {
  DosTime t = DecodeDosDateTime(dosDateTime);
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  FILETIME local;
  return ::SystemTimeToFileTime(&st, &local) && ::LocalFileTimeToFileTime(&local, utc);
}

FILETIME TicksToFileTime(std::uint64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

}  // namespace

struct ArchiveReader {
  std::unique_ptr<FileSource> source;
  std::unique_ptr<ZipDirectory> directory;
  int openEntry = -1;
  ArchiveEntry cached = {};
  int cachedIndex = -1;
  const char* password = nullptr;  // this system has none
  std::unique_ptr<unsigned char[]> extractBuffer;
  wchar_t baseFolder[kEntryNameChars] = {};
  // The entry begun by ArchiveBeginEntry and not finished yet (-1 for none),
  // its record, and its output file (none for a folder).
  int begunIndex = -1;
  ArchiveEntry begunEntry = {};
  base::UniqueFile begunFile;
  // Whether the last output file created existed before (CreateOutputFile).
  bool lastOutputExisted = false;
};

namespace {

// Ends whatever the previous call left open: a begun entry's file stays as
// far as it was written (empty), as after a failed extraction.
void CloseOpenEntry(ArchiveReader* reader) {
  reader->begunFile.reset();
  reader->begunIndex = -1;
  if (reader->directory->HasStream()) reader->directory->CloseStream();
  reader->openEntry = -1;
}

// Reads the record of entry |index| into |out| (untouched on failure).
ZipResult ReadEntryRecord(ArchiveReader* reader, int index, ArchiveEntry* out) {
  if (index == reader->cachedIndex) {
    *out = reader->cached;
    return ZipOk;
  }
  ZipDirectory& dir = *reader->directory;
  // A central header that cannot be read on the way is not retried.
  if (dir.GoToEntry(index) != RdOk) return ZipCorrupt;

  unsigned char rawName[kNameBytes];
  std::size_t nameLength = 0;
  if (dir.ReadCurrentName(rawName, sizeof(rawName), &nameLength) != RdOk) return ZipCorrupt;

  std::uint64_t extraPosition = 0;
  std::uint32_t extraLength = 0, nameAndExtra = 0;
  if (dir.CheckLocalHeader(&extraPosition, &extraLength, &nameAndExtra) != RdOk) return ZipCorrupt;
  std::vector<unsigned char> extra(extraLength);
  if (extraLength && dir.ReadExact(extraPosition, extra.data(), extraLength) != RdOk) return ZipReadFailed;

  ArchiveEntry entry = {};
  entry.index = index;
  if (nameLength) {
    UINT codePage = IsUtf8Name(rawName, nameLength) ? CP_UTF8 : CP_ACP;
    int n = ::MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(rawName), static_cast<int>(nameLength),
                                  entry.name, static_cast<int>(kEntryNameChars - 1));
    if (n <= 0) return ZipCorrupt;
    entry.name[n] = L'\0';
  }
  CleanEntryName(entry.name);
  // Cleaning leaves "../x", "x/.." and ".." alone; each would reach outside
  // the folder the entry is extracted under.
  if (HasParentSegment(entry.name)) return ZipCorrupt;

  const CentralHeader& h = dir.Current();
  bool trailingSeparator = nameLength > 0 && (rawName[nameLength - 1] == '/' || rawName[nameLength - 1] == '\\');
  entry.attributes = EntryAttributes(h.versionMadeBy, h.externalAttributes, trailingSeparator);
  entry.compressedSize = static_cast<std::int32_t>(h.compressedSize);
  entry.uncompressedSize = static_cast<std::int32_t>(h.uncompressedSize);

  FILETIME utc = {};
  if (DosTimeToUtc(h.dosDateTime, &utc)) {
    entry.lastAccessTime = entry.creationTime = entry.lastWriteTime = utc;
  }
  ExtendedTimes times;
  if (FindExtendedTimes(extra.data(), extra.size(), &times)) {
    if (times.hasWrite) entry.lastWriteTime = TicksToFileTime(UnixTimeToFileTimeTicks(times.write));
    if (times.hasAccess) entry.lastAccessTime = TicksToFileTime(UnixTimeToFileTimeTicks(times.access));
    if (times.hasCreation) entry.creationTime = TicksToFileTime(UnixTimeToFileTimeTicks(times.creation));
  }

  reader->cached = entry;
  reader->cachedIndex = index;
  *out = entry;
  return ZipOk;
}

// Creates |path| for writing, replacing an existing file unless it is
// read-only; a missing folder on the way is made (|base| + |folderPart|).
// Windows refuses to replace a read-only file (CREATE_ALWAYS fails, also on
// a hidden or system one that |attributes| do not mark so); Wine running as
// root would not (the Unix permission check is skipped), so that attribute
// is tested here on every system.
// Every creation is a round trip to wineserver, failed ones included, and a
// lookup of a missing name lists its folder (to match it without regard to
// case). So the calls follow what the previous output found: after a new
// file, CREATE_NEW first (one call for a new file); after an existing one,
// the attributes first and then CREATE_ALWAYS (one creation for a replaced
// file, as when the game is deployed over its previous version). The
// folders are made only when a creation finds one missing: they usually
// exist (a package lists its folders first), and looking each one up costs
// about as much as the creation itself under Wine.
base::UniqueFile CreateOutputFile(ArchiveReader* reader, const wchar_t* path, const wchar_t* base,
                                  const wchar_t* folderPart, DWORD attributes) {
  DWORD existing = reader->lastOutputExisted ? ::GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
  if (existing == INVALID_FILE_ATTRIBUTES) {
    base::UniqueFile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
    if (!file && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
      EnsureFolder(base, folderPart, false);
      file.reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
    }
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) {
      reader->lastOutputExisted = false;
      return file;
    }
    existing = ::GetFileAttributesW(path);
    if (existing == INVALID_FILE_ATTRIBUTES) return base::UniqueFile();
  }
  reader->lastOutputExisted = true;
  if (existing & FILE_ATTRIBUTE_READONLY) return base::UniqueFile();
  return base::UniqueFile(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
}

ZipResult WriteEntryData(ArchiveReader* reader, HANDLE file, const ArchiveEntry& entry) {
  ZipDirectory& dir = *reader->directory;
  dir.OpenStream(reader->password);  // a failed opening shows in the first read
  reader->openEntry = entry.index;
  for (;;) {
    bool atEnd = false;
    int got = dir.ReadStream(reader->extractBuffer.get(), kExtractBufferBytes, &atEnd);
    if (got == RdPassword) return ZipPassword;
    if (got > 0) {
      DWORD written = 0;
      if (!::WriteFile(file, reader->extractBuffer.get(), static_cast<DWORD>(got), &written, nullptr) ||
          written != static_cast<DWORD>(got)) {
        return ZipWriteFailed;
      }
    }
    if (got >= 0 && atEnd) {
      // Zero times leave the file's own (the entry's date was invalid). The
      // data is complete: a file system that refuses a time (FAT before
      // 1980) does not fail the entry.
      ::SetFileTime(file, &entry.creationTime, &entry.lastAccessTime, &entry.lastWriteTime);
      return ZipOk;
    }
    if (got <= 0) return ZipInflateFailed;
  }
}

}  // namespace

ArchiveHandle ArchiveOpen(const wchar_t* path) {
  if (!path || !path[0]) return nullptr;
  std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
  if (!reader) return nullptr;

  DWORD n = ::GetCurrentDirectoryW(kEntryNameChars, reader->baseFolder);
  if (n == 0 || n >= kEntryNameChars) {
    reader->baseFolder[0] = L'\0';  // relative names then resolve against the current folder anyway
  } else if (!IsSeparator(reader->baseFolder[n - 1]) && !base::AppendText(reader->baseFolder, L"\\")) {
    reader->baseFolder[0] = L'\0';
  }

  base::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  // The end record is found from the file's end: only a file that can seek
  // (a disk file, not a pipe or a device) can be read.
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return nullptr;
  reader->source.reset(new (std::nothrow) FileSource(std::move(file)));
  if (!reader->source) return nullptr;
  reader->directory.reset(new (std::nothrow) ZipDirectory(reader->source.get()));
  if (!reader->directory || reader->directory->Open() != RdOk) return nullptr;
  return reader.release();
}

ZipResult ArchiveSetBaseFolder(ArchiveHandle reader, const wchar_t* folder) {
  if (!reader || !folder) return ZipBadArgs;
  std::size_t len = std::wcslen(folder);
  bool needsSeparator = len == 0 || !IsSeparator(folder[len - 1]);
  wchar_t joined[kEntryNameChars] = {};
  if (!base::JoinText(joined, folder, needsSeparator ? L"\\" : L"")) return ZipBadArgs;
  base::CopyText(reader->baseFolder, joined);
  return ZipOk;
}

ZipResult ArchiveGetEntry(ArchiveHandle reader, int index, ArchiveEntry* entry) {
  if (entry) {
    entry->index = 0;
    entry->name[0] = L'\0';
    entry->uncompressedSize = 0;
  }
  if (!reader || !entry) return ZipBadArgs;
  std::uint32_t count = reader->directory->EntryCount();
  if (index < -1 || (index >= 0 && std::uint32_t(index) >= count)) return ZipBadArgs;
  if (index == -1) {
    ClearEntry(entry);
    entry->index = static_cast<std::int32_t>(count);
    return ZipOk;
  }
  CloseOpenEntry(reader);
  return ReadEntryRecord(reader, index, entry);
}

ZipResult ArchiveBeginEntry(ArchiveHandle reader, int index, const wchar_t* destName) {
  if (!reader) return ZipBadArgs;
  CloseOpenEntry(reader);
  if (index < 0 || std::uint32_t(index) >= reader->directory->EntryCount()) return ZipBadArgs;
  // Whatever the caller names, ".." never leads out of the target folder.
  if (!destName || HasParentSegment(destName)) return ZipBadArgs;

  // Step first: the record may come from the cache while the directory
  // stands at another entry (one whose record failed), and the data must be
  // the entry's own.
  if (reader->directory->GoToEntry(index) != RdOk) return ZipCorrupt;
  ArchiveEntry entry;
  ZipResult r = ReadEntryRecord(reader, index, &entry);
  if (r != ZipOk) return r;

  bool absolute = IsAbsoluteName(destName);
  const wchar_t* base = absolute ? L"" : reader->baseFolder;
  if (entry.attributes & kEntryFolder) {
    // A folder that could not be made is reported, not passed over: the
    // files meant for it would fail later with a less telling result.
    if (!EnsureFolder(base, destName, true)) return ZipNoFile;
    reader->begunEntry = entry;
    reader->begunIndex = index;
    return ZipOk;
  }

  // Folder part (with its separator) and file part of the destination.
  wchar_t folderPart[kEntryNameChars] = {};
  long at = LastSeparator(destName);
  if (at >= 0) {
    if (static_cast<std::size_t>(at) + 1 >= kEntryNameChars) return ZipNoFile;
    std::wmemcpy(folderPart, destName, static_cast<std::size_t>(at) + 1);
    folderPart[at + 1] = L'\0';
  }
  const wchar_t* filePart = destName + (at + 1);
  wchar_t outputPath[kEntryNameChars] = {};
  if (!base::JoinText(outputPath, base, folderPart, filePart)) return ZipNoFile;  // too long: refused, never cut

  if (!reader->extractBuffer) {
    reader->extractBuffer.reset(new (std::nothrow) unsigned char[kExtractBufferBytes]);
    if (!reader->extractBuffer) return ZipInflateFailed;
  }

  DWORD fileAttributes = entry.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                             FILE_ATTRIBUTE_ARCHIVE);
  if (!fileAttributes) fileAttributes = FILE_ATTRIBUTE_NORMAL;
  base::UniqueFile file = CreateOutputFile(reader, outputPath, base, folderPart, fileAttributes);
  if (!file) return ZipNoFile;
  reader->begunFile = std::move(file);
  reader->begunEntry = entry;
  reader->begunIndex = index;
  return ZipOk;
}

ZipResult ArchiveFinishEntry(ArchiveHandle reader) {
  if (!reader || reader->begunIndex < 0) return ZipBadArgs;
  ZipResult r = ZipOk;
  if (reader->begunFile) r = WriteEntryData(reader, reader->begunFile.get(), reader->begunEntry);
  CloseOpenEntry(reader);
  return r;
}

ZipResult ArchiveExtractEntry(ArchiveHandle reader, int index, const wchar_t* destName) {
  ZipResult r = ArchiveBeginEntry(reader, index, destName);
  return r == ZipOk ? ArchiveFinishEntry(reader) : r;
}

ZipResult ArchiveClose(ArchiveHandle reader) {
  if (!reader) return ZipBadArgs;
  if (reader->directory) CloseOpenEntry(reader);
  delete reader;  // the directory goes before the file it reads
  return ZipOk;
}

}  // namespace archive
