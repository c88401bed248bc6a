#include "update/LauncherFile.h"

#include <cwchar>

namespace update {

namespace {

constexpr std::uint16_t kFileExecutableImage = 0x0002;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kOptionalMagicPe32 = 0x010B;
constexpr std::uint16_t kOptionalMagicPe32Plus = 0x020B;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr std::size_t kPeOffsetField = 0x3C;
constexpr std::size_t kFileHeaderBytes = 20;
constexpr std::size_t kSubsystemOffset = 68;  // in the optional header, PE32 and PE32+ alike

std::uint16_t Read16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

std::uint32_t Read32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

}  // namespace

const wchar_t* DescribeLauncherFileFault(LauncherFileFault fault) {
  switch (fault) {
    case LauncherFileFault::kNone:
      return L"a launcher with the published key";
    case LauncherFileFault::kUnreadable:
      return L"the file cannot be read";
    case LauncherFileFault::kNotProgram:
      return L"the file is not a Windows program";
    case LauncherFileFault::kOtherArchitecture:
      return L"the program is built for another processor";
    case LauncherFileFault::kNoVersion:
      return L"the program carries no version resource";
    case LauncherFileFault::kKeyMismatch:
      return L"the file's version key is not the published key";
  }
  return L"unknown";
}

LauncherFileFault CheckProgramHeaders(const unsigned char* bytes, std::size_t size, std::uint16_t machine) {
  if (!bytes || size < kPeOffsetField + 4 || bytes[0] != 'M' || bytes[1] != 'Z') return LauncherFileFault::kNotProgram;
  const std::uint32_t pe = Read32(bytes + kPeOffsetField);
  // Signature, file header, and the optional header up to its subsystem field.
  const std::size_t optional = std::size_t(pe) + 4 + kFileHeaderBytes;
  if (pe > size || size - pe < 4 + kFileHeaderBytes + kSubsystemOffset + 2) return LauncherFileFault::kNotProgram;
  if (bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0) {
    return LauncherFileFault::kNotProgram;
  }
  const std::uint16_t fileMachine = Read16(bytes + pe + 4);
  const std::uint16_t optionalSize = Read16(bytes + pe + 4 + 16);
  const std::uint16_t characteristics = Read16(bytes + pe + 4 + 18);
  if (!(characteristics & kFileExecutableImage) || (characteristics & kFileDll)) return LauncherFileFault::kNotProgram;
  if (optionalSize < kSubsystemOffset + 2) return LauncherFileFault::kNotProgram;
  if (fileMachine != machine) return LauncherFileFault::kOtherArchitecture;
  const std::uint16_t magic = Read16(bytes + optional);
  const std::uint16_t wanted = machine == kMachineAmd64 ? kOptionalMagicPe32Plus : kOptionalMagicPe32;
  if (magic != wanted) return LauncherFileFault::kOtherArchitecture;
  if (Read16(bytes + optional + kSubsystemOffset) != kSubsystemWindowsGui) return LauncherFileFault::kNotProgram;
  return LauncherFileFault::kNone;
}

bool FormatFileVersion(std::uint32_t versionMs, std::uint32_t versionLs, wchar_t (&out)[kVersionTextChars]) {
  const unsigned parts[4] = {versionMs >> 16, versionMs & 0xFFFFu, versionLs >> 16, versionLs & 0xFFFFu};
  wchar_t text[kVersionTextChars] = {};
  if (std::swprintf(text, kVersionTextChars, L"%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]) < 0) return false;
  std::wmemcpy(out, text, kVersionTextChars);
  return true;
}

}  // namespace update
