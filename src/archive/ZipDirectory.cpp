#include "archive/ZipDirectory.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace archive {

struct EntryStream {
  std::unique_ptr<unsigned char[]> buffer;
  z_stream inflater = {};
  bool inflaterReady = false;
  std::uint64_t dataPosition = 0;  // next compressed byte, relative to the archive's start
  std::uint32_t compressedLeft = 0;
  std::uint32_t uncompressedLeft = 0;
  std::uint32_t crc = 0;
  std::uint32_t expectedCrc = 0;
  std::uint16_t method = 0;
  bool encrypted = false;
  TraditionalKeys keys{nullptr};
  std::uint32_t headerLeft = 0;
  unsigned char checkByte = 0;
  // Unconsumed input in |buffer|.
  std::uint32_t inputAt = 0;
  std::uint32_t inputLeft = 0;

  ~EntryStream() {
    if (inflaterReady) inflateEnd(&inflater);
  }
};

ZipDirectory::ZipDirectory(ByteSource* source) : source_(source) {}

ZipDirectory::~ZipDirectory() = default;

ReadResult ZipDirectory::ReadExact(std::uint64_t position, void* buffer, std::uint32_t size) {
  std::uint32_t got = 0;
  if (!source_->ReadAt(position, buffer, size, &got) || got != size) return RdIoError;
  return RdOk;
}

ReadResult ZipDirectory::FindEndRecord(std::uint64_t* position) {
  std::uint64_t size = 0;
  if (!source_->Size(&size)) return RdIoError;
  std::uint64_t maxBack = std::min<std::uint64_t>(kEndSearchSpan, size);
  unsigned char window[kEndSearchWindow];
  std::uint64_t back = 4;
  while (back < maxBack) {
    back = std::min<std::uint64_t>(back + kEndSearchStep, maxBack);
    std::uint64_t readPosition = size - back;
    std::uint32_t readSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(kEndSearchWindow, size - readPosition));
    if (ReadExact(readPosition, window, readSize) != RdOk) return RdIoError;
    long at = FindLastEndSignature(window, readSize);
    if (at >= 0) {
      *position = readPosition + static_cast<std::uint64_t>(at);
      return RdOk;
    }
  }
  return RdBadArchive;
}

ReadResult ZipDirectory::Open() {
  std::uint64_t endPosition = 0;
  if (FindEndRecord(&endPosition) != RdOk) return RdBadArchive;
  unsigned char bytes[kEndRecordSize];
  EndRecord end;
  if (ReadExact(endPosition, bytes, sizeof(bytes)) != RdOk || !ParseEndRecord(bytes, &end)) return RdBadArchive;
  std::uint64_t correction = 0;
  if (CheckEndRecord(end, endPosition, &correction) != RdOk) return RdBadArchive;
  correction_ = correction;
  entryCount_ = end.totalEntries;
  directoryOffset_ = end.directoryOffset;
  directorySize_ = end.directorySize;
  endRecordPosition_ = endPosition;
  GoToFirstEntry();  // an empty archive has no first header; the flag records it
  return RdOk;
}

ReadResult ZipDirectory::ReadCurrentHeader() {
  unsigned char bytes[kCentralHeaderSize];
  std::uint32_t got = 0;
  if (!source_->ReadAt(correction_ + currentPosition_, bytes, sizeof(bytes), &got)) return RdIoError;
  // A short read that still holds a wrong signature is a bad archive, as
  // the signature is checked before the fields are read.
  if (got < 4 || ReadLe32(bytes) != kCentralHeaderSignature) return got < 4 ? RdIoError : RdBadArchive;
  if (got != sizeof(bytes)) return RdIoError;
  CentralHeader header;
  ParseCentralHeader(bytes, &header);
  current_ = header;
  return RdOk;
}

ReadResult ZipDirectory::GoToFirstEntry() {
  currentPosition_ = directoryOffset_;
  currentIndex_ = 0;
  ReadResult r = ReadCurrentHeader();
  currentValid_ = r == RdOk;
  return r;
}

