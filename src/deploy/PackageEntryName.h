// Which entry names of the game package may be unpacked into the install
// folder. Pure text rules, no Windows.
#pragma once

namespace deploy {

// True for a relative name that stays inside the destination folder: not
// empty, not rooted ("\x", "/x"), no drive or stream colon ("C:x", "a:s"),
// and no "." or ".." segment between separators. Folder entries may end in
// a separator.
bool IsSafePackageEntryName(const wchar_t* name);

}  // namespace deploy
