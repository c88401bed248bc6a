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
  // missing), in archive order. Returns 1 when every entry was extracted;
  // 0 for an empty argument, a missing archive, an archive that cannot be
  // opened, an entry name that would leave the folder, or at the first entry
  // that fails (the entries before it stay extracted, later ones are not
  // touched).
  int ExtractArchive(const wchar_t* archivePath, const wchar_t* destFolder);

  // The reader's last result (ZipOk before any call).
  archive::ZipResult lastResult() const { return m_lastResult; }

 private:
  int Fail(archive::ZipResult result);

  archive::UniqueArchive m_archive;
  archive::ZipResult m_lastResult;
  archive::ArchiveEntry m_entry;
};

}  // namespace deploy
