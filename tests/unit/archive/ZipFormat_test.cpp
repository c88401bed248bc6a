#include "archive/ZipFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ZipTestBuilder.h"

using namespace archive;

namespace {

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

TEST(ZipFormat, Utf8NameTest) {
  struct Case {
    std::string bytes;
    bool utf8;
  } cases[] = {
      {"", false},
      {"plain/ascii.txt", false},                      // no high byte: not UTF-8
      {"\xE4\xB8\xAD\xE6\x96\x87.txt", true},          // 中文
      {"caf\xC3\xA9", true},
      {"caf\xE9", false},                              // Latin-1 e-acute: lead without continuation
      {"\x80x", false},                                // stray continuation byte
      {"a\xC3", false},                                // sequence cut off at the end
      {"\xE4\xB8", false},
      {"\xE4\x41\x80", false},                         // ASCII inside a sequence
      {"\xF0\x9F\x98\x80", true},                      // 4-byte form
      {"\xF8\x88\x80\x80\x80", true},                  // old 5-byte form (4 continuations)
      {"\xFC\x84\x80\x80\x80\x80", true},              // old 6-byte form (5 continuations)
      {"\xFE\x80\x80\x80\x80", true},                  // FE/FF count as 4 continuations
      {"\xFC\x84\x80\x80\x80", false},                 // one continuation short
      {"\xC4\xE3\xBA\xC3", false},                     // GBK 你好: C4 then E3 is no continuation
      {"\xC3\xA4\xC3\xB6", true},                      // GBK-looking bytes that form UTF-8: UTF-8 wins
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.utf8, IsUtf8Name(Bytes(c.bytes), c.bytes.size())) << testing::PrintToString(c.bytes);
  }
}

TEST(ZipFormat, CleanEntryNameCases) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"C:\\x\\y.txt", L"x\\y.txt"},
      {L"/abs/f", L"abs/f"},
      {L"a/../b", L"b"},
      {L"x/a\\..\\b", L"b"},
      {L"\\\\server\\share\\f", L"server\\share\\f"},
      {L"C:/D:\\e", L"e"},                    // drive, separator, drive, separator
      {L"a\\../b/..\\c", L"c"},               // "\..\" is looked for first, then the others
      {L"../x", L"../x"},                     // no separator before: left for the refusal test
      {L"x/..", L"x/.."},
      {L"plain.txt", L"plain.txt"},
      {L"dir/", L"dir/"},
      {L"C:", L""},
      {L"", L""},
      {L"a/.../b", L"a/.../b"},               // three dots is a name
  };
  for (const Case& c : cases) {
    wchar_t name[260];
    wcscpy(name, c.in);
    CleanEntryName(name);
    EXPECT_STREQ(c.out, name) << c.in;
  }
}

