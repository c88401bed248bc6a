#include "archive/ZipReader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestBuilder.h"

using namespace archive;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using ziptest::Entry;

namespace {

Entry Make(const std::string& name, const std::string& data, std::uint16_t method = kMethodDeflated) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

std::uint64_t Ticks(const FILETIME& ft) { return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

std::wstring Widen(const std::string& utf8) {
  wchar_t out[512] = {};
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out, 512);
  return out;
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

struct FileTimes {
  FILETIME creation, access, write;
};
bool GetTimes(const std::wstring& path, FileTimes* t) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = ::GetFileTime(h, &t->creation, &t->access, &t->write) != 0;
  ::CloseHandle(h);
  return ok;
}

// Extracts every entry as the deployment does; the results in index order.
std::vector<ZipResult> ExtractAll(const std::wstring& zipPath, const std::wstring& folder) {
  std::vector<ZipResult> results;
  UniqueArchive zip(ArchiveOpen(zipPath.c_str()));
  if (!zip) return results;
  EXPECT_EQ(ZipOk, ArchiveSetBaseFolder(zip.get(), folder.c_str()));
  ArchiveEntry entry;
  EXPECT_EQ(ZipOk, ArchiveGetEntry(zip.get(), -1, &entry));
  int count = entry.index;
  for (int i = 0; i < count; ++i) {
    ArchiveGetEntry(zip.get(), i, &entry);
    results.push_back(ArchiveExtractEntry(zip.get(), i, entry.name));
  }
  return results;
}

std::string Noise(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = char((seed = seed * 2654435761u + 1) >> 24);
  return s;
}

}  // namespace

TEST(ZipReader, ExtractsFilesFoldersAttributesAndTimes) {
  ScratchFolder scratch;
  Entry folder = Make("game/", "", kMethodStored);
  folder.external = 0x10;
  Entry unixFolder = Make("game/data/", "", kMethodStored);
  unixFolder.madeBy = ziptest::kMadeByUnix;
  unixFolder.external = 0x41ED0010u;
  Entry exe = Make("game/tavr_online.exe", std::string(300000, 'x') + Noise(50000, 1));
  exe.localExtra = ziptest::UtBlock(7, 1600000000, 1600000100, 1500000000);
  Entry readOnly = Make("game/readme.txt", "read me", kMethodStored);
  readOnly.madeBy = ziptest::kMadeByUnix;
  readOnly.external = 0x81240000u;  // 0444
  Entry empty = Make("game/data/empty.dat", "", kMethodStored);
  Entry hidden = Make("game/hidden.ini", "[x]", kMethodStored);
  hidden.external = 0x22;  // hidden, archive
  Entry deep = Make("nofolder/deep/file.bin", Noise(40000, 2));  // no folder entries for it
  std::vector<Entry> entries = {folder, unixFolder, exe, readOnly, empty, hidden, deep};
  ASSERT_TRUE(WriteFileBytes(scratch / L"pkg.zip", ziptest::Build(entries)));

  std::wstring out = scratch / L"out\\nested";  // the base folder is made too
  std::vector<ZipResult> results = ExtractAll(scratch / L"pkg.zip", out);
  ASSERT_EQ(std::vector<ZipResult>(entries.size(), ZipOk), results);

  // "UT" times are exact. Wine keeps no creation time of its own (Linux
  // cannot set one), so only write and access are compared.
  FileTimes t;
  ASSERT_TRUE(GetTimes(out + L"\\game\\tavr_online.exe", &t));
  EXPECT_EQ((1600000000ULL + 11644473600ULL) * 10000000ULL, Ticks(t.write));
  EXPECT_EQ((1600000100ULL + 11644473600ULL) * 10000000ULL, Ticks(t.access));

  const DWORD kMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), Attributes(out + L"\\game\\readme.txt") & kMask);
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), Attributes(out + L"\\game\\hidden.ini") & kMask);
  EXPECT_EQ(0u, Attributes(out + L"\\game\\tavr_online.exe") & kMask);

  // DOS times are local: converted back they give the stored fields.
  for (const wchar_t* name : {L"\\game\\data\\empty.dat", L"\\game\\readme.txt"}) {
    ASSERT_TRUE(GetTimes(out + name, &t));
    FILETIME local;
    SYSTEMTIME st;
    ASSERT_TRUE(::FileTimeToLocalFileTime(&t.write, &local));
    ASSERT_TRUE(::FileTimeToSystemTime(&local, &st));
    EXPECT_EQ(2021, st.wYear) << name;
    EXPECT_EQ(6, st.wMonth) << name;
    EXPECT_EQ(15, st.wDay) << name;
    EXPECT_EQ(13, st.wHour) << name;
    EXPECT_EQ(45, st.wMinute) << name;
    EXPECT_EQ(30, st.wSecond) << name;
  }

  // Contents last: reading moves the access times.
  for (const Entry& e : entries) {
    std::wstring path = out + L"\\" + Widen(e.name);
    if (e.name.back() == '/') {
      EXPECT_TRUE(Attributes(path) & FILE_ATTRIBUTE_DIRECTORY) << e.name;
      continue;
    }
    std::string got;
    ASSERT_TRUE(ReadFileBytes(path, &got)) << e.name;
    EXPECT_EQ(e.data, got) << e.name;
  }
}

