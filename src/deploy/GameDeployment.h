// Unpacking the game package, which the launcher carries as resource ZIP 129,
// into the install folder.
#pragma once

namespace deploy {

// Writes the package out to "tavrelair.zip" in the install folder, ends the
// crash-report uploader and the game running from there, and unpacks the
// package over the install folder. The package file is deleted afterwards
// (or at the next restart when it is still in use); after a failed
// extraction it stays. Nothing is reported to the player.
void DeployGamePackage();

// Writes resource ZIP 129 of the running executable to |path|, replacing
// any file there. Returns 1 when the whole resource was written; 0 for an
// empty path, a missing resource or a failed write, after which no partial
// file is left behind.
int WriteZipResource(const wchar_t* path);

}  // namespace deploy