ReadResult ZipDirectory::GoToNextEntry() {
  if (!currentValid_ || std::uint32_t(currentIndex_) + 1 >= entryCount_) return RdEndOfList;
  currentPosition_ += kCentralHeaderSize + current_.nameLength + current_.extraLength + current_.commentLength;
  ++currentIndex_;
  ReadResult r = ReadCurrentHeader();
  currentValid_ = r == RdOk;
  return r;
}

ReadResult ZipDirectory::GoToEntry(int index) {
  if (index < 0 || std::uint32_t(index) >= entryCount_) return RdBadParam;
  if (index < currentIndex_) {
    ReadResult r = GoToFirstEntry();
    if (r != RdOk) return r;
  }
  while (currentIndex_ < index) {
    ReadResult r = GoToNextEntry();
    if (r != RdOk) return r == RdEndOfList ? RdBadArchive : r;
  }
  return currentValid_ ? RdOk : RdBadArchive;
}

ReadResult ZipDirectory::ReadCurrentName(unsigned char* name, std::size_t capacity, std::size_t* length) {
  if (!currentValid_ || !name || capacity == 0) return RdBadParam;
  std::uint16_t n = current_.nameLength;
  if (n >= capacity) return RdBadArchive;  // never cut: a cut name would be another file
  if (n && ReadExact(correction_ + currentPosition_ + kCentralHeaderSize, name, n) != RdOk) return RdIoError;
  name[n] = 0;
  *length = n;
  return RdOk;
}

ReadResult ZipDirectory::CheckLocalHeader(std::uint64_t* extraPosition, std::uint32_t* extraLength,
                                          std::uint32_t* nameAndExtra) {
  if (!currentValid_) return RdBadParam;
  std::uint64_t headerPosition = correction_ + current_.localHeaderOffset;
  unsigned char bytes[kLocalHeaderSize];
  std::uint32_t got = 0;
  if (!source_->ReadAt(headerPosition, bytes, sizeof(bytes), &got)) return RdIoError;
  if (got < 4 || ReadLe32(bytes) != kLocalHeaderSignature) return got < 4 ? RdIoError : RdBadArchive;
  if (got != sizeof(bytes)) return RdIoError;
  LocalHeader local;
  ParseLocalHeader(bytes, &local);
  ReadResult r = CompareLocalHeader(current_, local);
  if (r != RdOk) return r;
  *extraPosition = headerPosition + kLocalHeaderSize + local.nameLength;
  *extraLength = local.extraLength;
  *nameAndExtra = std::uint32_t(local.nameLength) + local.extraLength;
  return RdOk;
}

ReadResult ZipDirectory::OpenStream(const char* password) {
  if (!currentValid_) return RdBadParam;
  CloseStream();
  std::uint64_t extraPosition = 0;
  std::uint32_t extraLength = 0, nameAndExtra = 0;
  if (CheckLocalHeader(&extraPosition, &extraLength, &nameAndExtra) != RdOk) return RdBadArchive;

  std::unique_ptr<EntryStream> s(new (std::nothrow) EntryStream);
  if (!s) return RdNoMemory;
  s->buffer.reset(new (std::nothrow) unsigned char[kStreamBufferBytes]);
  if (!s->buffer) return RdNoMemory;
  if (current_.method == kMethodDeflated) {
    // Raw deflate: no zlib header, 32 KiB window.
    if (inflateInit2(&s->inflater, -MAX_WBITS) != Z_OK) return RdNoMemory;
    s->inflaterReady = true;
  }
  s->method = current_.method;
  s->expectedCrc = current_.crc32;
  s->crc = 0;
  s->compressedLeft = current_.compressedSize;
  s->uncompressedLeft = current_.uncompressedSize;
  s->dataPosition = std::uint64_t(current_.localHeaderOffset) + kLocalHeaderSize + nameAndExtra;
  s->encrypted = (current_.flags & kFlagEncrypted) != 0;
  if (s->encrypted) {
    s->headerLeft = kEncryptionHeaderSize;
    s->checkByte = EncryptionCheckByte(current_);
    s->keys = TraditionalKeys(password);
  }
  stream_ = std::move(s);
  return RdOk;
}

