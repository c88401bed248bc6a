#include "update/LauncherFile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "product/ProductInfo.h"
#include "telemetry/DeviceCode.h"
#include "base/Md5.h"

namespace {

using update::LauncherFileFault;

// Smallest headers CheckProgramHeaders accepts: MZ, PE at 0x80, an optional
// header long enough to hold the subsystem field.
std::string MakeHeaders(std::uint16_t machine, std::uint16_t magic, std::uint16_t characteristics,
                        std::uint16_t subsystem) {
  std::string bytes(0x200, '\0');
  auto put16 = [&bytes](std::size_t at, std::uint16_t v) {
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
  };
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = char(0x80);
  std::memcpy(&bytes[0x80], "PE\0\0", 4);
  put16(0x84, machine);
  put16(0x84 + 16, 0xF0);  // size of the optional header
  put16(0x84 + 18, characteristics);
  put16(0x98, magic);
  put16(0x98 + 68, subsystem);
  return bytes;
}

LauncherFileFault Check(const std::string& bytes, std::uint16_t machine) {
  return update::CheckProgramHeaders(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), machine);
}

// The launcher built beside the tests (the tests run in the build folder).
std::wstring BuiltLauncher() {
  wchar_t full[MAX_PATH] = {};
  ::GetFullPathNameW(L"Tavrel_Launcher.exe", MAX_PATH, full, nullptr);
  return full;
}

}  // namespace

TEST(LauncherFile, HeadersOfAGuiProgramForOneMachineOnly) {
  const std::uint16_t exe = 0x0002, dll = 0x2002;
  struct Case {
    const char* what;
    std::string bytes;
    std::uint16_t machine;
    LauncherFileFault expected;
  } cases[] = {
      {"amd64 gui program", MakeHeaders(0x8664, 0x20B, exe, 2), 0x8664, LauncherFileFault::kNone},
      {"i386 gui program", MakeHeaders(0x14C, 0x10B, exe, 2), 0x14C, LauncherFileFault::kNone},
      {"i386 program, amd64 wanted", MakeHeaders(0x14C, 0x10B, exe, 2), 0x8664, LauncherFileFault::kOtherArchitecture},
      {"amd64 machine, PE32 header", MakeHeaders(0x8664, 0x10B, exe, 2), 0x8664, LauncherFileFault::kOtherArchitecture},
      {"a DLL", MakeHeaders(0x8664, 0x20B, dll, 2), 0x8664, LauncherFileFault::kNotProgram},
      {"not an executable image", MakeHeaders(0x8664, 0x20B, 0, 2), 0x8664, LauncherFileFault::kNotProgram},
      {"a console program", MakeHeaders(0x8664, 0x20B, exe, 3), 0x8664, LauncherFileFault::kNotProgram},
      {"empty", std::string(), 0x8664, LauncherFileFault::kNotProgram},
      {"text", std::string(600, 'x'), 0x8664, LauncherFileFault::kNotProgram},
      {"MZ only", std::string("MZ"), 0x8664, LauncherFileFault::kNotProgram},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Check(c.bytes, c.machine)) << c.what;

  // Offsets that point past the bytes read, or headers cut short.
  std::string beyond = MakeHeaders(0x8664, 0x20B, exe, 2);
  beyond[0x3C] = char(0xF0);
  beyond[0x3D] = char(0xFF);
  EXPECT_EQ(LauncherFileFault::kNotProgram, Check(beyond, 0x8664));
  EXPECT_EQ(LauncherFileFault::kNotProgram, Check(MakeHeaders(0x8664, 0x20B, exe, 2).substr(0, 0x98 + 68), 0x8664));
  std::string noSignature = MakeHeaders(0x8664, 0x20B, exe, 2);
  noSignature[0x81] = 'X';
  EXPECT_EQ(LauncherFileFault::kNotProgram, Check(noSignature, 0x8664));
}