TEST(ZipReader, EntryRecords) {
  ScratchFolder scratch;
  Entry a = Make("dir/a.txt", std::string(1000, 'a'));
  a.localExtra = ziptest::UtBlock(1, 1234567890);
  Entry d = Make("dir/", "", kMethodStored);
  d.madeBy = ziptest::kMadeByUnix;
  d.external = 0x41ED0000u;
  ASSERT_TRUE(WriteFileBytes(scratch / L"r.zip", ziptest::Build({a, d})));
  UniqueArchive zip(ArchiveOpen((scratch / L"r.zip").c_str()));
  ASSERT_TRUE(zip);

  ArchiveEntry e;
  std::memset(&e, 0x5A, sizeof(e));
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), -1, &e));
  EXPECT_EQ(2, e.index);
  EXPECT_STREQ(L"", e.name);
  EXPECT_EQ(0u, e.attributes);
  EXPECT_EQ(0u, Ticks(e.lastWriteTime));
  EXPECT_EQ(0, e.compressedSize);
  EXPECT_EQ(0, e.uncompressedSize);

  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 0, &e));
  EXPECT_EQ(0, e.index);
  EXPECT_STREQ(L"dir/a.txt", e.name);
  EXPECT_EQ(0x20u, e.attributes);
  EXPECT_EQ(1000, e.uncompressedSize);
  EXPECT_LT(e.compressedSize, 100);
  EXPECT_EQ((1234567890ULL + 11644473600ULL) * 10000000ULL, Ticks(e.lastWriteTime));
  EXPECT_EQ(Ticks(e.creationTime), Ticks(e.lastAccessTime));  // both from the DOS time
  EXPECT_NE(Ticks(e.lastWriteTime), Ticks(e.creationTime));

  ArchiveEntry again;
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 0, &again));  // the cached record
  EXPECT_EQ(0, std::memcmp(&e, &again, sizeof(e)));

  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 1, &e));
  EXPECT_EQ(0x30u, e.attributes);
  EXPECT_STREQ(L"dir/", e.name);
}

// A name without the UTF-8 flag is read in the system's ANSI code page: 936
// on the players' Chinese Windows (the suite's locale), 1252 on a Western one
// (its C-locale run). The bytes are GBK's "中文", which 1252 reads as letters.
TEST(ZipReader, NamesInUtf8AndTheAnsiCodePage) {
  ScratchFolder scratch;
  const std::string ansiName = "\xD6\xD0\xCE\xC4.txt";
  const struct {
    unsigned codePage;
    const wchar_t* name;
  } pages[] = {
      {936, L"\u4E2D\u6587.txt"},
      {1252, L"\u00D6\u00D0\u00CE\u00C4.txt"},
  };
  const wchar_t* ansiWide = nullptr;
  for (const auto& page : pages) {
    if (page.codePage == ::GetACP()) ansiWide = page.name;
  }
  ASSERT_NE(nullptr, ansiWide) << "written for ANSI code pages 936 and 1252, not " << ::GetACP();
  std::string utf8Name = "\xE4\xB8\xAD\xE6\x96\x87/\xE8\xAF\xB4\xE6\x98\x8E.txt";  // 中文/说明.txt
  ASSERT_TRUE(WriteFileBytes(scratch / L"n.zip",
                             ziptest::Build({Make(utf8Name, "utf8"), Make(ansiName, "ansi", kMethodStored)})));

  UniqueArchive zip(ArchiveOpen((scratch / L"n.zip").c_str()));
  ASSERT_TRUE(zip);
  ArchiveEntry e;
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 0, &e));
  EXPECT_STREQ(L"\u4E2D\u6587/\u8BF4\u660E.txt", e.name);
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 1, &e));
  EXPECT_STREQ(ansiWide, e.name);
  zip.reset();

  ASSERT_EQ(std::vector<ZipResult>(2, ZipOk), ExtractAll(scratch / L"n.zip", scratch / L"out"));
  std::string got;
  EXPECT_TRUE(ReadFileBytes(scratch / L"out\\\u4E2D\u6587\\\u8BF4\u660E.txt", &got));
  EXPECT_EQ("utf8", got);
  EXPECT_TRUE(ReadFileBytes(scratch / (std::wstring(L"out\\") + ansiWide), &got));
  EXPECT_EQ("ansi", got);
}

