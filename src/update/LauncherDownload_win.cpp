#include "update/LauncherDownload.h"

#include <windows.h>

#include "appobject/ZuduvizApp.h"
#include "base/FixedText.h"
#include "http/HttpClient.h"
#include "product/InstallLayout.h"
#include "base/Sha256.h"
#include "update/PatchFile.h"
#include "update/SignedConfig.h"
#include "update/UpdateCheck.h"
#include "update/UpdateLog.h"

namespace update {

namespace {

// One run of the update window: |url| into |target|, resuming as |partial|
// says. |expectedSize| (0: unknown) bounds what is written; every run has a
// bound on how long the server may withhold progress. IDOK when the file
// came in whole.
int RunUpdateWindow(CZuduvizApp& app, const wchar_t* url, const wchar_t* target, const PartialDownload& partial,
                    std::uint32_t expectedSize) {
  DownloadState& download = app.m_updateDlg.m_download;
  base::CopyText(download.url, url);
  base::CopyText(download.targetPath, target);
  download.partial = partial;
  download.expectedSize = expectedSize;
  download.stallMs = kDownloadStallSeconds * 1000;
  return static_cast<int>(app.m_updateDlg.DoModal());
}

// The launcher file's size as the signed configuration gives it; 0 (no
// bound) for a build without an update key.
std::uint32_t SignedLauncherSize(const CZuduvizApp& app) {
  return UpdateSignaturesRequired() ? app.m_updRelease.size : 0;
}

// A download the signed size refuses, or one withheld by a trickle, is an
// attack on the channel rather than the player's choice: nothing was offered
// after all, and the run goes on to the game. True (and logged) for those.
// A wrong size also takes its kept bytes; a stalled download keeps them, as
// any broken one, for the next run to continue.
bool RefuseWithheldOrOversize(const DownloadState& download, const wchar_t* target, const wchar_t* recordPath) {
  const DownloadFailure why = download.failure;
  if (why != DownloadFailure::kSizeMismatch && why != DownloadFailure::kOversize &&
      why != DownloadFailure::kStalled) {
    return false;
  }
  LogUpdate(L"update refused: %ls", UpdateRefusalText(why == DownloadFailure::kStalled
                                                          ? UpdateRefusal::kDownloadStalled
                                                          : UpdateRefusal::kDownloadSize));
  if (why != DownloadFailure::kStalled) DeletePartialFile(recordPath);
  if (::GetFileAttributesW(recordPath) == INVALID_FILE_ATTRIBUTES && !::DeleteFileW(target)) {
    ::MoveFileExW(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return true;
}

// Logs a window run that did not bring the file. Its bytes stay for the next
// run when their record stayed; otherwise the file goes at the next system
// start, as a failed download always did.
void GiveUp(const DownloadState& download, const wchar_t* target) {
  // A window that could not be made or could not start its transfer ends
  // without a transfer failure of its own.
  LogUpdate(L"update not completed: %ls", download.failure == DownloadFailure::kNone
                                              ? L"the update window could not run its transfer"
                                              : DescribeDownloadFailure(download.failure));
  if (!download.partial.recordPath[0] || ::GetFileAttributesW(download.partial.recordPath) == INVALID_FILE_ATTRIBUTES) {
    ::MoveFileExW(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

// A value of section "VerKey"; false when it is missing or fills |out|.
template <std::size_t N>
bool ReadVerKeyValue(const wchar_t* configPath, const wchar_t* name, wchar_t (&out)[N]) {
  const DWORD n = ::GetPrivateProfileStringW(L"VerKey", name, L"", out, DWORD(N), configPath);
  return n > 0 && n + 1 < N;
}

// The offer of app.m_updPatches whose base is this launcher's own file, or null.
const PatchOffer* OwnPatch(const CZuduvizApp& app) {
  if (app.m_updPatches.count == 0) return nullptr;
  wchar_t ownPath[base::kPathChars] = {};
  std::uint8_t own[kSha256Bytes] = {};
  if (!layout::GetExeFolderPath(ownPath, nullptr) || !Sha256OfFile(ownPath, own)) return nullptr;
  return FindPatchFor(app.m_updPatches, own);
}

// The patch route: downloads |offer| in the update window, applies it to
// this launcher into |target| and checks the result. kSwapDone when the
// checked launcher stands at |target|; kSwapFailed when the player
// cancelled; -1 when the whole file should be downloaded instead (logged).
int ObtainByPatch(CZuduvizApp& app, const PatchOffer& offer, const wchar_t* target, LauncherCheck check) {
  constexpr int kWholeFileInstead = -1;
  DownloadState& download = app.m_updateDlg.m_download;
  wchar_t patchPath[base::kPathChars] = {};
  wchar_t ownPath[base::kPathChars] = {};
  if (!layout::GetExeFolderPath(patchPath, kPatchFileName) || !layout::GetExeFolderPath(ownPath, nullptr)) {
    return kWholeFileInstead;
  }
  if (RunUpdateWindow(app, offer.url, patchPath, PartialDownload(), offer.size) != IDOK) {
    DeletePartialFile(patchPath);
    if (download.failure == DownloadFailure::kCancelled) {
      GiveUp(download, target);
      return kSwapFailed;
    }
    LogUpdate(L"update patch not downloaded: %ls; downloading the whole launcher",
              download.failure == DownloadFailure::kNone ? L"the update window could not run its transfer"
                                                         : DescribeDownloadFailure(download.failure));
    return kWholeFileInstead;
  }
  // The patch is exactly the size the configuration names, or it is not used.
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  const bool sized = ::GetFileAttributesExW(patchPath, GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
                     data.nFileSizeLow == offer.size;
  // A keyed launcher knows the result's size from the signed values: the
  // patch cannot make it write more.
  const PatchFault fault =
      sized ? ApplyPatchFile(ownPath, patchPath, target, SignedLauncherSize(app)) : PatchFault::kSizeRefused;
  DeletePartialFile(patchPath);
  if (fault != PatchFault::kNone) {
    LogUpdate(L"update patch refused: %ls; downloading the whole launcher",
              sized ? DescribePatchFault(fault) : L"the patch is not the size the configuration names");
    return kWholeFileInstead;
  }
  const int checked = check(app, target);
  if (checked == kSwapDone) return kSwapDone;
  LogUpdate(L"update patch made a file that failed its check; downloading the whole launcher");
  return kWholeFileInstead;
}

}  // namespace

void ReadPatchOffers(const wchar_t* configPath, PatchOffers* out) {
  PatchOffers offers;
  for (std::size_t number = 1; number <= kMaxPatchOffers; ++number) {
    PatchKeyNames names;
    wchar_t baseText[80] = {};
    wchar_t sizeText[16] = {};
    wchar_t url[base::kUrlChars] = {};
    if (!MakePatchKeyNames(number, &names)) break;
    if (!ReadVerKeyValue(configPath, names.base, baseText) && !ReadVerKeyValue(configPath, names.addr, url)) break;
    if (!ReadVerKeyValue(configPath, names.base, baseText) || !ReadVerKeyValue(configPath, names.size, sizeText) ||
        !ReadVerKeyValue(configPath, names.addr, url) ||
        !ParsePatchOffer(baseText, sizeText, url, &offers.offers[offers.count])) {
      LogUpdate(L"update patch %u ignored: its values are missing or malformed", unsigned(number));
      break;
    }
    ++offers.count;
  }
  *out = offers;
}

int ObtainNewLauncher(CZuduvizApp& app, const wchar_t* target, LauncherCheck check) {
  DownloadState& download = app.m_updateDlg.m_download;
  wchar_t recordPath[base::kPathChars] = {};
  wchar_t identity[kReleaseIdentityChars] = {};
  PartialDownload partial;
  // Without a record path (or an identity the record can carry) the download
  // runs as it always did: whole, nothing kept for a next run.
  if (layout::GetExeFolderPath(recordPath, kPartialRecordFileName) &&
      MakeReleaseIdentity(app.m_updKey, UpdateSignaturesRequired() ? app.m_updRelease.sha256 : nullptr, identity)) {
    PreparePartialDownload(&partial, target, recordPath, identity, SignedLauncherSize(app));
  }
  // A patch, unless a broken download of this release is already under way.
  if (partial.from.offset == 0) {
    if (const PatchOffer* offer = OwnPatch(app)) {
      const int patched = ObtainByPatch(app, *offer, target, check);
      if (patched >= 0) return patched;
    }
  }

  if (RunUpdateWindow(app, app.m_updAddr, target, partial, SignedLauncherSize(app)) != IDOK) {
    if (RefuseWithheldOrOversize(download, target, recordPath)) return kSwapRefused;
    if (download.failure != DownloadFailure::kResumeRefused) {
      GiveUp(download, target);
      return kSwapFailed;
    }
    LogUpdate(L"update download not continued at %lu bytes: %ls; downloading it whole",
              static_cast<unsigned long>(partial.from.offset), DescribeDownloadFailure(download.failure));
  } else {
    const std::uint32_t resumedFrom = download.partial.resumedFrom;
    const int checked = check(app, target);
    // A file made of two transfers that fails its check may have kept bytes
    // the server no longer has (a file replaced under the same validator):
    // it gets one whole download. A whole download that fails stays refused.
    if (checked == kSwapDone || resumedFrom == 0) return checked;
    LogUpdate(L"update download continued at %lu bytes failed its check; downloading it whole",
              static_cast<unsigned long>(resumedFrom));
  }

  DeletePartialFile(recordPath);
  DeletePartialFile(target);
  partial.from = ResumePoint();
  if (RunUpdateWindow(app, app.m_updAddr, target, partial, SignedLauncherSize(app)) != IDOK) {
    if (RefuseWithheldOrOversize(download, target, recordPath)) return kSwapRefused;
    GiveUp(download, target);
    return kSwapFailed;
  }
  return check(app, target);
}

}  // namespace update
