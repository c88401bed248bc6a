// Path rules of the process tools that need no Windows: which drives of a
// logical-drive list are looked at, and rewriting a device-form path
// (\Device\HarddiskVolume2\x) to its drive form (C:\x).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace diagnostics {

// Drive names ("C:") of a GetLogicalDriveStringsW list: roots separated by
// terminators, ending at an empty string or after |listChars| characters.
// A: and B: (floppy drives, which would spin up or prompt when queried) are
// left out, as is any entry that is not "<letter>:" followed by a backslash.
std::vector<std::wstring> DriveNamesFromRootList(const wchar_t* list, std::size_t listChars);

// When |devicePath| lies on the device |deviceTarget| (the first target
// string QueryDosDeviceW gives for |driveName|), sets |dosPath| to
// |driveName| followed by the rest of |devicePath| and returns true.
// The target is compared without regard to ASCII letter case and must end at
// a path separator or at the end of the input: \Device\HarddiskVolume1 does
// not claim \Device\HarddiskVolume10\x. |dosPath| is untouched on false.
bool RewriteDevicePath(const wchar_t* devicePath, const wchar_t* driveName, const wchar_t* deviceTarget,
                       std::wstring* dosPath);

// Size, in identifiers, of the next EnumProcesses attempt after one that
// filled |capacity| identifiers completely (so it may have left some out).
std::size_t GrowProcessIdCapacity(std::size_t capacity);

}  // namespace diagnostics
