#include "deploy/PackageExtractor.h"

#include "product/InstallLayout.h"
#include "deploy/PackageEntryName.h"

namespace deploy {

PackageExtractor::PackageExtractor() : m_lastResult(archive::ZipOk), m_entry() {}

int PackageExtractor::Fail(archive::ZipResult result) {
  m_lastResult = result;
  m_archive.reset();
  return 0;
}

int PackageExtractor::ExtractArchive(const wchar_t* archivePath, const wchar_t* destFolder) {
  if (!archivePath || !*archivePath || !destFolder || !*destFolder) return 0;
  if (!layout::FileExists(archivePath)) return 0;
  if (!layout::IsDirectory(destFolder)) {
    if (!layout::CreateDirectoryTree(destFolder) || !layout::IsDirectory(destFolder)) return 0;
  }

  m_archive.reset(archive::ArchiveOpen(archivePath));
  if (!m_archive) return 0;
  m_lastResult = archive::ArchiveSetBaseFolder(m_archive.get(), destFolder);
  if (m_lastResult != archive::ZipOk) return Fail(m_lastResult);
  m_lastResult = archive::ArchiveGetEntry(m_archive.get(), -1, &m_entry);
  if (m_lastResult != archive::ZipOk) return Fail(m_lastResult);

  const int count = m_entry.index;
  for (int i = 0; i < count; ++i) {
    m_lastResult = archive::ArchiveGetEntry(m_archive.get(), i, &m_entry);
    if (m_lastResult != archive::ZipOk) return Fail(m_lastResult);
    // The reader takes rooted names as absolute paths; a package entry must
    // land inside the destination folder, whatever the archive says.
    if (!IsSafePackageEntryName(m_entry.name)) return Fail(archive::ZipBadArgs);
    m_lastResult = archive::ArchiveExtractEntry(m_archive.get(), i, m_entry.name);
    if (m_lastResult != archive::ZipOk) return Fail(m_lastResult);
  }
  m_archive.reset();
  return 1;
}

}  // namespace deploy
