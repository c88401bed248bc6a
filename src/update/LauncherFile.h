// What a downloaded file must be before it may replace the running launcher:
// a Windows program of the launcher's own architecture that carries a version
// resource, whose version key (MD5 of the file, then its dot-free version)
// equals the published key in full. That key is exactly the one the new
// launcher computes of itself at its next start, so a file that passes is
// not offered again, and a file that does not pass is never swapped in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "release/VersionKey.h"

namespace update {

// Why a file is not the published launcher.
enum class LauncherFileFault {
  kNone,
  kUnreadable,         // cannot be opened or read
  kNotProgram,         // no Windows executable image (empty, text, a DLL, a console program)
  kOtherArchitecture,  // an executable for another processor
  kNoVersion,          // no readable version resource
  kKeyMismatch,        // its version key is not the published key
};

// A short English description of |fault| for the update log.
const wchar_t* DescribeLauncherFileFault(LauncherFileFault fault);

// Machine numbers of the PE file header.
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

// The machine this launcher itself is built for.
constexpr std::uint16_t OwnMachine() {
#if defined(__x86_64__) || defined(_M_X64)
  return kMachineAmd64;
#else
  return kMachineI386;
#endif
}

// How many bytes from the file's start CheckProgramHeaders needs at most.
constexpr std::size_t kProgramHeaderBytes = 4096;

// Checks the DOS and PE headers in the first |size| bytes of a file: "MZ", a
// "PE\0\0" signature inside those bytes, an executable image that is no DLL,
// machine |machine| with the matching optional header (PE32 for i386, PE32+
// for AMD64), and the Windows GUI subsystem. kNone when all hold.
LauncherFileFault CheckProgramHeaders(const unsigned char* bytes, std::size_t size, std::uint16_t machine);

// Version text of the fixed file information ("3.0.1.5" from 0x00030000 and
// 0x00010005): the four 16-bit numbers in decimal, joined with dots.
constexpr std::size_t kVersionTextChars = 32;
bool FormatFileVersion(std::uint32_t versionMs, std::uint32_t versionLs, wchar_t (&out)[kVersionTextChars]);

// The version key of the launcher file at |path|, as that launcher computes
// it of itself: kNone with |key| filled, or the fault with |key| untouched.
// Never kKeyMismatch. (LauncherFile_win.cpp)
LauncherFileFault ComputeLauncherFileKey(const wchar_t* path, wchar_t (&key)[kVersionKeyChars]);
// The same, also giving the file's version text (|version| untouched on a fault).
LauncherFileFault ComputeLauncherFileKey(const wchar_t* path, wchar_t (&key)[kVersionKeyChars],
                                         wchar_t (&version)[kVersionTextChars]);

}  // namespace update
