// The ZIP container format as the reader needs it: record layouts, the end
// record search, entry names, attributes, time stamps and the traditional
// PKWARE decryption. Pure functions over bytes; no file access here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive {

// Results of the directory layer (small negative numbers).
enum ReadResult : int {
  RdOk = 0,
  RdIoError = -1,
  RdEndOfList = -100,
  RdBadParam = -102,
  RdBadArchive = -103,
  RdNoMemory = -104,
  RdCrcMismatch = -105,
  RdPassword = -106,
};

constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;

// The end record lies within the last 0xFFFF bytes (22 bytes of record plus
// a comment of at most 65513). The search steps back 1024 bytes at a time and
// reads 4 more so a signature across two windows is still seen.
constexpr std::uint32_t kEndSearchSpan = 0xFFFF;
constexpr std::uint32_t kEndSearchStep = 1024;
constexpr std::uint32_t kEndSearchWindow = kEndSearchStep + 4;

// Names are read into a buffer of this many bytes; longer names are refused.
constexpr std::size_t kNameBytes = 260;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

inline std::uint16_t ReadLe16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t ReadLe32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

struct EndRecord {
  std::uint16_t thisDisk;
  std::uint16_t directoryDisk;
  std::uint16_t entriesOnDisk;
  std::uint16_t totalEntries;
  std::uint32_t directorySize;
  std::uint32_t directoryOffset;
  std::uint16_t commentLength;
};

struct CentralHeader {
  std::uint16_t versionMadeBy;
  std::uint16_t versionNeeded;
  std::uint16_t flags;
  std::uint16_t method;
  std::uint32_t dosDateTime;  // time in the low half, date in the high half
  std::uint32_t crc32;
  std::uint32_t compressedSize;
  std::uint32_t uncompressedSize;
  std::uint16_t nameLength;
  std::uint16_t extraLength;
  std::uint16_t commentLength;
  std::uint16_t startDisk;
  std::uint16_t internalAttributes;
  std::uint32_t externalAttributes;
  std::uint32_t localHeaderOffset;
};

struct LocalHeader {
  std::uint16_t versionNeeded;
  std::uint16_t flags;
  std::uint16_t method;
  std::uint32_t dosDateTime;
  std::uint32_t crc32;
  std::uint32_t compressedSize;
  std::uint32_t uncompressedSize;
  std::uint16_t nameLength;
  std::uint16_t extraLength;
};

// Each parser takes exactly the record's fixed size and fails (out untouched)
// on a wrong signature.
bool ParseEndRecord(const unsigned char (&bytes)[kEndRecordSize], EndRecord* out);
bool ParseCentralHeader(const unsigned char (&bytes)[kCentralHeaderSize], CentralHeader* out);
bool ParseLocalHeader(const unsigned char (&bytes)[kLocalHeaderSize], LocalHeader* out);

// RdOk when the end record describes a single-disk archive whose central
// directory ends at or before the record; |correction| then receives the
// number of bytes found in front of the archive.
ReadResult CheckEndRecord(const EndRecord& end, std::uint64_t endRecordPosition, std::uint64_t* correction);

// RdOk when the local header agrees with the central one: same method (0 or
// 8), same name length and, unless the data descriptor flag is set, the same
// CRC-32 and sizes. RdBadArchive otherwise.
ReadResult CompareLocalHeader(const CentralHeader& central, const LocalHeader& local);

// Position of the last end-record signature in |window|, scanning from its
// end, or -1.
long FindLastEndSignature(const unsigned char* window, std::size_t size);

// The classic ZIP UTF-8 test: true when |bytes| are well-formed by the rules
// below and hold at least one byte of 0x80 or above. Lead bytes C0-DF take 1
// continuation byte, E0-EF 2, F0-F7 3, F8-FB and FE-FF 4, FC-FD 5.
bool IsUtf8Name(const unsigned char* bytes, std::size_t size);

// Cleans a decoded name in place: drive prefixes ("C:"), leading separators
// and everything up to a "<sep>..<sep>" run are dropped until none is left.
void CleanEntryName(wchar_t* name);

// True when some segment of |path| (split at "\" and "/") is exactly "..":
// such a path can leave the folder it is taken under.
bool HasParentSegment(const wchar_t* path);

// True when |path| names an absolute place: a leading separator or a drive.
bool IsAbsoluteName(const wchar_t* path);

// Windows attributes (read-only 0x1, hidden 0x2, system 0x4, folder 0x10,
// archive 0x20) from the host system in the high byte of |versionMadeBy| and
// the external attributes. MS-DOS-like hosts (0, 7, 11, 14) keep DOS bits in
// the low byte; every other host is read as Unix (folder type bit 30, owner
// write bit 23), except that an entry with no Unix mode at all (high half 0)
// falls back to the DOS byte. A name ending in a separator is a folder.
std::uint32_t EntryAttributes(std::uint16_t versionMadeBy, std::uint32_t externalAttributes, bool nameEndsInSeparator);

struct DosTime {
  int year, month, day, hour, minute, second;
};
DosTime DecodeDosDateTime(std::uint32_t dosDateTime);

// The "UT" extended time stamp: Unix times of those present.
struct ExtendedTimes {
  bool hasWrite = false, hasAccess = false, hasCreation = false;
  std::int32_t write = 0, access = 0, creation = 0;
};

// Walks the blocks of a local extra field and reads the first "UT" block.
// Values that the block's own size does not cover are ignored. False when
// there is none.
bool FindExtendedTimes(const unsigned char* extra, std::size_t size, ExtendedTimes* out);

// FILETIME ticks (100 ns since 1601) of a Unix time.
std::uint64_t UnixTimeToFileTimeTicks(std::int32_t seconds);

// Traditional PKWARE encryption keys.
class TraditionalKeys {
 public:
  // Keys for |password| (may be null or empty).
  explicit TraditionalKeys(const char* password);
  unsigned char Decrypt(unsigned char c);
  unsigned char Encrypt(unsigned char c);

 private:
  unsigned char KeyByte() const;
  void Update(unsigned char plain);
  std::uint32_t key0_, key1_, key2_;
};

// The byte that the last of the 12 encryption-header bytes must decrypt to.
inline unsigned char EncryptionCheckByte(const CentralHeader& h) {
  return (h.flags & kFlagDataDescriptor) ? static_cast<unsigned char>((h.dosDateTime >> 8) & 0xFF)
                                         : static_cast<unsigned char>(h.crc32 >> 24);
}
constexpr std::uint32_t kEncryptionHeaderSize = 12;

}  // namespace archive