TEST(ZipFormat, ParentSegmentAndAbsoluteNames) {
  struct Case {
    const wchar_t* path;
    bool parent;
    bool absolute;
  } cases[] = {
      {L"../x", true, false},   {L"..\\x", true, false},  {L"..", true, false},      {L"x/..", true, false},
      {L"a\\..\\b", true, false}, {L"..x/y", false, false}, {L"x..", false, false},  {L"a/.../b", false, false},
      {L"./a", false, false},   {L"\\x", false, true},    {L"/x/../y", true, true},  {L"C:x", false, true},
      {L"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.parent, HasParentSegment(c.path)) << c.path;
    EXPECT_EQ(c.absolute, IsAbsoluteName(c.path)) << c.path;
  }
}

TEST(ZipFormat, EntryAttributesByHost) {
  struct Case {
    const char* what;
    std::uint16_t madeBy;
    std::uint32_t external;
    bool trailingSeparator;
    std::uint32_t attributes;
  } cases[] = {
      {"DOS archive file", 0x0014, 0x20, false, 0x20},
      {"DOS read-only hidden system", 0x0014, 0x27, false, 0x27},
      {"DOS folder", 0x0014, 0x10, false, 0x10},
      {"NTFS host 11 uses the DOS byte", 0x0B14, 0x21, false, 0x21},
      {"VFAT host 14", 0x0E14, 0x02, false, 0x02},
      {"host 7 (Mac)", 0x0714, 0x01, false, 0x01},
      {"Unix 0644 file", 0x031E, 0x81A40000u, false, 0x20},
      {"Unix 0444 file is read-only", 0x031E, 0x81240000u, false, 0x21},
      {"Unix folder 0755", 0x031E, 0x41ED0010u, false, 0x30},
      {"Unix ignores DOS hidden bit", 0x031E, 0x81A40002u, false, 0x20},
      {"Unix without a mode falls back to DOS", 0x031E, 0x00000020u, false, 0x20},
      {"Unix without a mode, no bits", 0x031E, 0, false, 0},
      {"other host (OS/2 = 6) read as Unix", 0x0614, 0x81240000u, false, 0x21},
      {"Java-style folder: only the trailing slash", 0x0014, 0, true, 0x10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.attributes, EntryAttributes(c.madeBy, c.external, c.trailingSeparator)) << c.what;
  }
}

TEST(ZipFormat, DosDateTimeFields) {
  DosTime t = DecodeDosDateTime(ziptest::kDosStamp);
  EXPECT_EQ(2021, t.year);
  EXPECT_EQ(6, t.month);
  EXPECT_EQ(15, t.day);
  EXPECT_EQ(13, t.hour);
  EXPECT_EQ(45, t.minute);
  EXPECT_EQ(30, t.second);
  DosTime zero = DecodeDosDateTime(0);
  EXPECT_EQ(1980, zero.year);
  EXPECT_EQ(0, zero.month);  // invalid: the caller's conversion refuses it
}

TEST(ZipFormat, ExtendedTimesBlocks) {
  std::string other;
  ziptest::Put16(other, 0x7875);  // "ux" block first
  ziptest::Put16(other, 3);
  other += std::string("\x01\x04\x00", 3);
  std::string truncatedUt;  // claims write and access, carries only write
  ziptest::Put16(truncatedUt, 0x5455);
  ziptest::Put16(truncatedUt, 9);
  truncatedUt.push_back(3);
  ziptest::Put32(truncatedUt, 1000);
  struct Case {
    const char* what;
    std::string extra;
    bool found;
    bool hasWrite, hasAccess, hasCreation;
    std::int32_t write, access, creation;
  } cases[] = {
      {"write only", ziptest::UtBlock(1, 1600000000), true, true, false, false, 1600000000, 0, 0},
      {"all three", ziptest::UtBlock(7, 100, 200, -300), true, true, true, true, 100, 200, -300},
      {"access only", ziptest::UtBlock(2, 0, 55), true, false, true, false, 0, 55, 0},
      {"after another block", other + ziptest::UtBlock(1, 42), true, true, false, false, 42, 0, 0},
      {"first UT counts", ziptest::UtBlock(1, 1) + ziptest::UtBlock(1, 2), true, true, false, false, 1, 0, 0},
      {"block size beyond the field", truncatedUt, true, true, false, false, 1000, 0, 0},
      {"no UT", other, false, false, false, false, 0, 0, 0},
      {"too short for a block", std::string("UT\x01\x00", 4), false, false, false, false, 0, 0, 0},
      {"empty", std::string(), false, false, false, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ExtendedTimes t;
    ASSERT_EQ(c.found, FindExtendedTimes(Bytes(c.extra), c.extra.size(), &t)) << c.what;
    if (!c.found) continue;
    EXPECT_EQ(c.hasWrite, t.hasWrite) << c.what;
    EXPECT_EQ(c.hasAccess, t.hasAccess) << c.what;
    EXPECT_EQ(c.hasCreation, t.hasCreation) << c.what;
    if (c.hasWrite) {
      EXPECT_EQ(c.write, t.write) << c.what;
    }
    if (c.hasAccess) {
      EXPECT_EQ(c.access, t.access) << c.what;
    }
    if (c.hasCreation) {
      EXPECT_EQ(c.creation, t.creation) << c.what;
    }
  }
  EXPECT_EQ(116444736000000000ULL, UnixTimeToFileTimeTicks(0));
  EXPECT_EQ(116444736000000000ULL + 10000000ULL * 86400, UnixTimeToFileTimeTicks(86400));
  EXPECT_EQ(116444736000000000ULL - 10000000ULL, UnixTimeToFileTimeTicks(-1));
}

TEST(ZipFormat, EndSignatureSearchFindsTheLast) {
  std::string w = "xxPK\x05\x06yyPK\x05\x06zz";
  EXPECT_EQ(8, FindLastEndSignature(Bytes(w), w.size()));
  std::string atEnd = "abPK\x05\x06";
  EXPECT_EQ(2, FindLastEndSignature(Bytes(atEnd), atEnd.size()));
  std::string cut = "abcPK\x05";
  EXPECT_EQ(-1, FindLastEndSignature(Bytes(cut), cut.size()));
  EXPECT_EQ(-1, FindLastEndSignature(Bytes(w), 3));
}

TEST(ZipFormat, EndRecordChecks) {
  EndRecord good = {0, 0, 3, 3, 100, 500, 0};
  struct Case {
    const char* what;
    EndRecord end;
    std::uint64_t position;
    ReadResult result;
    std::uint64_t correction;
  } cases[] = {
      {"plain", good, 600, RdOk, 0},
      {"data in front", good, 612, RdOk, 12},
      {"record inside the directory", good, 599, RdBadArchive, 0},
      {"second disk", {1, 0, 3, 3, 100, 500, 0}, 600, RdBadArchive, 0},
      {"directory on another disk", {0, 1, 3, 3, 100, 500, 0}, 600, RdBadArchive, 0},
      {"entries differ", {0, 0, 2, 3, 100, 500, 0}, 600, RdBadArchive, 0},
  };
  for (const Case& c : cases) {
    std::uint64_t correction = 777;
    EXPECT_EQ(c.result, CheckEndRecord(c.end, c.position, &correction)) << c.what;
    EXPECT_EQ(c.result == RdOk ? c.correction : 777u, correction) << c.what;
  }
}

TEST(ZipFormat, LocalHeaderComparison) {
  CentralHeader central = {};
  central.method = 8;
  central.crc32 = 0xCAFEBABE;
  central.compressedSize = 10;
  central.uncompressedSize = 20;
  central.nameLength = 5;
  LocalHeader same = {};
  same.method = 8;
  same.crc32 = 0xCAFEBABE;
  same.compressedSize = 10;
  same.uncompressedSize = 20;
  same.nameLength = 5;
  EXPECT_EQ(RdOk, CompareLocalHeader(central, same));

  LocalHeader l = same;
  l.method = 0;
  EXPECT_EQ(RdBadArchive, CompareLocalHeader(central, l));
  l = same;
  l.crc32 = 0;
  EXPECT_EQ(RdBadArchive, CompareLocalHeader(central, l));
  l = same;
  l.uncompressedSize = 0;
  EXPECT_EQ(RdBadArchive, CompareLocalHeader(central, l));
  l = same;
  l.nameLength = 4;
  EXPECT_EQ(RdBadArchive, CompareLocalHeader(central, l));

  // Data descriptor: zeros in the local header are expected.
  CentralHeader described = central;
  described.flags = kFlagDataDescriptor;
  LocalHeader zeros = same;
  zeros.crc32 = zeros.compressedSize = zeros.uncompressedSize = 0;
  EXPECT_EQ(RdOk, CompareLocalHeader(described, zeros));

  // Neither stored nor deflated (bzip2 = 12).
  CentralHeader bzip = central;
  bzip.method = 12;
  LocalHeader lb = same;
  lb.method = 12;
  EXPECT_EQ(RdBadArchive, CompareLocalHeader(bzip, lb));
}

TEST(ZipFormat, TraditionalEncryptionRoundTrip) {
  const std::string plain = "The quick brown fox jumps over the lazy dog";
  for (const char* password : {static_cast<const char*>(nullptr), "", "secret"}) {
    TraditionalKeys encrypt(password), decrypt(password);
    std::string cipher, back;
    for (char c : plain) cipher.push_back(char(encrypt.Encrypt(static_cast<unsigned char>(c))));
    for (char c : cipher) back.push_back(char(decrypt.Decrypt(static_cast<unsigned char>(c))));
    EXPECT_NE(plain, cipher);
    EXPECT_EQ(plain, back);
  }
  // Another password gives other bytes.
  TraditionalKeys a("a"), b("b");
  EXPECT_NE(a.Encrypt('x'), b.Encrypt('x'));

  CentralHeader h = {};
  h.crc32 = 0xAB000000;
  h.dosDateTime = 0x1234CD00;
  EXPECT_EQ(0xAB, EncryptionCheckByte(h));
  h.flags = kFlagDataDescriptor;
  EXPECT_EQ(0xCD, EncryptionCheckByte(h));
}
