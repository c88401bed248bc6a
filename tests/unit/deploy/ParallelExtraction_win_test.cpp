// Extraction with two readers: the same tree and the same first failure as
// one reader taking the entries in archive order.
#include "deploy/ParallelExtraction.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "archive/ZipTestBuilder.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using ziptest::Entry;

Entry Make(const std::string& name, const std::string& data, std::uint16_t method = archive::kMethodDeflated) {
  Entry e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

std::string Noise(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = char((seed = seed * 2654435761u + 1) >> 24);
  return s;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring Native(std::wstring path) {
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Small files "<prefix>NN.txt" whose content names them.
void AddSmallFiles(std::vector<Entry>* entries, const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    std::string name = prefix + std::to_string(100 + i) + ".txt";
    entries->push_back(Make(name, "content of " + name, i % 2 ? archive::kMethodStored : archive::kMethodDeflated));
  }
}

TEST(ParallelExtraction, SameTreeAsOneReaderInOrder) {
  ScratchFolder scratch;
  std::vector<Entry> entries;
  Entry folder = Make("game/", "", archive::kMethodStored);
  folder.external = 0x10;
  entries.push_back(folder);
  entries.push_back(Make("game/big.dat", Noise(2000000, 1)));
  AddSmallFiles(&entries, "game/s", 40);
  // The same name twice, the first one large: the second is created while
  // the other reader may still write the first, and must replace it.
  entries.push_back(Make("game/dup.dat", Noise(8000000, 2), archive::kMethodStored));
  entries.push_back(Make("game/DUP.dat", "second and last"));
  Entry readOnly = Make("game/ro.txt", "read only", archive::kMethodStored);
  readOnly.external = 0x21;
  entries.push_back(readOnly);
  entries.push_back(Make("nofolder/deep/file.bin", Noise(30000, 3)));  // no folder entries for it
  entries.push_back(Make("game/s100.txt", "replaced at the end"));
  ASSERT_TRUE(WriteFileBytes(scratch / L"pkg.zip", ziptest::Build(entries)));

  std::wstring out = scratch / L"out";
  ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
  deploy::ExtractionOutcome outcome = deploy::ExtractAllEntries((scratch / L"pkg.zip").c_str(), out.c_str());
  EXPECT_TRUE(outcome.opened);
  EXPECT_EQ(archive::ZipOk, outcome.result);
  EXPECT_EQ(-1, outcome.failedEntry);

  // The last entry of each name holds, as in archive order.
  std::vector<std::pair<std::string, std::string>> expected;
  for (const Entry& e : entries) {
    if (e.name.back() == '/') continue;
    std::string key = e.name;
    for (auto& c : key) c = char(::tolower(static_cast<unsigned char>(c)));
    bool replaced = false;
    for (auto& done : expected) {
      if (done.first == key) {
        done.second = e.data;
        replaced = true;
      }
    }
    if (!replaced) expected.push_back({key, e.data});
  }
  for (const auto& file : expected) {
    std::string got;
    ASSERT_TRUE(ReadFileBytes(out + L"\\" + Native(Widen(file.first)), &got)) << file.first;
    EXPECT_TRUE(got == file.second) << file.first;
  }
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), ::GetFileAttributesW((out + L"\\game\\ro.txt").c_str()) &
                                                (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

TEST(ParallelExtraction, FirstFailingEntryDecidesAndStopsLaterOnes) {
  struct Case {
    const char* what;
    Entry failing;             // entry 3
    const wchar_t* blockWith;  // a folder made in the destination first, or null
    archive::ZipResult result;
  };
  Entry readOnlyAgain = Make("ro.txt", "second copy");
  Entry blocked = Make("blocked.txt", Noise(50000, 4));
  const Case cases[] = {
      {"output blocked by a folder", blocked, L"blocked.txt", archive::ZipNoFile},
      {"read-only file named again", readOnlyAgain, nullptr, archive::ZipNoFile},
      {"stream name", Make("x.txt:stream", "x"), nullptr, archive::ZipBadArgs},
      {"name leaving the folder", Make("../evil.txt", "x"), nullptr, archive::ZipCorrupt},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    std::vector<Entry> entries;
    entries.push_back(Make("first.dat", Noise(300000, 5)));
    Entry readOnly = Make("ro.txt", "first copy", archive::kMethodStored);
    readOnly.external = 0x21;
    entries.push_back(readOnly);
    // Long to write: a failing creation of entry 3 waits for it before its
    // second try, and the other reader must not create anything meanwhile.
    entries.push_back(Make("third.dat", Noise(3000000, 7), archive::kMethodStored));
    entries.push_back(c.failing);
    AddSmallFiles(&entries, "later", 30);
    ASSERT_TRUE(WriteFileBytes(scratch / L"pkg.zip", ziptest::Build(entries)));
    std::wstring out = scratch / L"out";
    ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
    if (c.blockWith) {
      ASSERT_TRUE(::CreateDirectoryW((out + L"\\" + c.blockWith).c_str(), nullptr));
    }

    deploy::ExtractionOutcome outcome = deploy::ExtractAllEntries((scratch / L"pkg.zip").c_str(), out.c_str());
    EXPECT_EQ(c.result, outcome.result) << c.what;
    EXPECT_EQ(3, outcome.failedEntry) << c.what;
    for (const wchar_t* before : {L"first.dat", L"ro.txt", L"third.dat"}) {
      EXPECT_TRUE(Exists(out + L"\\" + before)) << c.what << " " << before;
    }
    std::string got;
    EXPECT_TRUE(ReadFileBytes(out + L"\\ro.txt", &got));
    EXPECT_EQ("first copy", got) << c.what;
    for (int i = 0; i < 30; ++i) {
      EXPECT_FALSE(Exists(out + L"\\later" + std::to_wstring(100 + i) + L".txt")) << c.what << " " << i;
    }
    EXPECT_FALSE(Exists(scratch / L"evil.txt")) << c.what;
  }
}

TEST(ParallelExtraction, DamagedDataDecidesOverALaterFailure) {
  // Entry 0 fails only at the end of its data, long after the other reader
  // has reached the refused name near the end: the earlier entry's result
  // still decides.
  ScratchFolder scratch;
  std::vector<Entry> entries;
  Entry damaged = Make("damaged.dat", Noise(3000000, 6));
  damaged.badCrc = true;
  entries.push_back(damaged);
  AddSmallFiles(&entries, "mid", 20);
  entries.push_back(Make("x.txt:stream", "refused"));
  ASSERT_TRUE(WriteFileBytes(scratch / L"pkg.zip", ziptest::Build(entries)));
  std::wstring out = scratch / L"out";
  ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));

  deploy::ExtractionOutcome outcome = deploy::ExtractAllEntries((scratch / L"pkg.zip").c_str(), out.c_str());
  EXPECT_EQ(archive::ZipInflateFailed, outcome.result);
  EXPECT_EQ(0, outcome.failedEntry);
}

TEST(ParallelExtraction, ArchiveThatCannotBeOpened) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteFileBytes(scratch / L"junk.zip", "not an archive at all"));
  deploy::ExtractionOutcome outcome =
      deploy::ExtractAllEntries((scratch / L"junk.zip").c_str(), scratch.path().c_str());
  EXPECT_FALSE(outcome.opened);
  EXPECT_EQ(-1, outcome.failedEntry);

  // An empty archive extracts nothing and succeeds.
  ASSERT_TRUE(WriteFileBytes(scratch / L"empty.zip", ziptest::Build({})));
  outcome = deploy::ExtractAllEntries((scratch / L"empty.zip").c_str(), scratch.path().c_str());
  EXPECT_TRUE(outcome.opened);
  EXPECT_EQ(archive::ZipOk, outcome.result);
  EXPECT_EQ(-1, outcome.failedEntry);
}

}  // namespace