TEST(ZipReader, OpenAcceptsAndRefuses) {
  ScratchFolder scratch;
  std::vector<Entry> one = {Make("f.txt", "content")};
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  } cases[] = {
      {"plain", ziptest::Build(one), true},
      {"executable in front", ziptest::Build(one, {"MZ" + std::string(70000, '\x90'), "", 0, 0, 0}), true},
      {"comment of 65513", ziptest::Build(one, {"", std::string(65513, '#'), 0, 0, 0}), true},
      {"comment of 65514", ziptest::Build(one, {"", std::string(65514, '#'), 0, 0, 0}), false},
      {"two disks", ziptest::Build(one, {"", "", 0, 1, 0}), false},
      {"not a zip", std::string(10000, 'z'), false},
      {"empty file", "", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::wstring path = scratch / (L"case" + std::to_wstring(n++) + L".zip");
    ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    UniqueArchive zip(ArchiveOpen(path.c_str()));
    EXPECT_EQ(c.opens, bool(zip)) << c.what;
    if (!zip) continue;
    std::wstring out = scratch / (L"out" + std::to_wstring(n));
    EXPECT_EQ(std::vector<ZipResult>(1, ZipOk), ExtractAll(path, out)) << c.what;
    std::string got;
    EXPECT_TRUE(ReadFileBytes(out + L"\\f.txt", &got)) << c.what;
    EXPECT_EQ("content", got) << c.what;
  }
  EXPECT_EQ(nullptr, ArchiveOpen((scratch / L"missing.zip").c_str()));
  EXPECT_EQ(nullptr, ArchiveOpen(scratch.path().c_str()));  // a folder
  EXPECT_EQ(nullptr, ArchiveOpen(nullptr));
  EXPECT_EQ(nullptr, ArchiveOpen(L""));
}

