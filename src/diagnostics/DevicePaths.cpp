#include "diagnostics/DevicePaths.h"

#include <cwchar>

#include "base/FixedText.h"

namespace diagnostics {

bool NextDriveName(const wchar_t* list, std::size_t listChars, std::size_t* position, wchar_t (&name)[3]) {
  if (!list || !position) return false;
  std::size_t pos = *position;
  while (pos < listChars && list[pos] != L'\0') {
    // Each root is its own terminated string; walk by its real length rather
    // than a fixed stride so an unexpected entry cannot shift the walk.
    std::size_t len = 0;
    while (pos + len < listChars && list[pos + len] != L'\0') ++len;
    const wchar_t* root = list + pos;
    pos += len + 1;
    bool isDriveRoot = len >= 3 && root[1] == L':' && root[2] == L'\\' &&
                       ((root[0] >= L'A' && root[0] <= L'Z') || (root[0] >= L'a' && root[0] <= L'z'));
    wchar_t letter = base::AsciiUpper(root[0]);
    if (isDriveRoot && letter != L'A' && letter != L'B') {
      name[0] = root[0];
      name[1] = L':';
      name[2] = L'\0';
      *position = pos;
      return true;
    }
  }
  *position = pos;
  return false;
}

std::size_t DeviceTargetLength(const wchar_t* devicePath, const wchar_t* deviceTarget) {
  if (!devicePath || !deviceTarget) return 0;
  std::size_t targetLen = std::wcslen(deviceTarget);
  // A target given with a trailing separator still names the device itself.
  while (targetLen > 1 && deviceTarget[targetLen - 1] == L'\\') --targetLen;
  if (targetLen == 0) return 0;
  for (std::size_t i = 0; i < targetLen; ++i) {
    if (devicePath[i] == L'\0' || base::AsciiUpper(devicePath[i]) != base::AsciiUpper(deviceTarget[i])) return 0;
  }
  wchar_t next = devicePath[targetLen];
  return (next == L'\0' || next == L'\\') ? targetLen : 0;
}

std::size_t GrowProcessIdCapacity(std::size_t capacity) { return capacity < 512 ? 512 : capacity * 2; }

}  // namespace diagnostics
