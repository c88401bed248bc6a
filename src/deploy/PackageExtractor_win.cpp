#include "deploy/PackageExtractor.h"

#include "product/InstallLayout.h"
#include "deploy/PackageEntryName.h"
#include "deploy/ParallelExtraction.h"

namespace deploy {

PackageExtractor::PackageExtractor() : m_lastResult(archive::ZipOk), m_failedEntry(-1) {}

int PackageExtractor::ExtractArchive(const wchar_t* archivePath, const wchar_t* destFolder) {
  m_failedEntry = -1;
  if (!archivePath || !*archivePath || !destFolder || !*destFolder) return 0;
  if (!layout::FileExists(archivePath)) return 0;
  if (!layout::IsDirectory(destFolder)) {
    if (!layout::CreateDirectoryTree(destFolder) || !layout::IsDirectory(destFolder)) return 0;
  }
  ExtractionOutcome outcome = ExtractAllEntries(archivePath, destFolder);
  if (!outcome.opened) return 0;
  m_lastResult = outcome.result;
  m_failedEntry = outcome.failedEntry;
  return outcome.result == archive::ZipOk ? 1 : 0;
}

}  // namespace deploy