TEST(ZipReader, ResultOfEachFaultyEntry) {
  ScratchFolder scratch;
  std::string text(20000, 't');
  struct Case {
    const char* what;
    Entry entry;
    ZipResult result;
    const wchar_t* landsAt;  // under the base folder, when it succeeds
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, Entry e, ZipResult r, const wchar_t* at = nullptr) {
    cases.push_back({what, e, r, at});
  };
  Entry e = Make("enc.txt", text);
  e.encrypt = true;
  e.wrongCheck = true;
  add("encrypted, check byte differs", e, ZipPassword);
  e = Make("crc.txt", text);
  e.badCrc = true;
  add("CRC-32 mismatch", e, ZipInflateFailed);
  e = Make("method.txt", text);
  e.localMethodDiffers = true;
  add("local header disagrees", e, ZipCorrupt);
  e = Make("short.txt", "short", kMethodStored);
  e.hasDeclaredSize = true;
  e.declaredSize = 500;
  add("stored data runs out", e, ZipInflateFailed);
  add("../evil.txt", Make("../evil.txt", "x"), ZipCorrupt);
  add("a/../../evil2.txt", Make("a/../../evil2.txt", "x"), ZipCorrupt);
  add("..\\evil3.txt", Make("..\\evil3.txt", "x"), ZipCorrupt);
  add("x/..", Make("x/..", "x"), ZipCorrupt);
  add("name of 300 bytes", Make(std::string(300, 'L'), "x"), ZipCorrupt);
  add("C:\\x\\y.txt", Make("C:\\x\\y.txt", "drive"), ZipOk, L"x\\y.txt");
  add("/abs/f", Make("/abs/f", "abs"), ZipOk, L"abs\\f");
  add("a/../b", Make("a/../b", "b"), ZipOk, L"b");
  add("x/a\\..\\c", Make("x/a\\..\\c", "c"), ZipOk, L"c");
  e = Make("encrypted-ok.txt", text);
  e.encrypt = true;
  add("encrypted, check byte matches the empty password", e, ZipOk, L"encrypted-ok.txt");
  Entry java = Make("javadir/", "", kMethodStored);
  java.external = 0;
  add("folder marked only by its slash", java, ZipOk, L"javadir");
  e = Make("extra.txt", "x");
  e.localExtraLengthOverride = 0xF000;  // runs past the end of the archive
  add("local extra field past the end", e, ZipReadFailed);

  std::vector<Entry> entries;
  for (const Case& c : cases) entries.push_back(c.entry);
  ASSERT_TRUE(WriteFileBytes(scratch / L"faults.zip", ziptest::Build(entries)));
  std::wstring base = scratch / L"base\\inner";
  std::vector<ZipResult> results = ExtractAll(scratch / L"faults.zip", base);
  ASSERT_EQ(cases.size(), results.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].result, results[i]) << cases[i].what;
    if (cases[i].landsAt) {
      EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(base + L"\\" + cases[i].landsAt)) << cases[i].what;
    }
  }
  std::string got;
  EXPECT_TRUE(ReadFileBytes(base + L"\\encrypted-ok.txt", &got));
  EXPECT_EQ(text, got);
  // Nothing reached outside the base folder.
  for (const wchar_t* name : {L"evil.txt", L"evil2.txt", L"evil3.txt"}) {
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(scratch / (std::wstring(L"base\\") + name))) << name;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(scratch / name)) << name;
  }
}

TEST(ZipReader, ArgumentsAndDestinations) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteFileBytes(scratch / L"a.zip", ziptest::Build({Make("f.txt", "one"), Make("g.txt", "two")})));
  UniqueArchive zip(ArchiveOpen((scratch / L"a.zip").c_str()));
  ASSERT_TRUE(zip);
  ArchiveEntry e;
  EXPECT_EQ(ZipBadArgs, ArchiveGetEntry(nullptr, 0, &e));
  EXPECT_EQ(ZipBadArgs, ArchiveGetEntry(zip.get(), -2, &e));
  EXPECT_EQ(ZipBadArgs, ArchiveGetEntry(zip.get(), 2, &e));
  EXPECT_EQ(ZipBadArgs, ArchiveGetEntry(zip.get(), 0, nullptr));
  EXPECT_EQ(ZipBadArgs, ArchiveExtractEntry(nullptr, 0, L"f.txt"));
  EXPECT_EQ(ZipBadArgs, ArchiveExtractEntry(zip.get(), 2, L"f.txt"));
  EXPECT_EQ(ZipBadArgs, ArchiveExtractEntry(zip.get(), -1, L"f.txt"));
  EXPECT_EQ(ZipBadArgs, ArchiveSetBaseFolder(nullptr, L"C:\\"));
  EXPECT_EQ(ZipBadArgs, ArchiveSetBaseFolder(zip.get(), std::wstring(259, L'd').c_str()));  // no room for "\"
  EXPECT_EQ(ZipBadArgs, ArchiveClose(nullptr));

  ASSERT_EQ(ZipOk, ArchiveSetBaseFolder(zip.get(), (scratch / L"base").c_str()));
  // A caller's destination with ".." is refused too.
  EXPECT_EQ(ZipBadArgs, ArchiveExtractEntry(zip.get(), 0, L"..\\up.txt"));
  EXPECT_EQ(ZipBadArgs, ArchiveExtractEntry(zip.get(), 0, (scratch / L"x\\..\\up.txt").c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(scratch / L"up.txt"));
  // A destination too long for a path is refused, not cut.
  EXPECT_EQ(ZipNoFile, ArchiveExtractEntry(zip.get(), 0, std::wstring(255, L'n').c_str()));

  // Base folder given with a slash: kept as it is.
  ASSERT_EQ(ZipOk, ArchiveSetBaseFolder(zip.get(), (scratch / L"slash/").c_str()));
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(zip.get(), 0, L"renamed.txt"));
  std::string got;
  EXPECT_TRUE(ReadFileBytes(scratch / L"slash\\renamed.txt", &got));
  EXPECT_EQ("one", got);

  // An absolute destination ignores the base folder.
  std::wstring absolute = scratch / L"elsewhere\\deeper\\g-copy.txt";
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(zip.get(), 1, absolute.c_str()));
  EXPECT_TRUE(ReadFileBytes(absolute, &got));
  EXPECT_EQ("two", got);

  // Over an existing read-only file: ZipNoFile, the file unchanged.
  std::wstring ro = scratch / L"slash\\ro.txt";
  ASSERT_TRUE(WriteFileBytes(ro, "keep"));
  ASSERT_TRUE(::SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ZipNoFile, ArchiveExtractEntry(zip.get(), 0, L"ro.txt"));
  EXPECT_TRUE(ReadFileBytes(ro, &got));
  EXPECT_EQ("keep", got);

  // An existing file is replaced.
  std::wstring old = scratch / L"slash\\old.txt";
  ASSERT_TRUE(WriteFileBytes(old, "a much longer previous content"));
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(zip.get(), 1, L"old.txt"));
  EXPECT_TRUE(ReadFileBytes(old, &got));
  EXPECT_EQ("two", got);
}

