#include "archive/ZipDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ZipTestBuilder.h"

using namespace archive;
using ziptest::Entry;

namespace {

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  bool Size(std::uint64_t* size) override {
    *size = bytes_.size();
    return true;
  }
  bool ReadAt(std::uint64_t position, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    ++reads;
    if (position >= bytes_.size()) {
      *got = 0;
      return true;
    }
    std::size_t n = std::min<std::size_t>(size, bytes_.size() - position);
    std::memcpy(buffer, bytes_.data() + position, n);
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
  int reads = 0;

 private:
  std::string bytes_;
};

Entry Make(const std::string& name, const std::string& data, std::uint16_t method = kMethodDeflated) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  unsigned x = 12345;
  for (auto& c : s) {
    x = x * 1103515245 + 12345;
    c = char((x >> 16) % 7 + 'a');  // compressible but not trivially
  }
  return s;
}

// Reads the whole current entry in |chunk|-byte reads; the last result
// (bytes or error) ends up in |*last|.
std::string ReadAll(ZipDirectory& dir, std::uint32_t chunk, int* last) {
  std::string out;
  std::vector<char> buf(chunk);
  for (int guard = 0; guard < 100000; ++guard) {
    bool atEnd = false;
    int n = dir.ReadStream(buf.data(), chunk, &atEnd);
    *last = n;
    if (n > 0) out.append(buf.data(), static_cast<std::size_t>(n));
    if (n < 0 || atEnd || n == 0) break;
  }
  return out;
}

}  // namespace

TEST(ZipDirectory, OpenValidAndInvalidArchives) {
  std::vector<Entry> two = {Make("a.txt", "alpha"), Make("b.txt", "beta")};
  struct Case {
    const char* what;
    std::string bytes;
    ReadResult result;
    std::uint64_t correction;
  } cases[] = {
      {"plain", ziptest::Build(two), RdOk, 0},
      {"empty archive", ziptest::Build({}), RdOk, 0},
      {"data in front", ziptest::Build(two, {std::string(1000, 'M'), "", 0, 0, 0}), RdOk, 1000},
      {"comment of 65513 bytes", ziptest::Build(two, {"", std::string(65513, 'c'), 0, 0, 0}), RdOk, 0},
      {"comment of 65514 bytes", ziptest::Build(two, {"", std::string(65514, 'c'), 0, 0, 0}), RdBadArchive, 0},
      {"two disks claimed", ziptest::Build(two, {"", "", 1, 1, 0}), RdBadArchive, 0},
      {"entries on disk differ", ziptest::Build(two, {"", "", 0, 0, -1}), RdBadArchive, 0},
      {"no end record", std::string(5000, 'x'), RdBadArchive, 0},
      {"tiny file", "PK", RdBadArchive, 0},
      {"empty file", "", RdBadArchive, 0},
      {"end record cut short", ziptest::Build(two).substr(0, ziptest::Build(two).size() - 4), RdBadArchive, 0},
  };
  for (const Case& c : cases) {
    MemorySource source(c.bytes);
    ZipDirectory dir(&source);
    EXPECT_EQ(c.result, dir.Open()) << c.what;
    if (c.result == RdOk) {
      EXPECT_EQ(c.correction, dir.OffsetCorrection()) << c.what;
    }
  }
}

TEST(ZipDirectory, EndRecordSearchReadsOnlyTheTail) {
  // A big archive: the search must not read it whole.
  std::vector<Entry> big = {Make("big.bin", Pattern(3 << 20), kMethodStored)};
  MemorySource source(ziptest::Build(big, {"", std::string(3000, 'c'), 0, 0, 0}));
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  EXPECT_LE(source.reads, 8);  // 4 windows for the comment, the record, the first header
}

