#include <windows.h>

#include <ctime>

#include "base/Process.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/DiagnosticLog.h"
#include "diagnostics/GameLaunch.h"
#include "diagnostics/ProcessTools.h"
#include "diagnostics/SystemReport.h"
#include "base/TextConversion.h"
#include "ui/MessageBox.h"  // the style numbers

namespace diagnostics {

namespace {

constexpr const wchar_t* kFailureTag = L"Tavrel_zuduviz";
constexpr const wchar_t* kFailureNoteSuffix = L"Tavrel_zuduviz.dmp";
constexpr const wchar_t* kFailureCaption = L"Duskmere3.0.1.5";
constexpr const wchar_t* kReportTimeKey = L"lstReport";
constexpr int kHelpAnswer = IDNO;  // the second button of a Yes/No box

// The paths of one launch, built afresh from the local application data folder.
struct LaunchPaths {
  wchar_t game[base::kPathChars] = {};
  wchar_t installFolder[base::kPathChars] = {};
  wchar_t reportFolder[base::kPathChars] = {};  // the install folder with a trailing backslash
  wchar_t statistics[base::kPathChars] = {};
};

bool BuildLaunchPaths(LaunchPaths* paths) {
  return layout::GetInstallFilePath(paths->game, layout::kGameExeName) &&
         layout::GetInstallFolder(paths->installFolder) &&
         base::JoinText(paths->reportFolder, paths->installFolder, L"\\") &&
         layout::GetStatisticsFilePath(paths->statistics);
}

std::int64_t SecondsSince1970() { return static_cast<std::int64_t>(std::time(nullptr)); }

// Whether to hand this failure to the uploader: not while one runs, and not
// within ten minutes of the last report the uploader recorded.
bool ShouldReport(const wchar_t* uploaderPath, const wchar_t* statisticsPath) {
  if (IsProcessRunning(uploaderPath)) return false;
  wchar_t lastReport[32] = {};
  ::GetPrivateProfileStringW(layout::kStatisticsSection, kReportTimeKey, L"0", lastReport, 32, statisticsPath);
  return IsReportDue(SecondsSince1970(), ParseReportTime(lastReport));
}

void ReportFailure(const LaunchPaths& paths, DWORD error, const PlayerPrompts& prompts) {
  wchar_t message[base::kPathChars] = {};
  FormatLaunchFailureMessage(error, message);

  SYSTEMTIME now;
  ::GetLocalTime(&now);
  ClockTime date;
  date.year = now.wYear;
  date.month = now.wMonth;
  date.day = now.wDay;
  wchar_t reportBase[base::kPathChars] = {};
  wchar_t notePath[base::kPathChars] = {};
  wchar_t reportPath[base::kPathChars] = {};
  bool named = paths.reportFolder[0] && FormatFailureReportBase(date, kFailureTag, reportBase) &&
               base::JoinText(notePath, paths.reportFolder, reportBase, L".dmp") &&
               base::JoinText(reportPath, paths.reportFolder, reportBase, L".txt");

  if (named) {
    // The message is passed as an argument, never as the format itself.
    LogToDatedFile(paths.reportFolder, kFailureNoteSuffix, L"%s", message);
    WriteSystemReport(reportPath);

    ProductInfo product;
    std::wstring gameName = OemToWide(UrlEncode(WideToUtf8(product::kGameName)));
    base::CopyText(product.appKind, product::kKind);
    base::CopyText(product.gameName, gameName.c_str());
    base::CopyText(product.productCode, product::kProductCode);
    base::CopyText(product.version, product::kVersion);
    base::CopyText(product.appName, product::kAppName);

    wchar_t uploader[base::kPathChars] = {};
    wchar_t command[base::kUrlChars] = {};
    bool commandReady =
        GetUploaderPath(uploader) && FormatUploaderCommand(uploader, product, reportBase, command);
    if (commandReady && ShouldReport(uploader, paths.statistics)) {
      // The note and the report go by their bare base name: the uploader
      // starts in the install folder, where they lie. When it cannot be
      // started both files stay for a later report.
      StartUploader(command, paths.installFolder);
    } else {
      ::DeleteFileW(reportPath);
      ::DeleteFileW(notePath);
    }
  }

  if (prompts.showMessage(message, kFailureCaption, ui::MessageBoxYesNo, L"确定", L"查看帮助") == kHelpAnswer) {
    wchar_t url[base::kUrlChars] = {};
    if (FormatHelpPageUrl(maker::kHelpHost, url)) prompts.openPage(url);
  }
}

}  // namespace

void LaunchGameWith(const PlayerPrompts& prompts) {
  LaunchPaths paths;
  if (!BuildLaunchPaths(&paths)) {
    // No local application data folder, or one too deep: the game cannot be
    // found, which the player is told like any other failed start.
    ReportFailure(LaunchPaths(), ERROR_PATH_NOT_FOUND, prompts);
    return;
  }

  base::ProcessStart how;
  how.creationFlags = IDLE_PRIORITY_CLASS;
  base::OwnedProcess game;
  // The game starts in its own folder, whatever folder the launcher was
  // started in: it finds its data files relative to it.
  if (base::StartProcess(paths.game, nullptr, paths.installFolder, how, &game)) return;
  ReportFailure(paths, ::GetLastError(), prompts);
}

}  // namespace diagnostics
