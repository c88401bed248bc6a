// Extracts every entry of an archive into a folder with one reader per
// processor (at most two), with the result of one reader taking the entries
// in archive order.
#pragma once

#include "archive/ZipReader.h"

namespace deploy {

struct ExtractionOutcome {
  bool opened = false;                      // the archive could be opened
  archive::ZipResult result = archive::ZipOk;  // the first failing result in archive order
  int failedEntry = -1;                     // that entry's index; -1 when no entry failed
};

// Extracts every entry of |archivePath| under |destFolder|. An entry fails
// when its record cannot be read, its name is not a safe package entry
// name (IsSafePackageEntryName), or its extraction fails; the first failing
// entry in archive order gives the outcome. A base folder that the reader
// refuses fails before any entry (result set, failedEntry -1).
//
// Outputs are created strictly in archive order, and a failure before the
// data (record, name, creation) stops everything after it: the entries
// before it are extracted and the later ones are not touched, as with one
// reader. Only when an entry's data fails (damaged, or a full disk) may
// later entries that the other reader had already created be extracted too.
ExtractionOutcome ExtractAllEntries(const wchar_t* archivePath, const wchar_t* destFolder);

}  // namespace deploy
