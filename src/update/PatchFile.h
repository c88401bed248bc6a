// Applying a launcher patch to files (PatchApply_win.cpp).
#pragma once

#include <cstdint>

#include "update/PatchApply.h"

namespace update {

// Writes at |newPath| the file the patch at |patchPath| makes of the file at
// |oldPath| (ApplyPatch with |expectedSize|). On a fault nothing stays at
// |newPath|.
PatchFault ApplyPatchFile(const wchar_t* oldPath, const wchar_t* patchPath, const wchar_t* newPath,
                          std::uint64_t expectedSize);

}  // namespace update
