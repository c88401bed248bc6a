#include <windows.h>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/DisableDays.h"

namespace deploy {

static_assert(layout::kMachineKeyView == KEY_WOW64_32KEY, "machine keys live in the 32-bit view");

int WriteDisableDays() {
  base::UniqueHKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, nullptr, 0,
                        KEY_WRITE | layout::kMachineKeyView, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  const DisableDaysBytes bytes = ComputeDisableDays(now.wMilliseconds);
  if (::RegSetValueExW(key.get(), layout::kDisableDaysValue, 0, REG_BINARY, bytes.data(),
                       static_cast<DWORD>(bytes.size())) != ERROR_SUCCESS) {
    return 0;
  }
  return 1;
}

}  // namespace deploy
