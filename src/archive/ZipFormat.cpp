#include "archive/ZipFormat.h"

#include <zlib.h>

#include <cstring>
#include <cwchar>

namespace archive {

bool ParseEndRecord(const unsigned char (&b)[kEndRecordSize], EndRecord* out) {
  if (ReadLe32(b) != kEndRecordSignature) return false;
  EndRecord r;
  r.thisDisk = ReadLe16(b + 4);
  r.directoryDisk = ReadLe16(b + 6);
  r.entriesOnDisk = ReadLe16(b + 8);
  r.totalEntries = ReadLe16(b + 10);
  r.directorySize = ReadLe32(b + 12);
  r.directoryOffset = ReadLe32(b + 16);
  r.commentLength = ReadLe16(b + 20);
  *out = r;
  return true;
}

bool ParseCentralHeader(const unsigned char (&b)[kCentralHeaderSize], CentralHeader* out) {
  if (ReadLe32(b) != kCentralHeaderSignature) return false;
  CentralHeader h;
  h.versionMadeBy = ReadLe16(b + 4);
  h.versionNeeded = ReadLe16(b + 6);
  h.flags = ReadLe16(b + 8);
  h.method = ReadLe16(b + 10);
  h.dosDateTime = ReadLe32(b + 12);
  h.crc32 = ReadLe32(b + 16);
  h.compressedSize = ReadLe32(b + 20);
  h.uncompressedSize = ReadLe32(b + 24);
  h.nameLength = ReadLe16(b + 28);
  h.extraLength = ReadLe16(b + 30);
  h.commentLength = ReadLe16(b + 32);
  h.startDisk = ReadLe16(b + 34);
  h.internalAttributes = ReadLe16(b + 36);
  h.externalAttributes = ReadLe32(b + 38);
  h.localHeaderOffset = ReadLe32(b + 42);
  *out = h;
  return true;
}

bool ParseLocalHeader(const unsigned char (&b)[kLocalHeaderSize], LocalHeader* out) {
  if (ReadLe32(b) != kLocalHeaderSignature) return false;
  LocalHeader h;
  h.versionNeeded = ReadLe16(b + 4);
  h.flags = ReadLe16(b + 6);
  h.method = ReadLe16(b + 8);
  h.dosDateTime = ReadLe32(b + 10);
  h.crc32 = ReadLe32(b + 14);
  h.compressedSize = ReadLe32(b + 18);
  h.uncompressedSize = ReadLe32(b + 22);
  h.nameLength = ReadLe16(b + 26);
  h.extraLength = ReadLe16(b + 28);
  *out = h;
  return true;
}

ReadResult CheckEndRecord(const EndRecord& end, std::uint64_t endRecordPosition, std::uint64_t* correction) {
  if (end.thisDisk != 0 || end.directoryDisk != 0 || end.entriesOnDisk != end.totalEntries) return RdBadArchive;
  std::uint64_t directoryEnd = std::uint64_t(end.directoryOffset) + end.directorySize;
  if (endRecordPosition < directoryEnd) return RdBadArchive;
  *correction = endRecordPosition - directoryEnd;
  return RdOk;
}

ReadResult CompareLocalHeader(const CentralHeader& central, const LocalHeader& local) {
  if (local.method != central.method) return RdBadArchive;
  if (central.method != kMethodStored && central.method != kMethodDeflated) return RdBadArchive;
  if (!(central.flags & kFlagDataDescriptor)) {
    if (local.crc32 != central.crc32 || local.compressedSize != central.compressedSize ||
        local.uncompressedSize != central.uncompressedSize) {
      return RdBadArchive;
    }
  }
  if (local.nameLength != central.nameLength) return RdBadArchive;
  return RdOk;
}

long FindLastEndSignature(const unsigned char* window, std::size_t size) {
  if (!window || size < 4) return -1;
  for (std::size_t i = size - 4 + 1; i-- > 0;) {
    if (window[i] == 0x50 && window[i + 1] == 0x4B && window[i + 2] == 0x05 && window[i + 3] == 0x06) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

bool IsUtf8Name(const unsigned char* bytes, std::size_t size) {
  if (!bytes) return false;
  bool sawHigh = false;
  std::size_t i = 0;
  while (i < size) {
    unsigned char c = bytes[i++];
    if (c < 0x80) continue;
    sawHigh = true;
    std::size_t follow;
    if (c < 0xC0) return false;  // a continuation byte without a lead
    if (c <= 0xDF) {
      follow = 1;
    } else if (c <= 0xEF) {
      follow = 2;
    } else if (c <= 0xF7) {
      follow = 3;
    } else if (c <= 0xFB || c >= 0xFE) {
      follow = 4;
    } else {
      follow = 5;  // FC, FD
    }
    if (size - i < follow) return false;  // cut off at the end
    for (std::size_t k = 0; k < follow; ++k) {
      unsigned char d = bytes[i++];
      if (d < 0x80 || d > 0xBF) return false;
    }
  }
  return sawHigh;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

void DropFront(wchar_t* name, std::size_t count) {
  std::size_t len = std::wcslen(name);
  if (count > len) count = len;
  std::wmemmove(name, name + count, len - count + 1);
}

}  // namespace

void CleanEntryName(wchar_t* name) {
  if (!name) return;
  static const wchar_t* const kParentRuns[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
  for (;;) {
    if (name[0] && name[1] == L':') {
      DropFront(name, 2);
      continue;
    }
    if (IsSeparator(name[0])) {
      DropFront(name, 1);
      continue;
    }
    bool dropped = false;
    for (const wchar_t* run : kParentRuns) {
      if (const wchar_t* at = std::wcsstr(name, run)) {
        DropFront(name, static_cast<std::size_t>(at - name) + 4);
        dropped = true;
        break;
      }
    }
    if (!dropped) return;
  }
}

bool HasParentSegment(const wchar_t* path) {
  if (!path) return false;
  const wchar_t* segment = path;
  for (const wchar_t* p = path;; ++p) {
    if (*p == L'\0' || IsSeparator(*p)) {
      if (p - segment == 2 && segment[0] == L'.' && segment[1] == L'.') return true;
      if (*p == L'\0') return false;
      segment = p + 1;
    }
  }
}

bool IsAbsoluteName(const wchar_t* path) {
  return path && (IsSeparator(path[0]) || (path[0] && path[1] == L':'));
}

std::uint32_t EntryAttributes(std::uint16_t versionMadeBy, std::uint32_t external, bool nameEndsInSeparator) {
  unsigned host = versionMadeBy >> 8;
  bool dosHost = host == 0 || host == 7 || host == 11 || host == 14;
  bool readOnly, hidden = false, system = false, folder, archive = true;
  if (dosHost || (external >> 16) == 0) {
    // Also the Unix-made entry without any mode recorded: its DOS byte is all
    // there is; reading the empty mode as "owner may not write" would mark
    // every such file read-only and block the next extraction over it.
    readOnly = external & 0x01;
    hidden = external & 0x02;
    system = external & 0x04;
    folder = external & 0x10;
    archive = external & 0x20;
  } else {
    folder = external & (1u << 30);
    readOnly = !(external & (1u << 23));
  }
  // Some writers (Java's among them) mark folder entries only by the
  // trailing separator of their name.
  if (nameEndsInSeparator) folder = true;
  std::uint32_t attributes = 0;
  if (readOnly) attributes |= 0x01;
  if (hidden) attributes |= 0x02;
  if (system) attributes |= 0x04;
  if (folder) attributes |= 0x10;
  if (archive) attributes |= 0x20;
  return attributes;
}

DosTime DecodeDosDateTime(std::uint32_t v) {
  std::uint32_t time = v & 0xFFFF, date = v >> 16;
  DosTime t;
  t.year = 1980 + int((date >> 9) & 0x7F);
  t.month = int((date >> 5) & 0x0F);
  t.day = int(date & 0x1F);
  t.hour = int((time >> 11) & 0x1F);
  t.minute = int((time >> 5) & 0x3F);
  t.second = 2 * int(time & 0x1F);
  return t;
}

bool FindExtendedTimes(const unsigned char* extra, std::size_t size, ExtendedTimes* out) {
  if (!extra || size <= 4) return false;
  std::size_t pos = 0;
  while (size - pos >= 5) {
    std::uint16_t id = ReadLe16(extra + pos);
    std::size_t dataSize = ReadLe16(extra + pos + 2);
    const unsigned char* data = extra + pos + 4;
    // A block may not run past the field; what it covers is all we read.
    std::size_t available = size - pos - 4;
    if (dataSize > available) dataSize = available;
    if (id == 0x5455 && dataSize >= 1) {  // "UT"
      ExtendedTimes t;
      unsigned flags = data[0];
      std::size_t at = 1;
      auto take = [&](unsigned bit, bool* has, std::int32_t* value) {
        if (!(flags & bit)) return;
        if (dataSize - at < 4) return;
        *has = true;
        *value = static_cast<std::int32_t>(ReadLe32(data + at));
        at += 4;
      };
      take(1, &t.hasWrite, &t.write);
      take(2, &t.hasAccess, &t.access);
      take(4, &t.hasCreation, &t.creation);
      *out = t;
      return true;
    }
    pos += 4 + dataSize;
  }
  return false;
}

std::uint64_t UnixTimeToFileTimeTicks(std::int32_t seconds) {
  return std::uint64_t(std::int64_t(seconds) + 11644473600LL) * 10000000ULL;
}

namespace {

inline std::uint32_t CrcByte(std::uint32_t crc, unsigned char c) {
  static const z_crc_t* const table = get_crc_table();
  return table[(crc ^ c) & 0xFF] ^ (crc >> 8);
}

}  // namespace

TraditionalKeys::TraditionalKeys(const char* password) : key0_(0x12345678), key1_(0x23456789), key2_(0x34567890) {
  if (password) {
    for (const char* p = password; *p; ++p) Update(static_cast<unsigned char>(*p));
  }
}

void TraditionalKeys::Update(unsigned char plain) {
  key0_ = CrcByte(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = CrcByte(key2_, static_cast<unsigned char>(key1_ >> 24));
}

unsigned char TraditionalKeys::KeyByte() const {
  std::uint32_t temp = (key2_ & 0xFFFF) | 2;
  return static_cast<unsigned char>(((temp * (temp ^ 1)) >> 8) & 0xFF);
}

unsigned char TraditionalKeys::Decrypt(unsigned char c) {
  unsigned char plain = static_cast<unsigned char>(c ^ KeyByte());
  Update(plain);
  return plain;
}

unsigned char TraditionalKeys::Encrypt(unsigned char plain) {
  unsigned char c = static_cast<unsigned char>(plain ^ KeyByte());
  Update(plain);
  return c;
}

}  // namespace archive
