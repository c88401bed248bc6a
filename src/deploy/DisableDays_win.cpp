#include <windows.h>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "deploy/DisableDays.h"

namespace deploy {

int WriteDisableDays() {
  base::UniqueHKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
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