TEST(LauncherFile, FileVersionTextKeepsEveryDigit) {
  wchar_t text[update::kVersionTextChars] = {};
  ASSERT_TRUE(update::FormatFileVersion(0x00030000, 0x0001000A, text));
  EXPECT_STREQ(L"3.0.1.10", text);
  ASSERT_TRUE(update::FormatFileVersion(0xFFFFFFFF, 0xFFFFFFFF, text));
  EXPECT_STREQ(L"65535.65535.65535.65535", text);
}

// The built launcher's key from its file is the key it computes of itself:
// its digest and product::kVersion, which its version resource carries.
TEST(LauncherFile, BuiltLauncherKeyIsItsOwnKey) {
  const std::wstring launcher = BuiltLauncher();
  wchar_t key[update::kVersionKeyChars] = {};
  ASSERT_EQ(LauncherFileFault::kNone, update::ComputeLauncherFileKey(launcher.c_str(), key));
  wchar_t digest[telemetry::kMd5HexChars] = {};
  ASSERT_TRUE(telemetry::Md5HexOfFile(launcher.c_str(), digest));
  wchar_t own[update::kVersionKeyChars] = {};
  ASSERT_TRUE(update::MakeVersionKey(digest, product::kVersion, own));
  EXPECT_STREQ(own, key);
}

TEST(LauncherFile, FilesThatAreNoLauncherHaveNoKey) {
  testing_support::ScratchFolder folder;
  std::string launcher;
  ASSERT_TRUE(testing_support::ReadFileBytes(BuiltLauncher(), &launcher));

  // The version resource's fixed information with its signature broken (the
  // signature follows the resource's UTF-16 key; the same four bytes may
  // also stand in the code).
  std::string noVersion = launcher;
  const wchar_t resourceKey[] = L"VS_VERSION_INFO";
  const std::size_t keyAt = noVersion.find(std::string(reinterpret_cast<const char*>(resourceKey),
                                                       sizeof(resourceKey) - sizeof(wchar_t)));
  ASSERT_NE(std::string::npos, keyAt);
  const char signature[4] = {char(0xBD), char(0x04), char(0xEF), char(0xFE)};
  const std::size_t at = noVersion.find(std::string(signature, 4), keyAt);
  ASSERT_NE(std::string::npos, at);
  noVersion[at] = 0;
  // The same program marked for the other processor.
  std::string otherMachine = launcher;
  const std::uint32_t pe = *reinterpret_cast<const std::uint32_t*>(&launcher[0x3C]);
  const std::uint16_t other = update::OwnMachine() == update::kMachineAmd64 ? update::kMachineI386
                                                                           : update::kMachineAmd64;
  std::memcpy(&otherMachine[pe + 4], &other, 2);

  struct Case {
    const wchar_t* name;
    std::string bytes;
    LauncherFileFault expected;
  } cases[] = {
      {L"empty.exe", std::string(), LauncherFileFault::kNotProgram},
      {L"page.exe", std::string("<html>not found</html>"), LauncherFileFault::kNotProgram},
      {L"noversion.exe", noVersion, LauncherFileFault::kNoVersion},
      {L"othermachine.exe", otherMachine, LauncherFileFault::kOtherArchitecture},
  };
  for (const Case& c : cases) {
    const std::wstring path = folder / c.name;
    ASSERT_TRUE(testing_support::WriteFileBytes(path, c.bytes));
    wchar_t key[update::kVersionKeyChars] = L"untouched";
    EXPECT_EQ(c.expected, update::ComputeLauncherFileKey(path.c_str(), key)) << c.bytes.size();
    EXPECT_STREQ(L"untouched", key);
  }
  wchar_t key[update::kVersionKeyChars] = L"untouched";
  EXPECT_EQ(LauncherFileFault::kUnreadable, update::ComputeLauncherFileKey((folder / L"missing.exe").c_str(), key));
}
