// The directory layer of the ZIP reader: walks an archive's central
// directory one header at a time and streams the current entry's data
// (stored or deflated, optionally with traditional encryption). Results are
// the small negative ReadResult codes. It reads through a ByteSource, so it
// knows nothing about files; the handle layer (ZipReader) supplies one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/ZipFormat.h"

namespace archive {

// Random-access bytes: the archive file, or memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool Size(std::uint64_t* size) = 0;
  // Reads up to |size| bytes at |position| into |buffer|; |*got| falls short
  // of |size| only at the end of the source. False when the read failed.
  virtual bool ReadAt(std::uint64_t position, void* buffer, std::uint32_t size, std::uint32_t* got) = 0;
};

// Bytes moved per read of compressed data. Sixteen kilobytes keeps a stream
// small; the extraction writes in larger pieces (ZipReader_win.cpp).
constexpr std::uint32_t kStreamBufferBytes = 16384;

struct EntryStream;

class ZipDirectory {
 public:
  // |source| must outlive the directory.
  explicit ZipDirectory(ByteSource* source);
  ~ZipDirectory();
  ZipDirectory(const ZipDirectory&) = delete;
  ZipDirectory& operator=(const ZipDirectory&) = delete;

  // Finds the end record, checks it and reads the first central header.
  // RdBadArchive when there is no valid single-disk end record.
  ReadResult Open();

  std::uint32_t EntryCount() const { return entryCount_; }
  std::uint64_t OffsetCorrection() const { return correction_; }
  int CurrentIndex() const { return currentIndex_; }
  bool CurrentValid() const { return currentValid_; }
  const CentralHeader& Current() const { return current_; }

  ReadResult GoToFirstEntry();
  // RdEndOfList when the current header is not valid or is the last one;
  // otherwise the result of reading the next header.
  ReadResult GoToNextEntry();
  // Steps (back to the first entry if needed, then forward) to |index|. Any
  // header that cannot be read on the way ends the walk with its result.
  ReadResult GoToEntry(int index);

  // Reads the current entry's name into |name| (|capacity| bytes) and
  // terminates it. RdBadArchive when the name needs |capacity| bytes or more.
  ReadResult ReadCurrentName(unsigned char* name, std::size_t capacity, std::size_t* length);

  // Checks the current entry's local header against its central header and
  // gives where its local extra field lies, its length, and name + extra.
  ReadResult CheckLocalHeader(std::uint64_t* extraPosition, std::uint32_t* extraLength, std::uint32_t* nameAndExtra);

  // Reads exactly |size| bytes at an absolute position of the source.
  ReadResult ReadExact(std::uint64_t position, void* buffer, std::uint32_t size);

  // Entry data of the current entry. At most one stream is open.
  ReadResult OpenStream(const char* password);
  bool HasStream() const { return stream_ != nullptr; }
  // Delivers up to |size| bytes: the count (0 once everything was
  // delivered), or a negative result. |*atEnd| becomes true with the read
  // that delivers the last byte. A CRC-32 that differs from the header's
  // fails that read with RdCrcMismatch; data that runs out before the
  // declared size fails it with RdIoError (stored) or RdBadArchive.
  int ReadStream(void* buffer, std::uint32_t size, bool* atEnd);
  // RdCrcMismatch when every byte was delivered and the CRC-32 differs.
  ReadResult CloseStream();

 private:
  ReadResult ReadCurrentHeader();
  ReadResult FindEndRecord(std::uint64_t* position);
  ReadResult Refill();

  ByteSource* source_;
  std::uint64_t correction_ = 0;
  std::uint32_t entryCount_ = 0;
  std::uint32_t directoryOffset_ = 0;
  std::uint32_t directorySize_ = 0;
  std::uint64_t endRecordPosition_ = 0;
  int currentIndex_ = 0;
  std::uint64_t currentPosition_ = 0;  // relative to the archive's start
  bool currentValid_ = false;
  CentralHeader current_ = {};
  std::unique_ptr<EntryStream> stream_;
};

}  // namespace archive
