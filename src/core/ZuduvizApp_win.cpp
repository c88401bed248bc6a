#include "appobject/ZuduvizApp.h"

#include <commctrl.h>
#include <wininet.h>

#include <cwchar>
#include <system_error>
#include <thread>

#include "product/InstallLayout.h"
#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "core/RunMode.h"
#include "deploy/DisableDays.h"
#include "deploy/GameDeployment.h"
#include "deploy/Install.h"
#include "deploy/Uninstall.h"
#include "diagnostics/CrashHandler.h"
#include "diagnostics/GameLaunch.h"
#include "diagnostics/ProcessTools.h"
#include "telemetry/DeviceCode.h"
#include "telemetry/PingUrl.h"
#include "telemetry/Statistics.h"
#include "ui/GdiplusSession.h"
#include "ui/MessageBox.h"
#include "update/UpdateCheck.h"
#include "update/UpdateLog.h"

namespace {

constexpr const wchar_t* kNoNetworkText = L"当前网络不可用，请检查网络连接是否正常！";
constexpr const wchar_t* kConfirmUninstallText = L"确定要移除 OrlixDuskmere吗？";
constexpr std::size_t kInstallDayChars = 32;
constexpr std::size_t kDeviceCodeChars = 64;
// How long a playing run stays, without a window and with the game already
// started, for its activity ping to finish.
constexpr DWORD kActivityPingWaitMs = 15000;

// A frozen update channel (update/UpdateCheck.h) adds "&updfrozen=DAYS" to
// the activity ping; a server that does not know the key ignores it. False
// when it does not fit (then no ping, as for any URL that does not fit).
bool AddFrozenChannelDays(wchar_t (&url)[base::kUrlChars], unsigned days) {
  if (days == 0) return true;
  wchar_t number[16] = {};
  return std::swprintf(number, 16, L"%u", days) > 0 && telemetry::AppendQueryValue(url, L"updfrozen", number);
}

}  // namespace

CZuduvizApp::CZuduvizApp() = default;

CZuduvizApp::~CZuduvizApp() = default;

BOOL CZuduvizApp::InitInstance() {
  diagnostics::RegisterProductInfo(product::kKind, product::kGameName, product::kProductCode, product::kVersion,
                                   product::kAppName);
  diagnostics::InstallCrashHandler();

  INITCOMMONCONTROLSEX icc = {};
  icc.dwSize = 8;
  icc.dwICC = 0xFF;  // every Windows 95 common control class
  ::InitCommonControlsEx(&icc);

  // The base's initialisation. MFC would also enable ActiveX control
  // containment here; no window of the launcher hosts an ActiveX control.
  app::CWinAppBase::InitInstance();

  // Every mode needs the network, uninstallation included (its ping).
  if (!::InternetCheckConnectionW(maker::kConnectivityProbeUrl, FLAG_ICC_FORCE_CONNECTION, 0)) {
    ui::ShowMessageBox(kNoNetworkText, product::kCaption, ui::MessageBoxOk, L"", L"");
    return FALSE;
  }

  const int mode = core::GetRunMode();

  m_hTakenEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_hDoneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

  if (mode == core::ModeUninstall) {
    if (ui::ShowMessageBox(kConfirmUninstallText, product::kCaption, ui::MessageBoxYesNo, L"", L"") == IDYES) {
      deploy::RunUninstall(*this);
      WaitForPing();
    }
    return FALSE;
  }

  if ((mode == core::ModeShortcut || mode == core::ModeInstalled) && RunUpdateGate()) return FALSE;

  StartOldCopyCleanup();

  m_gdiplusToken.emplace();

  switch (mode) {
    case core::ModeFirstRun: {
      int gamePresent = 0;
      deploy::InstallLauncher(*this, &gamePresent);
      deploy::WriteDisableDays();
      if (!gamePresent) {
        wchar_t url[base::kUrlChars] = {};
        if (telemetry::BuildCountPingUrl(telemetry::PingEvent::kInstall, telemetry::RecordStatistic(telemetry::StatInst),
                                         url) &&
            SendPing(url)) {
          WaitForPing();
        }
      }
      break;
    }
    case core::ModeInstalled:
      deploy::DeployGamePackage();
      RunActivity();
      break;
    case core::ModeShortcut:
      RunActivity();
      break;
    default:  // ModeWebStart, ModeNewGame: the game only, no ping, no update check
      diagnostics::LaunchGame();
      break;
  }
  return FALSE;
}

