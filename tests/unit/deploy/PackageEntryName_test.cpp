#include "deploy/PackageEntryName.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageEntryName, OnlyNamesInsideTheFolderPass) {
  struct Case {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"tavr_online.exe", true},
      {L"data/maps/001/terrain.map", true},
      {L"data\\maps\\", true},
      {L"data/", true},
      {L"a..b/c.txt", true},
      {L"..data/x", true},
      {L"", false},
      {L"/etc/x", false},
      {L"\\Windows\\x.dll", false},
      {L"C:\\x.exe", false},
      {L"C:x.exe", false},
      {L"game.exe:stream", false},
      {L"../x.exe", false},
      {L"data/../../x.exe", false},
      {L"data\\..", false},
      {L"./x.exe", false},
      {L"data//x.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(deploy::IsSafePackageEntryName(c.name), c.safe) << c.name;
  EXPECT_FALSE(deploy::IsSafePackageEntryName(nullptr));
}

}  // namespace