TEST(ZipDirectory, SteppingAndNames) {
  std::vector<Entry> entries = {Make("zero", "0"), Make("one/", ""), Make("two/file.txt", "2"), Make("three", "3")};
  MemorySource source(ziptest::Build(entries));
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  ASSERT_EQ(4u, dir.EntryCount());
  for (int i : {2, 3, 0, 1, 3, 1}) {
    ASSERT_EQ(RdOk, dir.GoToEntry(i)) << i;
    EXPECT_EQ(i, dir.CurrentIndex());
    unsigned char name[kNameBytes];
    std::size_t length = 0;
    ASSERT_EQ(RdOk, dir.ReadCurrentName(name, sizeof(name), &length));
    EXPECT_EQ(entries[i].name, std::string(reinterpret_cast<char*>(name), length));
    EXPECT_EQ('\0', name[length]);
  }
  ASSERT_EQ(RdOk, dir.GoToEntry(3));
  EXPECT_EQ(RdEndOfList, dir.GoToNextEntry());
  EXPECT_EQ(RdBadParam, dir.GoToEntry(4));
  EXPECT_EQ(RdBadParam, dir.GoToEntry(-1));
}

TEST(ZipDirectory, BrokenCentralHeaderEndsTheStep) {
  std::vector<Entry> entries = {Make("a", "1"), Make("b", "2"), Make("c", "3"), Make("d", "4")};
  std::string zip = ziptest::Build(entries);
  zip[ziptest::CentralHeaderAt(zip, 2)] = 'X';  // entry 2's signature
  MemorySource source(zip);
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  EXPECT_EQ(RdOk, dir.GoToEntry(1));
  EXPECT_EQ(RdBadArchive, dir.GoToEntry(2));
  EXPECT_EQ(RdBadArchive, dir.GoToEntry(3));  // stepping from the broken header is not retried
  EXPECT_EQ(RdOk, dir.GoToEntry(0));          // going back starts over from the first
}

TEST(ZipDirectory, LongNamesAreRefusedWithinTheBuffer) {
  std::vector<Entry> entries = {Make(std::string(259, 'n'), "ok"), Make(std::string(260, 'n'), "no"),
                                Make(std::string(1000, 'n'), "no")};
  MemorySource source(ziptest::Build(entries));
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  struct Guarded {
    unsigned char name[kNameBytes];
    unsigned char guard[64];
  } buffer;
  std::memset(&buffer, 0xEE, sizeof(buffer));
  std::size_t length = 0;
  ASSERT_EQ(RdOk, dir.GoToEntry(0));
  EXPECT_EQ(RdOk, dir.ReadCurrentName(buffer.name, sizeof(buffer.name), &length));
  EXPECT_EQ(259u, length);
  for (int i : {1, 2}) {
    ASSERT_EQ(RdOk, dir.GoToEntry(i));
    EXPECT_EQ(RdBadArchive, dir.ReadCurrentName(buffer.name, sizeof(buffer.name), &length)) << i;
  }
  for (unsigned char g : buffer.guard) ASSERT_EQ(0xEE, g);
}

TEST(ZipDirectory, StreamsStoredAndDeflatedData) {
  std::string big = Pattern(200000);
  std::string noise(70000, '\0');
  unsigned x = 7;
  for (auto& c : noise) c = char((x = x * 2654435761u + 1) >> 24);
  std::vector<Entry> entries = {Make("stored", big, kMethodStored), Make("deflated", big), Make("empty", ""),
                                Make("empty-stored", "", kMethodStored), Make("noise", noise)};
  MemorySource source(ziptest::Build(entries, {std::string(33, 'p'), "", 0, 0, 0}));
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  for (std::uint32_t chunk : {1u, 777u, 16384u, 300000u}) {
    for (int i = 0; i < int(entries.size()); ++i) {
      if (chunk == 1 && entries[i].data.size() > 5000) continue;  // bytewise reads of the small ones only
      ASSERT_EQ(RdOk, dir.GoToEntry(i));
      ASSERT_EQ(RdOk, dir.OpenStream(nullptr));
      int last = 0;
      std::string got = ReadAll(dir, chunk, &last);
      EXPECT_GE(last, 0) << i << " chunk " << chunk;
      EXPECT_EQ(entries[i].data, got) << i << " chunk " << chunk;
      EXPECT_EQ(RdOk, dir.CloseStream());
    }
  }
}

