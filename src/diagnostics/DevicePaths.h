// Path rules of the process tools that need no Windows: which drives of a
// logical-drive list are looked at, and rewriting a device-form path
// (\Device\HarddiskVolume2\x) to its drive form (C:\x).
#pragma once

#include <cstddef>

namespace diagnostics {

// Walks a GetLogicalDriveStringsW list (roots separated by terminators,
// ending at an empty string or after |listChars| characters): sets |name| to
// the next drive name ("C:") from |*position| on and moves |*position| past
// it. A: and B: (floppy drives, which would spin up or prompt when queried)
// are left out, as is any entry that is not "<letter>:" followed by a
// backslash. Start with |*position| 0; false when no drive is left.
bool NextDriveName(const wchar_t* list, std::size_t listChars, std::size_t* position, wchar_t (&name)[3]);

// How many leading characters of |devicePath| name the device |deviceTarget|
// (the first target string QueryDosDeviceW gives for a drive): the target's
// length, compared without regard to ASCII letter case, when the path goes
// on with a separator or ends there; 0 when the path lies on another device.
// \Device\HarddiskVolume1 does not claim \Device\HarddiskVolume10\x, and a
// target given with a trailing separator still names the device itself.
std::size_t DeviceTargetLength(const wchar_t* devicePath, const wchar_t* deviceTarget);

// Size, in identifiers, of the next EnumProcesses attempt after one that
// filled |capacity| identifiers completely (so it may have left some out).
std::size_t GrowProcessIdCapacity(std::size_t capacity);

}  // namespace diagnostics