bool CZuduvizApp::RunUpdateGate() {
  if (!update::CheckForUpdate(*this)) return false;
  wchar_t autoUpdate[base::kPathChars] = {};
  update::ReadAutoUpdate(autoUpdate);
  if (std::wcscmp(autoUpdate, L"1") != 0) return false;

  // An update was offered and allowed: this run ends here, whether or not it
  // completes, unless the download proved not to be the signed release (then
  // nothing was offered after all, and the run goes on to the game). A
  // complete one is reported and the new launcher started.
  const int swapped = update::SwapInNewLauncher(*this);
  if (swapped == update::kSwapRefused) return false;
  if (swapped != update::kSwapDone) return true;
  wchar_t url[base::kUrlChars] = {};
  if (telemetry::BuildCountPingUrl(telemetry::PingEvent::kUpdate, telemetry::RecordStatistic(telemetry::StatUpdate),
                                   url) &&
      SendPing(url) && !WaitForPing()) {
    update::LogUpdate(L"update ping unanswered after %u s: the new launcher is started without waiting longer",
                      kPingWaitSeconds);
  }
  diagnostics::KillReporterAndGame();
  StartProgram(nullptr);
  return true;
}

void CZuduvizApp::RunActivity() {
  wchar_t statistics[layout::kPathChars] = {};
  wchar_t installDay[kInstallDayChars] = {};
  if (layout::GetStatisticsFilePath(statistics)) {
    ::GetPrivateProfileStringW(layout::kStatisticsSection, L"installDay", L"", installDay, kInstallDayChars,
                               statistics);
  }
  wchar_t deviceCode[kDeviceCodeChars] = {};
  telemetry::GetDeviceCode(deviceCode);

  // The order matters: the week mask is moved by the days since the visit
  // that "lstTime" holds before the two day figures rewrite it.
  const std::int64_t weekDays = telemetry::RecordStatistic(telemetry::StatWeekDays);
  const std::int64_t keepDays = telemetry::RecordStatistic(telemetry::StatKeepDays);
  const std::int64_t apartDays = telemetry::RecordStatistic(telemetry::StatApartDays);
  const std::int64_t count = telemetry::RecordStatistic(telemetry::StatGame);

  wchar_t url[base::kUrlChars] = {};
  const bool pinging =
      telemetry::BuildActivityPingUrl(count, apartDays, keepDays, weekDays, installDay, deviceCode, url) &&
      AddFrozenChannelDays(url, m_updFrozenDays) && SendPing(url);
  // The game starts at once, without waiting for the ping. The process then
  // stays until the ping is done: ending right away abandoned the request,
  // which CreateProcessW usually outruns (it returns before the game has
  // even started, while the request still waits for its connection), so
  // most playing runs went uncounted. Bounded, for a server that never
  // answers; the player sees nothing of the wait.
  diagnostics::LaunchGame();
  if (pinging && m_hDoneEvent) ::WaitForSingleObject(m_hDoneEvent.get(), kActivityPingWaitMs);
}

bool CZuduvizApp::WaitForPing() {
  return m_hDoneEvent && ::WaitForSingleObject(m_hDoneEvent.get(), kPingWaitSeconds * 1000) == WAIT_OBJECT_0;
}

void CZuduvizApp::StartOldCopyCleanup() {
  // Detached: the main thread never waits for it, and when the process ends
  // first it simply dies with it. std::thread reports a failed creation by
  // throwing; the run carries on without the cleanup then.
  try {
    std::thread([] {
      ::Sleep(60);
      update::DeleteOldLauncher();
    }).detach();
  } catch (const std::system_error&) {
  }
}

int CZuduvizApp::ExitInstance() {
  m_hTakenEvent.reset();
  m_hDoneEvent.reset();
  m_gdiplusToken.reset();
  return app::CWinAppBase::ExitInstance();
}
