#include "diagnostics/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using diagnostics::DriveNamesFromRootList;
using diagnostics::RewriteDevicePath;

std::vector<std::wstring> Drives(const std::wstring& list) { return DriveNamesFromRootList(list.c_str(), list.size()); }

TEST(DevicePaths, DriveListSkipsFloppiesAndOddEntries) {
  using namespace std::string_literals;
  EXPECT_EQ(Drives(L"A:\\\0B:\\\0C:\\\0D:\\\0\0"s), (std::vector<std::wstring>{L"C:", L"D:"}));
  EXPECT_EQ(Drives(L"a:\\\0b:\\\0z:\\\0\0"s), (std::vector<std::wstring>{L"z:"}));
  EXPECT_EQ(Drives(L"\0"s), std::vector<std::wstring>{});
  // Not a drive root: left out, and the walk stays in step with the next one.
  EXPECT_EQ(Drives(L"C:\\mnt\\x\\\0E:\\\0\0"s), (std::vector<std::wstring>{L"C:", L"E:"}));
  EXPECT_EQ(Drives(L"1:\\\0E:\\\0\0"s), (std::vector<std::wstring>{L"E:"}));
  // A list without its final terminator ends at the given length.
  EXPECT_EQ(DriveNamesFromRootList(L"C:\\\0D:\\", 7), (std::vector<std::wstring>{L"C:", L"D:"}));
  EXPECT_TRUE(DriveNamesFromRootList(nullptr, 10).empty());
}

TEST(DevicePaths, RewriteTable) {
  struct Case {
    const wchar_t* device;
    const wchar_t* target;
    bool matches;
    const wchar_t* dos;
  } cases[] = {
      {L"\\Device\\HarddiskVolume2\\Games\\a.exe", L"\\Device\\HarddiskVolume2", true, L"C:\\Games\\a.exe"},
      {L"\\DEVICE\\harddiskvolume2\\Games\\a.exe", L"\\Device\\HarddiskVolume2", true, L"C:\\Games\\a.exe"},
      {L"\\Device\\HarddiskVolume2", L"\\Device\\HarddiskVolume2", true, L"C:"},
      {L"\\Device\\HarddiskVolume2\\x", L"\\Device\\HarddiskVolume2\\", true, L"C:\\x"},
      // Another volume whose name merely starts with the target's.
      {L"\\Device\\HarddiskVolume20\\Games\\a.exe", L"\\Device\\HarddiskVolume2", false, nullptr},
      {L"\\Device\\HarddiskVolume1\\a.exe", L"\\Device\\HarddiskVolume2", false, nullptr},
      {L"\\Device\\Harddisk", L"\\Device\\HarddiskVolume2", false, nullptr},
      {L"\\Device\\HarddiskVolume2\\a.exe", L"", false, nullptr},
  };
  for (const Case& c : cases) {
    std::wstring out = L"untouched";
    EXPECT_EQ(RewriteDevicePath(c.device, L"C:", c.target, &out), c.matches) << c.device << L" on " << c.target;
    EXPECT_EQ(out, c.matches ? std::wstring(c.dos) : std::wstring(L"untouched")) << c.device;
  }
}

TEST(DevicePaths, ProcessIdArrayGrowsPastTheFirst512) {
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(0), 512u);
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(512), 1024u);
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(1024), 2048u);
}

}  // namespace