TEST(ZipReader, BaseFolderStartsAsTheCurrentFolder) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteFileBytes(scratch / L"c.zip", ziptest::Build({Make("here.txt", "here")})));
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(scratch.path().c_str()));
  UniqueArchive zip(ArchiveOpen(L"c.zip"));
  ::SetCurrentDirectoryW(previous);
  ASSERT_TRUE(zip);
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(zip.get(), 0, L"here.txt"));
  std::string got;
  EXPECT_TRUE(ReadFileBytes(scratch / L"here.txt", &got));
}

TEST(ZipReader, UnreadableCentralHeaderFailsLaterEntries) {
  ScratchFolder scratch;
  std::string zip = ziptest::Build({Make("a.txt", "a"), Make("b.txt", "b"), Make("c.txt", "c")});
  zip[ziptest::CentralHeaderAt(zip, 1)] = 'X';
  ASSERT_TRUE(WriteFileBytes(scratch / L"broken.zip", zip));
  UniqueArchive archive(ArchiveOpen((scratch / L"broken.zip").c_str()));
  ASSERT_TRUE(archive);
  ArchiveEntry e;
  EXPECT_EQ(ZipOk, ArchiveGetEntry(archive.get(), 0, &e));
  EXPECT_EQ(ZipCorrupt, ArchiveGetEntry(archive.get(), 1, &e));
  EXPECT_STREQ(L"", e.name);  // cleared before anything else
  EXPECT_EQ(ZipCorrupt, ArchiveGetEntry(archive.get(), 2, &e));
  ASSERT_EQ(ZipOk, ArchiveSetBaseFolder(archive.get(), scratch.path().c_str()));
  EXPECT_EQ(ZipCorrupt, ArchiveExtractEntry(archive.get(), 2, L"c.txt"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(scratch / L"c.txt"));  // nothing created
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(archive.get(), 0, L"a.txt"));   // back to the first: fine again
}

TEST(ZipReader, CachedRecordStillExtractsItsOwnData) {
  // Entry 1's local header disagrees: its record fails after the directory
  // has stepped to it. Extracting entry 0 (cached) must write entry 0's data.
  ScratchFolder scratch;
  Entry bad = Make("bad.txt", "BAD DATA");
  bad.localMethodDiffers = true;
  ASSERT_TRUE(WriteFileBytes(scratch / L"c.zip", ziptest::Build({Make("good.txt", "good data"), bad})));
  UniqueArchive zip(ArchiveOpen((scratch / L"c.zip").c_str()));
  ASSERT_TRUE(zip);
  ASSERT_EQ(ZipOk, ArchiveSetBaseFolder(zip.get(), scratch.path().c_str()));
  ArchiveEntry e;
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 0, &e));
  EXPECT_EQ(ZipCorrupt, ArchiveGetEntry(zip.get(), 1, &e));
  EXPECT_EQ(ZipOk, ArchiveExtractEntry(zip.get(), 0, L"good.txt"));
  std::string got;
  EXPECT_TRUE(ReadFileBytes(scratch / L"good.txt", &got));
  EXPECT_EQ("good data", got);
}

