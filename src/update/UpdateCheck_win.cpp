#include "update/UpdateCheck.h"

#include <windows.h>

#include <cstring>

#include "base/FixedText.h"
#include "product/InstallLayout.h"
#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "appobject/ZuduvizApp.h"
#include "base/Md5.h"
#include "http/HttpClient.h"
#include "update/VersionKey.h"

namespace update {

namespace {

constexpr const wchar_t* kConfigSection = L"VerKey";
constexpr const wchar_t* kConfigKeyName = L"Tavrel";
constexpr const wchar_t* kConfigAddressName = L"UpdAddr";
constexpr DWORD kAutoUpdateChars = 259;

// Marks |path| for deletion at the next system start (needs administrator
// rights, which the manifest requests).
void DeleteAtReboot(const wchar_t* path) { ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }

}  // namespace

int FetchUpdateConfig(CZuduvizApp& app, char* keyAnsi) {
  wchar_t url[base::kUrlChars] = {};
  if (!base::JoinText(url, L"http://", maker::kServerHost, L"/update/ConfigTavrel.htm")) return 0;
  wchar_t configPath[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(configPath, layout::kUpdateConfigFileName)) return 0;

  // An incomplete download leaves its partial file; the next fetch overwrites it.
  if (DownloadToFile(url, configPath) != 1) return 0;

  wchar_t key[kVersionKeyChars] = {};
  ::GetPrivateProfileStringW(kConfigSection, kConfigKeyName, L"", key, kVersionKeyChars, configPath);
  wchar_t address[base::kUrlChars] = {};
  ::GetPrivateProfileStringW(kConfigSection, kConfigAddressName, L"", address, base::kUrlChars, configPath);
  ::DeleteFileW(configPath);

  char converted[kVersionKeyChars] = {};
  if (key[0] &&
      !::WideCharToMultiByte(CP_ACP, 0, key, -1, converted, sizeof(converted), nullptr, nullptr)) {
    return 0;
  }
  base::CopyText(app.m_updAddr, address);
  base::CopyText(app.m_updKey, key);
  std::memcpy(keyAnsi, converted, sizeof(converted));
  return 1;
}

int CheckForUpdate(CZuduvizApp& app) {
  char publishedAnsi[kVersionKeyChars] = {};
  FetchUpdateConfig(app, publishedAnsi);
  if (!publishedAnsi[0]) return 0;

  wchar_t exePath[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(exePath, nullptr)) return 0;
  wchar_t digest[telemetry::kMd5HexChars] = {};
  // An executable that cannot be read for its digest offers no update.
  if (!telemetry::Md5HexOfFile(exePath, digest)) return 0;
  wchar_t localKey[kVersionKeyChars] = {};
  if (!MakeVersionKey(digest, product::kVersion, localKey)) return 0;

  wchar_t published[kVersionKeyChars] = {};
  if (!::MultiByteToWideChar(CP_ACP, 0, publishedAnsi, -1, published, kVersionKeyChars)) return 0;
  return VersionKeysDiffer(localKey, published) ? 1 : 0;
}

void ReadAutoUpdate(wchar_t* text) {
  wchar_t settings[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(settings, layout::kSettingsFileName)) {
    base::CopyText(text, kAutoUpdateChars + 1, L"1");
    return;
  }
  ::GetPrivateProfileStringW(layout::kSettingsSection, layout::kAutoUpdateKey, L"1", text, kAutoUpdateChars + 1,
                             settings);
}

int SwapInNewLauncher(CZuduvizApp& app) {
  wchar_t target[layout::kPathChars] = {};
  wchar_t ownPath[layout::kPathChars] = {};
  wchar_t oldPath[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(target, layout::kNewLauncherFileName) ||
      !layout::GetExeFolderPath(ownPath, nullptr) ||
      !layout::GetExeFolderPath(oldPath, layout::kOldLauncherTmpFileName)) {
    return 0;
  }

  DownloadState& download = app.m_updateDlg.m_download;
  base::CopyText(download.url, app.m_updAddr);
  base::CopyText(download.targetPath, target);
  if (app.m_updateDlg.DoModal() != IDOK) {
    DeleteAtReboot(target);
    return 0;
  }

  // Only the file the server published may replace the launcher: an error
  // page, a cut or altered download or extra bytes fail like a failed download.
  wchar_t digest[telemetry::kMd5HexChars] = {};
  if (!telemetry::Md5HexOfFile(target, digest) ||
      !DigestMatchesPublishedKey(digest, app.m_updKey, product::kVersion)) {
    ::DeleteFileW(target);
    return 0;
  }

  // A running executable can be renamed but not deleted: move it aside first.
  // If that fails nothing is swapped; if the new file cannot take its place,
  // the old one is moved back, so a launcher always stands at its path.
  if (!::MoveFileExW(ownPath, oldPath, MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(target);
    return 0;
  }
  if (!::MoveFileExW(target, ownPath, MOVEFILE_REPLACE_EXISTING)) {
    ::MoveFileExW(oldPath, ownPath, MOVEFILE_REPLACE_EXISTING);
    DeleteAtReboot(target);
    return 0;
  }
  DeleteAtReboot(oldPath);
  return 1;
}

void DeleteOldLauncher() {
  for (const wchar_t* name : {layout::kOldLauncherFileName, layout::kOldLauncherTmpFileName}) {
    wchar_t path[layout::kPathChars] = {};
    if (layout::GetExeFolderPath(path, name) && layout::FileExists(path)) ::DeleteFileW(path);
  }
}

}  // namespace update
