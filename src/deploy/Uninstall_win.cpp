#include <windows.h>

#include <cstdint>

#include "base/FixedText.h"
#include "product/InstallLayout.h"
#include "product/ProductInfo.h"
#include "appobject/ZuduvizApp.h"
#include "base/UniqueHandle.h"
#include "deploy/SelfDelete.h"
#include "deploy/Shortcuts.h"
#include "deploy/Uninstall.h"
#include "diagnostics/ProcessTools.h"
#include "telemetry/PingUrl.h"
#include "telemetry/Statistics.h"
#include "ui/MessageBox.h"

namespace deploy {

namespace {

// The uninstall key with everything below it, in the machine keys' view.
// SHDeleteKeyW takes no view (an x86_64 build would delete the 64-bit
// view's key): the key is opened in the view and emptied through that
// handle, then deleted with RegDeleteKeyExW, which takes the view.
void DeleteUninstallKey() {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, layout::kUninstallKey, 0,
                      DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | layout::kMachineKeyView,
                      key.put()) != ERROR_SUCCESS) {
    return;  // nothing to delete, or no rights to
  }
  if (::RegDeleteTreeW(key.get(), nullptr) != ERROR_SUCCESS) return;
  key.reset();
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, layout::kUninstallKey, layout::kMachineKeyView, 0);
}

}  // namespace

int RunUninstall(CZuduvizApp& app) {
  DeleteUninstallKey();
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
