#include "diagnostics/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> DrivesOf(const wchar_t* list, std::size_t listChars) {
  std::vector<std::wstring> names;
  std::size_t position = 0;
  wchar_t name[3] = L"?";
  while (diagnostics::NextDriveName(list, listChars, &position, name)) names.push_back(name);
  return names;
}

std::vector<std::wstring> Drives(const std::wstring& list) { return DrivesOf(list.c_str(), list.size()); }

TEST(DevicePaths, DriveListSkipsFloppiesAndOddEntries) {
  using namespace std::string_literals;
  EXPECT_EQ(Drives(L"A:\\\0B:\\\0C:\\\0D:\\\0\0"s), (std::vector<std::wstring>{L"C:", L"D:"}));
  EXPECT_EQ(Drives(L"a:\\\0b:\\\0z:\\\0\0"s), (std::vector<std::wstring>{L"z:"}));
  EXPECT_EQ(Drives(L"\0"s), std::vector<std::wstring>{});
  // Not a drive root: left out, and the walk stays in step with the next one.
  EXPECT_EQ(Drives(L"C:\\mnt\\x\\\0E:\\\0\0"s), (std::vector<std::wstring>{L"C:", L"E:"}));
  EXPECT_EQ(Drives(L"1:\\\0E:\\\0\0"s), (std::vector<std::wstring>{L"E:"}));
  // A list without its final terminator ends at the given length.
  EXPECT_EQ(DrivesOf(L"C:\\\0D:\\", 7), (std::vector<std::wstring>{L"C:", L"D:"}));
  EXPECT_TRUE(DrivesOf(nullptr, 10).empty());
}

TEST(DevicePaths, DeviceTargetTable) {
  struct Case {
    const wchar_t* device;
    const wchar_t* target;
    std::size_t claimed;
  } cases[] = {
      {L"\\Device\\HarddiskVolume2\\Games\\a.exe", L"\\Device\\HarddiskVolume2", 23},
      {L"\\DEVICE\\harddiskvolume2\\Games\\a.exe", L"\\Device\\HarddiskVolume2", 23},
      {L"\\Device\\HarddiskVolume2", L"\\Device\\HarddiskVolume2", 23},
      {L"\\Device\\HarddiskVolume2\\x", L"\\Device\\HarddiskVolume2\\", 23},
      // Another volume whose name merely starts with the target's.
      {L"\\Device\\HarddiskVolume20\\Games\\a.exe", L"\\Device\\HarddiskVolume2", 0},
      {L"\\Device\\HarddiskVolume1\\a.exe", L"\\Device\\HarddiskVolume2", 0},
      {L"\\Device\\Harddisk", L"\\Device\\HarddiskVolume2", 0},
      {L"\\Device\\HarddiskVolume2\\a.exe", L"", 0},
      {L"\\Device\\HarddiskVolume2\\a.exe", nullptr, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.claimed, diagnostics::DeviceTargetLength(c.device, c.target)) << c.device << L" on "
                                                                             << (c.target ? c.target : L"null");
  }
}

TEST(DevicePaths, ProcessIdArrayGrowsPastTheFirst512) {
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(0), 512u);
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(512), 1024u);
  EXPECT_EQ(diagnostics::GrowProcessIdCapacity(1024), 2048u);
}

}  // namespace