TEST(ZipReader, ExtractingOverAnExtractedTree) {
  // The second pass finds every file but the last one in place: existing
  // files are replaced, a read-only one is refused and left as it is, and a
  // file missing in between is created.
  ScratchFolder scratch;
  Entry readOnly = Make("sub/ro.txt", "read only", kMethodStored);
  readOnly.external = 0x21;
  std::vector<Entry> entries = {Make("a.txt", "a"), readOnly, Make("sub/b.txt", std::string(70000, 'b')),
                                Make("sub/c.txt", "c")};
  ASSERT_TRUE(WriteFileBytes(scratch / L"t.zip", ziptest::Build(entries)));
  std::wstring out = scratch / L"out";
  ASSERT_EQ(std::vector<ZipResult>(4, ZipOk), ExtractAll(scratch / L"t.zip", out));

  ASSERT_TRUE(WriteFileBytes(out + L"\\sub\\b.txt", "changed by the player, and longer than before"));
  ASSERT_TRUE(::DeleteFileW((out + L"\\sub\\c.txt").c_str()));
  EXPECT_EQ((std::vector<ZipResult>{ZipOk, ZipNoFile, ZipOk, ZipOk}), ExtractAll(scratch / L"t.zip", out));
  std::string got;
  EXPECT_TRUE(ReadFileBytes(out + L"\\sub\\ro.txt", &got));
  EXPECT_EQ("read only", got);
  EXPECT_TRUE(ReadFileBytes(out + L"\\sub\\b.txt", &got));
  EXPECT_EQ(entries[2].data, got);
  EXPECT_TRUE(ReadFileBytes(out + L"\\sub\\c.txt", &got));
  EXPECT_EQ("c", got);
}

TEST(ZipReader, ExtractionInTwoSteps) {
  ScratchFolder scratch;
  Entry folder = Make("dir/", "", kMethodStored);
  folder.external = 0x10;
  ASSERT_TRUE(
      WriteFileBytes(scratch / L"s.zip", ziptest::Build({Make("a.txt", "first"), Make("b.txt", "second"), folder})));
  UniqueArchive zip(ArchiveOpen((scratch / L"s.zip").c_str()));
  ASSERT_TRUE(zip);
  ASSERT_EQ(ZipOk, ArchiveSetBaseFolder(zip.get(), scratch.path().c_str()));
  EXPECT_EQ(ZipBadArgs, ArchiveFinishEntry(nullptr));
  EXPECT_EQ(ZipBadArgs, ArchiveFinishEntry(zip.get()));  // nothing begun

  // Begun: the file is there (held open without sharing) until the data is
  // written; another call drops the begun entry as it is.
  ASSERT_EQ(ZipOk, ArchiveBeginEntry(zip.get(), 0, L"a.txt"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(scratch / L"a.txt"));
  std::string got = "x";
  EXPECT_FALSE(ReadFileBytes(scratch / L"a.txt", &got));
  ArchiveEntry e;
  ASSERT_EQ(ZipOk, ArchiveGetEntry(zip.get(), 1, &e));
  EXPECT_EQ(ZipBadArgs, ArchiveFinishEntry(zip.get()));
  EXPECT_TRUE(ReadFileBytes(scratch / L"a.txt", &got));
  EXPECT_EQ("", got);

  ASSERT_EQ(ZipOk, ArchiveBeginEntry(zip.get(), 1, L"b.txt"));
  EXPECT_EQ(ZipOk, ArchiveFinishEntry(zip.get()));
  EXPECT_TRUE(ReadFileBytes(scratch / L"b.txt", &got));
  EXPECT_EQ("second", got);
  EXPECT_EQ(ZipBadArgs, ArchiveFinishEntry(zip.get()));  // finished once

  // A folder entry is complete once begun.
  ASSERT_EQ(ZipOk, ArchiveBeginEntry(zip.get(), 2, L"dir/"));
  EXPECT_TRUE(Attributes(scratch / L"dir") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ZipOk, ArchiveFinishEntry(zip.get()));
}