ReadResult ZipDirectory::Refill() {
  EntryStream& s = *stream_;
  std::uint32_t want = std::min(s.compressedLeft, kStreamBufferBytes);
  if (ReadExact(correction_ + s.dataPosition, s.buffer.get(), want) != RdOk) return RdIoError;
  s.dataPosition += want;
  s.compressedLeft -= want;
  s.inputAt = 0;
  s.inputLeft = want;
  if (s.encrypted) {
    unsigned char* p = s.buffer.get();
    for (std::uint32_t i = 0; i < want; ++i) p[i] = s.keys.Decrypt(p[i]);
  }
  return RdOk;
}

int ZipDirectory::ReadStream(void* buffer, std::uint32_t size, bool* atEnd) {
  *atEnd = false;
  if (!stream_) return RdBadParam;
  EntryStream& s = *stream_;
  if (!s.buffer) return RdEndOfList;
  if (size == 0) return 0;
  if (s.uncompressedLeft == 0) {
    *atEnd = true;
    return 0;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  size = std::min<std::uint32_t>(size, 0x7FFFFFFF);  // the count must fit the int result
  std::uint32_t target = std::min(size, s.uncompressedLeft);
  std::uint32_t delivered = 0;
  bool ended = false;
  while (delivered < target && !ended) {
    if (s.inputLeft == 0 && s.compressedLeft > 0) {
      ReadResult r = Refill();
      if (r != RdOk) return r;
    }
    while (s.headerLeft > 0 && s.inputLeft > 0) {
      unsigned char b = s.buffer[s.inputAt++];
      --s.inputLeft;
      if (--s.headerLeft == 0 && b != s.checkByte) return RdPassword;
    }
    if (s.headerLeft > 0) {
      if (s.compressedLeft == 0) return RdIoError;  // the data ends inside the encryption header
      continue;
    }
    if (s.method == kMethodStored) {
      // Input is only empty here when the compressed data is used up: the
      // entry is shorter than its declared size.
      if (s.inputLeft == 0) return RdIoError;
      std::uint32_t n = std::min(s.inputLeft, target - delivered);
      std::memcpy(out + delivered, s.buffer.get() + s.inputAt, n);
      s.crc = crc32(s.crc, out + delivered, n);
      s.inputAt += n;
      s.inputLeft -= n;
      s.uncompressedLeft -= n;
      delivered += n;
      if (s.uncompressedLeft == 0) ended = true;
    } else {
      z_stream& z = s.inflater;
      z.next_in = s.buffer.get() + s.inputAt;
      z.avail_in = s.inputLeft;
      z.next_out = out + delivered;
      z.avail_out = target - delivered;
      int zr = inflate(&z, Z_NO_FLUSH);
      std::uint32_t produced = (target - delivered) - z.avail_out;
      s.inputAt = static_cast<std::uint32_t>(z.next_in - s.buffer.get());
      s.inputLeft = z.avail_in;
      s.crc = crc32(s.crc, out + delivered, produced);
      s.uncompressedLeft -= produced;
      delivered += produced;
      if (zr == Z_STREAM_END) {
        // A deflate stream that ends before the declared size is short data.
        if (s.uncompressedLeft != 0) return RdBadArchive;
        ended = true;
      } else if (s.uncompressedLeft == 0) {
        ended = true;
      } else if (zr != Z_OK) {
        // zlib's own negative codes pass through; Z_NEED_DICT (positive)
        // would read as a byte count, and a raw stream never has one.
        return zr < 0 ? zr : Z_DATA_ERROR;
      }
    }
  }
  if (ended || s.uncompressedLeft == 0) {
    *atEnd = true;
    s.uncompressedLeft = 0;
    if (s.crc != s.expectedCrc) return RdCrcMismatch;
  }
  return static_cast<int>(delivered);
}

ReadResult ZipDirectory::CloseStream() {
  if (!stream_) return RdOk;
  ReadResult r = RdOk;
  if (stream_->uncompressedLeft == 0 && stream_->crc != stream_->expectedCrc) r = RdCrcMismatch;
  stream_.reset();
  return r;
}

}  // namespace archive
