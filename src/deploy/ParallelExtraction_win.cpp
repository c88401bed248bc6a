#include "deploy/ParallelExtraction.h"

#include <windows.h>

#include <climits>

#include "base/UniqueHandle.h"
#include "deploy/PackageEntryName.h"

namespace deploy {

namespace {

using archive::ZipOk;
using archive::ZipResult;

// Inflating and the file system's round trips per file are what an
// extraction spends its time on; a second reader on the second processor
// takes half of both. More readers would mostly wait for their turn to
// create a file.
constexpr int kMaxReaders = 2;
constexpr int kNone = INT_MAX;

// What the readers of one extraction share; every field under |lock|.
struct SharedRun {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  int count = 0;
  int nextEntry = 0;        // the next entry to create
  bool creating = false;    // a reader is creating entry nextEntry - 1
  int failedEntry = kNone;  // the first failing entry in archive order so far
  ZipResult failedResult = ZipOk;
  int writing[kMaxReaders] = {kNone, kNone};  // the entry each reader writes the data of
};

struct Reader {
  SharedRun* run = nullptr;
  int slot = 0;
  archive::UniqueArchive archive;
  archive::ArchiveEntry entry = {};
};

class Locked {
 public:
  explicit Locked(SRWLOCK* lock) : lock_(lock) { ::AcquireSRWLockExclusive(lock_); }
  ~Locked() { ::ReleaseSRWLockExclusive(lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK* lock_;
};

// Under the lock.
void Wait(SharedRun& run) { ::SleepConditionVariableSRW(&run.changed, &run.lock, INFINITE, 0); }

// Under the lock.
void RecordFailure(SharedRun& run, int index, ZipResult result) {
  if (index < run.failedEntry) {
    run.failedEntry = index;
    run.failedResult = result;
  }
}

// Under the lock: whether another reader still writes an entry before |index|.
bool EarlierEntryOpen(const SharedRun& run, int slot, int index) {
  for (int s = 0; s < kMaxReaders; ++s) {
    if (s != slot && run.writing[s] < index) return true;
  }
  return false;
}

// Takes entries in archive order until none is left or one has failed.
// One reader at a time reads the next entry's record and creates its output
// (the creation step); the data is written while the other reader creates
// and writes the next ones. Each entry thus finds the folder as one reader
// extracting in order would have left it, and no entry is created after
// one whose creation failed. Whichever reader is free takes the next entry:
// neither waits for the other to be scheduled, only for a creation in
// progress.
void RunReader(Reader& reader) {
  SharedRun& run = *reader.run;
  for (;;) {
    int index;
    {
      Locked hold(&run.lock);
      while (run.creating) Wait(run);
      if (run.nextEntry >= run.count || run.nextEntry > run.failedEntry) return;
      run.creating = true;
      index = run.nextEntry++;
    }
    ZipResult r = archive::ArchiveGetEntry(reader.archive.get(), index, &reader.entry);
    // The reader takes rooted names as absolute paths; a package entry must
    // land inside the destination folder, whatever the archive says.
    if (r == ZipOk && !IsSafePackageEntryName(reader.entry.name)) r = archive::ZipBadArgs;
    if (r == ZipOk) {
      r = archive::ArchiveBeginEntry(reader.archive.get(), index, reader.entry.name);
      if (r == archive::ZipNoFile) {
        // The other reader may have held an earlier entry of the same name
        // open (no sharing). Once every earlier entry is complete, a second
        // try finds what an extraction in order would have found.
        {
          Locked hold(&run.lock);
          while (EarlierEntryOpen(run, reader.slot, index)) Wait(run);
        }
        r = archive::ArchiveBeginEntry(reader.archive.get(), index, reader.entry.name);
      }
    }
    {
      Locked hold(&run.lock);
      run.creating = false;
      if (r == ZipOk) {
        run.writing[reader.slot] = index;
      } else {
        RecordFailure(run, index, r);
      }
    }
    ::WakeAllConditionVariable(&run.changed);
    if (r != ZipOk) return;

    r = archive::ArchiveFinishEntry(reader.archive.get());
    {
      Locked hold(&run.lock);
      run.writing[reader.slot] = kNone;
      if (r != ZipOk) RecordFailure(run, index, r);
    }
    ::WakeAllConditionVariable(&run.changed);
    if (r != ZipOk) return;
  }
}

DWORD WINAPI ReaderThread(void* param) {
  RunReader(*static_cast<Reader*>(param));
  return 0;
}

int ProcessorCount() {
  SYSTEM_INFO info = {};
  ::GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

// Opens a reader of |archivePath| that extracts under |destFolder|; the
// result of setting the base folder in |result|.
bool OpenReader(Reader* reader, const wchar_t* archivePath, const wchar_t* destFolder, ZipResult* result) {
  reader->archive.reset(archive::ArchiveOpen(archivePath));
  if (!reader->archive) return false;
  *result = archive::ArchiveSetBaseFolder(reader->archive.get(), destFolder);
  return *result == ZipOk;
}

}  // namespace

ExtractionOutcome ExtractAllEntries(const wchar_t* archivePath, const wchar_t* destFolder) {
  ExtractionOutcome outcome;
  SharedRun run;
  Reader readers[kMaxReaders];
  ZipResult result = ZipOk;
  bool ready = OpenReader(&readers[0], archivePath, destFolder, &result);
  outcome.opened = bool(readers[0].archive);
  outcome.result = result;
  if (!ready) return outcome;
  archive::ArchiveEntry query;
  outcome.result = archive::ArchiveGetEntry(readers[0].archive.get(), -1, &query);
  if (outcome.result != ZipOk) return outcome;
  run.count = query.index;

  int readerCount = 1;
  if (run.count > 1 && ProcessorCount() > 1 && OpenReader(&readers[1], archivePath, destFolder, &result)) {
    readerCount = 2;
  }
  for (int i = 0; i < readerCount; ++i) {
    readers[i].run = &run;
    readers[i].slot = i;
  }
  // Without a second thread the first reader takes every entry.
  base::UniqueHandle helper;
  if (readerCount > 1) helper.reset(::CreateThread(nullptr, 0, ReaderThread, &readers[1], 0, nullptr));
  RunReader(readers[0]);
  if (helper) ::WaitForSingleObject(helper.get(), INFINITE);

  if (run.failedEntry != kNone) {
    outcome.result = run.failedResult;
    outcome.failedEntry = run.failedEntry;
  }
  return outcome;
}

}  // namespace deploy
