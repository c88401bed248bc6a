#include <windows.h>
#include <shlwapi.h>

#include <cstdint>

#include "base/FixedText.h"
#include "product/InstallLayout.h"
#include "product/ProductInfo.h"
#include "appobject/ZuduvizApp.h"
#include "deploy/SelfDelete.h"
#include "deploy/Shortcuts.h"
#include "deploy/Uninstall.h"
#include "diagnostics/ProcessTools.h"
#include "telemetry/PingUrl.h"
#include "telemetry/Statistics.h"
#include "ui/MessageBox.h"

namespace deploy {

int RunUninstall(CZuduvizApp& app) {
  // No registry view is asked for, like the installation's own writes.
  ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, layout::kUninstallKey);
  RemoveShortcuts();
  // The script waits for this process to end before it deletes anything.
  StartSelfDelete();
  diagnostics::KillGameProcess();

  const std::int64_t count = telemetry::RecordStatistic(telemetry::StatUnInst);
  wchar_t url[base::kUrlChars] = {};
  // SendPing returns once the worker has copied the URL out of this buffer.
  if (telemetry::BuildCountPingUrl(telemetry::PingEvent::kUninstall, count, url)) {
    app.SendPing(url);
  } else {
    // No ping, no worker to say it finished: say it here, for the caller waits.
    ::SetEvent(app.m_hDoneEvent.get());
  }

  return ui::ShowMessageBox(kUninstallDoneMessage, product::kCaption, ui::MessageBoxOk, L"", L"");
}

}  // namespace deploy
