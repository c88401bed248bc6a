#include "update/UpdateCheck.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "base/FixedText.h"
#include "product/InstallLayout.h"
#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "appobject/ZuduvizApp.h"
#include "base/Md5.h"
#include "http/HttpClient.h"
#include "update/LauncherDownload.h"
#include "update/LauncherFile.h"
#include "update/SignedConfig.h"
#include "update/UpdateLog.h"
#include "release/VersionKey.h"
#include "update/ChannelStore.h"

namespace update {

namespace {

constexpr const wchar_t* kConfigSection = L"VerKey";
constexpr const wchar_t* kConfigKeyName = L"Tavrel";
constexpr const wchar_t* kConfigAddressName = L"UpdAddr";
// The detached signature lies beside the configuration, on the server and
// while it is checked: "ConfigTavrel.htm.sig".
constexpr const wchar_t* kSignatureSuffix = L".sig";
constexpr DWORD kAutoUpdateChars = 259;

// Reads |name| of section "VerKey" (default empty) into |out|. False when
// the value fills the buffer: GetPrivateProfileStringW then returns the
// buffer size minus one, and the text may have been cut.
template <std::size_t N>
bool ReadConfigValue(const wchar_t* configPath, const wchar_t* name, wchar_t (&out)[N]) {
  const DWORD n = ::GetPrivateProfileStringW(kConfigSection, name, L"", out, DWORD(N), configPath);
  if (n + 1 >= N) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

// This executable's own version key; false when it cannot be read.
bool OwnVersionKey(wchar_t (&key)[kVersionKeyChars]) {
  wchar_t exePath[layout::kPathChars] = {};
  wchar_t digest[telemetry::kMd5HexChars] = {};
  return layout::GetExeFolderPath(exePath, nullptr) && telemetry::Md5HexOfFile(exePath, digest) &&
         MakeVersionKey(digest, product::kVersion, key);
}

// A signed offer of the running version must be this very file: another
// file of the same version could otherwise be swapped in and out at will.
UpdateRefusal CheckNotAnotherFileOfOwnVersion(const SignedRelease& release, const wchar_t* publishedKey) {
  LauncherVersion running;
  if (!ParseLauncherVersion(product::kVersion, &running)) return UpdateRefusal::kReleaseMalformed;
  if (CompareLauncherVersions(release.version, running) != 0) return UpdateRefusal::kNone;
  wchar_t own[kVersionKeyChars] = {};
  if (!OwnVersionKey(own) || VersionKeysDiffer(own, publishedKey)) return UpdateRefusal::kNotNewer;
  return UpdateRefusal::kNone;
}

// A key roll (a new current key, retired keys) is signed by a backup key
// and retires neither its signer nor the new current key, nor names a
// retired key as current.
UpdateRefusal CheckKeyRoll(const SignedRelease& release, const TrustedKeys& trusted, std::size_t signer) {
  if (!release.currentKey[0] && !release.retireCount) return UpdateRefusal::kNone;
  if (!trusted.backup[signer]) return UpdateRefusal::kKeyRollNotByBackup;
  if (IsKeyRetired(release.currentKey)) return UpdateRefusal::kKeyRollInvalid;
  for (std::size_t i = 0; i < release.retireCount; ++i) {
    if (SameKey(release.retireKeys[i], trusted.keys[signer])) return UpdateRefusal::kKeyRollInvalid;
  }
  return UpdateRefusal::kNone;
}

// A keyed launcher that has had no valid configuration for longer than the
// maker's setting says so in the update log and in its activity ping: a
// withheld or expired configuration is otherwise silent. The clock starts
// at the first check without one.
void NoteMissingConfig(CZuduvizApp& app) {
  ChannelRecord record;
  LoadChannelRecord(&record);
  const std::int64_t now = UtcSecondsNow();
  if (record.lastValid == 0) {
    StartFreezeClock(now);
    return;
  }
  if (now <= record.lastValid) return;
  const std::int64_t days = (now - record.lastValid) / 86400;
  if (days < std::int64_t(maker::kUpdateFreezeDays)) return;
  app.m_updFrozenDays = days > 99999 ? 99999u : unsigned(days);
  LogUpdate(L"no valid update configuration for %u days (more than %u): updates may be withheld from this launcher",
            app.m_updFrozenDays, maker::kUpdateFreezeDays);
}

// Marks |path| for deletion at the next system start (needs administrator
// rights, which the manifest requests).
void DeleteAtReboot(const wchar_t* path) { ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }

}  // namespace

int FetchUpdateConfig(CZuduvizApp& app, char* keyAnsi) {
  wchar_t url[base::kUrlChars] = {};
  if (!base::JoinText(url, L"http://", maker::kServerHost, L"/update/ConfigTavrel.htm")) return 0;
  wchar_t configPath[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(configPath, layout::kUpdateConfigFileName)) return 0;

  // An incomplete download leaves nothing beside the launcher.
  DownloadFailure failure = DownloadFailure::kNone;
  if (DownloadToFile(url, configPath, kConfigFetchDeadlineSeconds * 1000, &failure) != 1) {
    ::DeleteFileW(configPath);
    // A server that is down or has nothing published is no news; a server
    // that holds the start up or sends it elsewhere is.
    if (failure == DownloadFailure::kDeadline) {
      LogUpdate(L"update configuration not read: no complete answer within %u s", kConfigFetchDeadlineSeconds);
    } else if (failure == DownloadFailure::kRedirectRefused || failure == DownloadFailure::kTooManyRedirects) {
      LogUpdate(L"update configuration not read: %ls", DescribeDownloadFailure(failure));
    }
    return 0;
  }

  // A build with an update key uses nothing of the configuration before its
  // signature has verified over the very bytes that are read below: the file
  // stays held against writers until then.
  const bool signedOnly = UpdateSignaturesRequired();
  VerifiedConfig verified;
  ChannelRecord record;
  TrustedKeys trusted;
  std::size_t signer = 0;
  if (signedOnly) {
    LoadChannelRecord(&record);
    wchar_t signatureUrl[base::kUrlChars] = {};
    wchar_t signaturePath[layout::kPathChars] = {};
    DownloadFailure signatureFailure = DownloadFailure::kNone;
    UpdateRefusal refusal = CollectTrustedKeys(record, &trusted);
    if (refusal == UpdateRefusal::kNone) {
      refusal = UpdateRefusal::kConfigUnreadable;
      if (base::JoinText(signatureUrl, url, kSignatureSuffix) &&
          base::JoinText(signaturePath, configPath, kSignatureSuffix)) {
        refusal = verified.Verify(configPath, signatureUrl, signaturePath, kConfigFetchDeadlineSeconds * 1000,
                                  trusted, &signatureFailure, &signer);
      }
    }
    if (refusal != UpdateRefusal::kNone) {
      if (refusal == UpdateRefusal::kUnsigned && signatureFailure != DownloadFailure::kNone) {
        LogUpdate(L"update configuration refused: %ls (%ls)", UpdateRefusalText(refusal),
                  DescribeDownloadFailure(signatureFailure));
      } else {
        LogUpdate(L"update configuration refused: %ls", UpdateRefusalText(refusal));
      }
      ::DeleteFileW(configPath);
      return 0;
    }
  }

  wchar_t key[kVersionKeyChars] = {};
  wchar_t address[base::kUrlChars] = {};
  const bool keyFits = ReadConfigValue(configPath, kConfigKeyName, key);
  const bool addressFits = ReadConfigValue(configPath, kConfigAddressName, address);
  SignedRelease release;
  UpdateRefusal refusal = UpdateRefusal::kNone;
  if (signedOnly && keyFits && addressFits) {
    refusal = ReadSignedRelease(configPath, key, &release);
    if (refusal == UpdateRefusal::kNone) refusal = CheckKeyRoll(release, trusted, signer);
    if (refusal == UpdateRefusal::kNone) refusal = CheckPublicationOrder(record.accepted, release.serial, verified.Sha256());
    if (refusal == UpdateRefusal::kNone) refusal = CheckNotAnotherFileOfOwnVersion(release, key);
  }
  PatchOffers patches;
  ReadPatchOffers(configPath, &patches);
  verified.Release();
  ::DeleteFileW(configPath);
  // A value that fills its buffer may have been cut: nothing of it is used,
  // and no update is offered.
  if (!keyFits || !addressFits) {
    LogUpdate(L"update configuration refused: \"%ls\" is longer than %u characters",
              keyFits ? kConfigAddressName : kConfigKeyName,
              unsigned(keyFits ? base::kUrlChars - 2 : kVersionKeyChars - 2));
    return 0;
  }
  // Expired, a downgrade, a replay, another product or channel, or values
  // that do not fit together: no update.
  if (refusal != UpdateRefusal::kNone) {
    LogUpdate(L"update configuration refused: %ls", UpdateRefusalText(refusal));
    return 0;
  }
  // Accepted in full: only now does the launcher remember it (its number,
  // its key roll, the time), so a refused configuration never changes that.
  if (signedOnly && !StoreAcceptedConfig(release, verified.Sha256(), UtcSecondsNow())) {
    LogUpdate(L"update configuration accepted, but its publication number could not be stored");
  }

  char converted[kVersionKeyChars] = {};
  if (key[0] &&
      !::WideCharToMultiByte(CP_ACP, 0, key, -1, converted, sizeof(converted), nullptr, nullptr)) {
    return 0;
  }
  base::CopyText(app.m_updAddr, address);
  base::CopyText(app.m_updKey, key);
  app.m_updRelease = release;
  app.m_updPatches = patches;
  std::memcpy(keyAnsi, converted, sizeof(converted));
  return 1;
}

int CheckForUpdate(CZuduvizApp& app) {
  char publishedAnsi[kVersionKeyChars] = {};
  const bool signedOnly = UpdateSignaturesRequired();
  if (FetchUpdateConfig(app, publishedAnsi) != 1 && signedOnly) NoteMissingConfig(app);
  if (!publishedAnsi[0]) return 0;

  // An executable that cannot be read for its digest offers no update.
  wchar_t localKey[kVersionKeyChars] = {};
  if (!OwnVersionKey(localKey)) return 0;

  wchar_t published[kVersionKeyChars] = {};
  if (!::MultiByteToWideChar(CP_ACP, 0, publishedAnsi, -1, published, kVersionKeyChars)) return 0;
  if (!VersionKeysDiffer(localKey, published)) return 0;
  // A keyed launcher takes only a strictly newer version, compared as
  // numbers: the key's dot-free digits are ambiguous (3.0.11.5 and 3.0.1.15
  // both end in 30115). (Another file of its own version was refused with
  // the configuration.)
  if (signedOnly) {
    LauncherVersion running;
    if (!ParseLauncherVersion(product::kVersion, &running) ||
        CompareLauncherVersions(app.m_updRelease.version, running) <= 0) {
      LogUpdate(L"update configuration refused: %ls", UpdateRefusalText(UpdateRefusal::kNotNewer));
      return 0;
    }
  }
  // A published key of another length matches no launcher file: the offer
  // could never complete, so it is not made.
  if (std::wcslen(published) != kVersionKeyLength) {
    wchar_t shown[kVersionKeyChars] = {};
    CopyLoggableText(published, shown);
    LogUpdate(L"update configuration refused: the published key \"%ls\" is not %u characters long", shown,
              unsigned(kVersionKeyLength));
    return 0;
  }
  return 1;
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

namespace {

// The checks of a downloaded launcher at |target| before the swap
// (LauncherCheck): kSwapDone when it is the published release; otherwise
// the file is deleted and the reason logged.
int CheckNewLauncher(CZuduvizApp& app, const wchar_t* target) {
  const bool signedOnly = UpdateSignaturesRequired();
  // A signed configuration names the file itself: its SHA-256 decides before
  // anything else of the download is read. Another file means that nothing
  // was offered after all, and the run goes on to the game.
  if (signedOnly) {
    const UpdateRefusal refusal = CheckDownloadDigest(target, app.m_updRelease);
    if (refusal != UpdateRefusal::kNone) {
      LogUpdate(L"update refused: %ls", UpdateRefusalText(refusal));
      if (!::DeleteFileW(target)) DeleteAtReboot(target);
      return kSwapRefused;
    }
  }

  // Only the launcher the server published may replace this one: its key,
  // computed exactly as it will compute its own at its next start, must be
  // the published key in full. An error page, an empty or cut file, a file
  // that is no launcher of this architecture, or a release whose key names
  // another version all fail here, so a launcher always stands at the own
  // path and an update that passes is not offered again after the restart.
  wchar_t fileKey[kVersionKeyChars] = {};
  wchar_t fileVersion[kVersionTextChars] = {};
  LauncherFileFault fault = ComputeLauncherFileKey(target, fileKey, fileVersion);
  if (fault == LauncherFileFault::kNone && VersionKeysDiffer(fileKey, app.m_updKey)) {
    fault = LauncherFileFault::kKeyMismatch;
  }
  // A keyed launcher also compares the file's version as numbers with the
  // signed one: the key's digits alone cannot tell 3.0.11.5 from 3.0.1.15.
  LauncherVersion parsed;
  if (fault == LauncherFileFault::kNone && signedOnly &&
      (!ParseLauncherVersion(fileVersion, &parsed) || CompareLauncherVersions(parsed, app.m_updRelease.version) != 0)) {
    fault = LauncherFileFault::kKeyMismatch;
  }
  if (fault != LauncherFileFault::kNone) {
    wchar_t shown[kVersionKeyChars] = {};
    CopyLoggableText(app.m_updKey, shown);
    if (fault == LauncherFileFault::kKeyMismatch) {
      LogUpdate(L"update refused: the file's version key \"%ls\" is not the published key \"%ls\"", fileKey, shown);
    } else {
      LogUpdate(L"update refused: %ls (the published key \"%ls\")", DescribeLauncherFileFault(fault), shown);
    }
    if (!::DeleteFileW(target)) DeleteAtReboot(target);
    return kSwapFailed;
  }
  return kSwapDone;
}

}  // namespace

int SwapInNewLauncher(CZuduvizApp& app) {
  wchar_t target[layout::kPathChars] = {};
  wchar_t ownPath[layout::kPathChars] = {};
  wchar_t oldPath[layout::kPathChars] = {};
  if (!layout::GetExeFolderPath(target, layout::kNewLauncherFileName) ||
      !layout::GetExeFolderPath(ownPath, nullptr) ||
      !layout::GetExeFolderPath(oldPath, layout::kOldLauncherTmpFileName)) {
    return kSwapFailed;
  }
  const int obtained = ObtainNewLauncher(app, target, CheckNewLauncher);
  if (obtained != kSwapDone) return obtained;

  // A running executable can be renamed but not deleted: move it aside first.
  // If that fails nothing is swapped; if the new file cannot take its place,
  // the old one is moved back, so a launcher always stands at its path.
  if (!::MoveFileExW(ownPath, oldPath, MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(target);
    return kSwapFailed;
  }
  if (!::MoveFileExW(target, ownPath, MOVEFILE_REPLACE_EXISTING)) {
    ::MoveFileExW(oldPath, ownPath, MOVEFILE_REPLACE_EXISTING);
    DeleteAtReboot(target);
    return kSwapFailed;
  }
  DeleteAtReboot(oldPath);
  return kSwapDone;
}

void DeleteOldLauncher() {
  for (const wchar_t* name : {layout::kOldLauncherFileName, layout::kOldLauncherTmpFileName}) {
    wchar_t path[layout::kPathChars] = {};
    if (layout::GetExeFolderPath(path, name) && layout::FileExists(path)) ::DeleteFileW(path);
  }
}

}  // namespace update
