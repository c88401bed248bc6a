// Writing the package resource and unpacking archives into a folder.
#include "deploy/GameDeployment.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "product/InstallLayout.h"
#include "deploy/PackageExtractor.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using testing_support::Exists;

// The game package the build made for the launcher's resources.
std::wstring BuildFolder() {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  return folder.substr(0, folder.find_last_of(L'\\'));
}
std::wstring BuiltPackage() { return BuildFolder() + L"\\package\\tavrelair.zip"; }

TEST(GameDeployment, WriteZipResourceRefusesWithoutPathOrResource) {
  EXPECT_EQ(deploy::WriteZipResource(L""), 0);
  EXPECT_EQ(deploy::WriteZipResource(nullptr), 0);
  // The test program carries no game package: nothing is written.
  ScratchFolder scratch;
  std::wstring target = scratch / L"tavrelair.zip";
  EXPECT_EQ(deploy::WriteZipResource(target.c_str()), 0);
  EXPECT_FALSE(Exists(target));
}

TEST(GameDeployment, ExtractRefusesBadArgumentsWithoutCreatingAnything) {
  ScratchFolder scratch;
  std::wstring dest = scratch / L"dest\\inner";
  std::wstring missing = scratch / L"missing.zip";
  deploy::PackageExtractor extractor;
  EXPECT_EQ(extractor.ExtractArchive(BuiltPackage().c_str(), L""), 0);
  EXPECT_EQ(extractor.ExtractArchive(nullptr, dest.c_str()), 0);
  EXPECT_EQ(extractor.ExtractArchive(L"", dest.c_str()), 0);
  EXPECT_EQ(extractor.ExtractArchive(missing.c_str(), dest.c_str()), 0);
  EXPECT_EQ(extractor.ExtractArchive(scratch.path().c_str(), dest.c_str()), 0);  // a folder
  EXPECT_FALSE(Exists(scratch / L"dest"));

  // Not an archive: the folder may be made, but nothing lands in it.
  std::wstring junk = scratch / L"junk.zip";
  ASSERT_TRUE(WriteFileBytes(junk, "this is not a zip archive"));
  EXPECT_EQ(extractor.ExtractArchive(junk.c_str(), dest.c_str()), 0);
  EXPECT_EQ(layout::CountFiles(scratch.path().c_str()), 1);
}

TEST(GameDeployment, ExtractUnpacksThePackageIntoAMissingFolder) {
  ScratchFolder scratch;
  std::wstring dest = scratch / L"a\\b\\Tavrel";
  deploy::PackageExtractor extractor;
  ASSERT_EQ(extractor.ExtractArchive(BuiltPackage().c_str(), dest.c_str()), 1);
  EXPECT_EQ(extractor.lastResult(), archive::ZipOk);

  std::string packed, unpacked;
  ASSERT_TRUE(ReadFileBytes(BuildFolder() + L"\\package\\bin\\tavr_online.exe", &packed));
  ASSERT_TRUE(ReadFileBytes(dest + L"\\tavr_online.exe", &unpacked));
  EXPECT_TRUE(packed == unpacked);
  EXPECT_TRUE(layout::FileExists((dest + L"\\BugReport.exe").c_str()));
  EXPECT_TRUE(layout::FileExists((dest + L"\\data\\maps\\001\\terrain.map").c_str()));
  EXPECT_TRUE(layout::IsDirectory((dest + L"\\logs").c_str()));  // a folder entry with nothing in it
  EXPECT_EQ(layout::CountFiles(dest.c_str()), 10);

  // Again over the same folder: everything replaced, same tree.
  ASSERT_TRUE(WriteFileBytes(dest + L"\\readme.txt", "changed by the player"));
  ASSERT_EQ(extractor.ExtractArchive(BuiltPackage().c_str(), dest.c_str()), 1);
  std::string readme;
  ASSERT_TRUE(ReadFileBytes(dest + L"\\readme.txt", &readme));
  EXPECT_NE(readme, "changed by the player");
  EXPECT_EQ(layout::CountFiles(dest.c_str()), 10);
}

TEST(GameDeployment, ExtractStopsAtTheFirstEntryThatCannotBeWritten) {
  ScratchFolder scratch;
  std::wstring dest = scratch / L"Tavrel";
  // A folder where the package has the file data\config\game.ini.
  ASSERT_TRUE(layout::CreateDirectoryTree((dest + L"\\data\\config\\game.ini").c_str()));
  deploy::PackageExtractor extractor;
  EXPECT_EQ(extractor.ExtractArchive(BuiltPackage().c_str(), dest.c_str()), 0);
  EXPECT_EQ(extractor.lastResult(), archive::ZipNoFile);
  EXPECT_GT(extractor.failedEntry(), 0);
  // Entries before it are there, the ones after it are not.
  EXPECT_TRUE(layout::FileExists((dest + L"\\tavr_online.exe").c_str()));
  EXPECT_TRUE(layout::FileExists((dest + L"\\lib\\orlix_net.dll").c_str()));
  EXPECT_FALSE(Exists(dest + L"\\data\\maps\\001\\terrain.map"));
  EXPECT_FALSE(Exists(dest + L"\\readme.txt"));
}

}  // namespace