TEST(ZipDirectory, StreamFaults) {
  std::string text = Pattern(50000);
  Entry badCrcStored = Make("crc-stored", text, kMethodStored);
  badCrcStored.badCrc = true;
  Entry badCrcDeflated = Make("crc-deflated", text);
  badCrcDeflated.badCrc = true;
  Entry shortStored = Make("short-stored", "only this much", kMethodStored);
  shortStored.hasDeclaredSize = true;
  shortStored.declaredSize = 100;  // more than the data holds
  Entry shortDeflated = Make("short-deflated", text);
  shortDeflated.hasDeclaredSize = true;
  shortDeflated.declaredSize = 60000;
  Entry garbage = Make("garbage", text, kMethodDeflated);
  Entry wrongPassword = Make("encrypted", text);
  wrongPassword.encrypt = true;
  wrongPassword.wrongCheck = true;
  Entry rightCheck = Make("encrypted-ok", text);
  rightCheck.encrypt = true;
  Entry rightCheckStored = Make("encrypted-stored", text, kMethodStored);
  rightCheckStored.encrypt = true;
  Entry describedEncrypted = Make("encrypted-descriptor", text);
  describedEncrypted.encrypt = true;
  describedEncrypted.flags = kFlagDataDescriptor;

  Entry emptyBadCrc = Make("empty-crc", "", kMethodStored);
  emptyBadCrc.badCrc = true;

  std::vector<Entry> entries = {badCrcStored, badCrcDeflated, shortStored, shortDeflated, garbage,
                                wrongPassword, rightCheck, rightCheckStored, describedEncrypted, emptyBadCrc};
  std::string zip = ziptest::Build(entries);
  // The deflated data of "garbage" starts with a reserved block type.
  zip[zip.find("garbage") + 7] = char(0xFF);

  struct Expect {
    const char* what;
    int result;  // final read result: negative error, or >= 0 for success
  } expects[] = {
      {"stored CRC mismatch", RdCrcMismatch}, {"deflated CRC mismatch", RdCrcMismatch},
      {"stored data runs out", RdIoError},    {"deflate stream ends early", RdBadArchive},
      {"corrupt deflate data", Z_DATA_ERROR}, {"wrong check byte", RdPassword},
      {"check byte matches", 0},              {"stored, check byte matches", 0},
      {"data descriptor: check byte from the time", 0},
      {"empty entry claiming a CRC", RdCrcMismatch},
  };
  MemorySource source(zip);
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  for (int i = 0; i < int(entries.size()); ++i) {
    ASSERT_EQ(RdOk, dir.GoToEntry(i));
    ASSERT_EQ(RdOk, dir.OpenStream(nullptr));
    int last = 0;
    std::string got = ReadAll(dir, 16384, &last);
    if (expects[i].result < 0) {
      EXPECT_EQ(expects[i].result, last) << expects[i].what;
    } else {
      EXPECT_GE(last, 0) << expects[i].what;
      EXPECT_EQ(text, got) << expects[i].what;
    }
    dir.CloseStream();
  }
}

TEST(ZipDirectory, LocalHeaderMismatchFailsTheStream) {
  Entry e = Make("x", "data");
  e.localMethodDiffers = true;
  MemorySource source(ziptest::Build({e}));
  ZipDirectory dir(&source);
  ASSERT_EQ(RdOk, dir.Open());
  std::uint64_t pos;
  std::uint32_t len, total;
  EXPECT_EQ(RdBadArchive, dir.CheckLocalHeader(&pos, &len, &total));
  EXPECT_EQ(RdBadArchive, dir.OpenStream(nullptr));
  bool atEnd = false;
  char buf[16];
  EXPECT_EQ(RdBadParam, dir.ReadStream(buf, sizeof(buf), &atEnd));  // no stream
}
