// Unpacks one archive into one folder through the ZIP reader.
#pragma once

#include "archive/ZipReader.h"

namespace deploy {

class PackageExtractor {
 public:
  PackageExtractor();
  PackageExtractor(const PackageExtractor&) = delete;
  PackageExtractor& operator=(const PackageExtractor&) = delete;

  // Extracts every entry of |archivePath| under |destFolder| (made when
  // missing) with ExtractAllEntries (ParallelExtraction.h). Returns 1 when
  // every entry was extracted; 0 for an empty argument, a missing archive,
  // an archive that cannot be opened, or when an entry fails: its record
  // cannot be read, its name would leave the folder, or its extraction
  // fails. The first failing entry in archive order gives the result; the
  // entries before it stay extracted.
  int ExtractArchive(const wchar_t* archivePath, const wchar_t* destFolder);

  // The reader's last result (ZipOk before any call): the first failing
  // entry's result after a failed extraction.
  archive::ZipResult lastResult() const { return m_lastResult; }
  // The index of that entry, -1 when no entry failed.
  int failedEntry() const { return m_failedEntry; }

 private:
  archive::ZipResult m_lastResult;
  int m_failedEntry;
};

}  // namespace deploy
