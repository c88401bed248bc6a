#include "deploy/GameDeployment.h"

#include <windows.h>

#include "base/FixedText.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/PackageExtractor.h"
#include "diagnostics/ProcessTools.h"
#include "resources/resource.h"

namespace deploy {

int WriteZipResource(const wchar_t* path) {
  if (!path || !*path) return 0;
  // Resources of the own image stay mapped for the process's lifetime;
  // LoadResource/LockResource need no release.
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceW(self, MAKEINTRESOURCEW(IDR_GAME_PACKAGE), L"ZIP");
  if (!info) return 0;
  HGLOBAL loaded = ::LoadResource(self, info);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  DWORD size = ::SizeofResource(self, info);
  if (!bytes || size == 0) return 0;

  bool written = false;
  {
    base::UniqueFile file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    DWORD done = 0;
    written = ::WriteFile(file.get(), bytes, size, &done, nullptr) && done == size;
    // A short file (full disk) would only be a broken archive: drop it.
  }
  if (!written) {
    ::DeleteFileW(path);
    return 0;
  }
  return 1;
}

void DeployGamePackage() {
  wchar_t installFolder[base::kPathChars] = {};
  if (!layout::EnsureInstallFolder(installFolder)) return;
  wchar_t packageFile[base::kPathChars] = {};
  if (!base::JoinText(packageFile, installFolder, L"\\", layout::kPackageFileName)) return;

  // A leftover of an earlier failed run goes first.
  if (layout::FileExists(packageFile)) ::DeleteFileW(packageFile);
  if (!WriteZipResource(packageFile)) return;

  // Running copies keep their executables locked: end them before replacing.
  diagnostics::KillReporterAndGame();

  PackageExtractor extractor;
  if (extractor.ExtractArchive(packageFile, installFolder) != 1) return;  // the package file stays
  if (!::DeleteFileW(packageFile)) {
    ::MoveFileExW(packageFile, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

}  // namespace deploy
