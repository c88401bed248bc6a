#include "diagnostics/DevicePaths.h"

#include <cwchar>

#include "base/FixedText.h"

namespace diagnostics {

std::vector<std::wstring> DriveNamesFromRootList(const wchar_t* list, std::size_t listChars) {
  std::vector<std::wstring> names;
  if (!list) return names;
  std::size_t pos = 0;
  while (pos < listChars && list[pos] != L'\0') {
    // Each root is its own terminated string; walk by its real length rather
    // than a fixed stride so an unexpected entry cannot shift the walk.
    std::size_t len = 0;
    while (pos + len < listChars && list[pos + len] != L'\0') ++len;
    const wchar_t* root = list + pos;
    bool isDriveRoot = len >= 3 && root[1] == L':' && root[2] == L'\\' &&
                       ((root[0] >= L'A' && root[0] <= L'Z') || (root[0] >= L'a' && root[0] <= L'z'));
    wchar_t letter = base::AsciiUpper(root[0]);
    if (isDriveRoot && letter != L'A' && letter != L'B') names.push_back(std::wstring(root, 2));
    pos += len + 1;
  }
  return names;
}

bool RewriteDevicePath(const wchar_t* devicePath, const wchar_t* driveName, const wchar_t* deviceTarget,
                       std::wstring* dosPath) {
  if (!devicePath || !driveName || !deviceTarget || !dosPath) return false;
  std::size_t targetLen = std::wcslen(deviceTarget);
  if (targetLen == 0) return false;
  // A target given with a trailing separator still names the device itself.
  while (targetLen > 1 && deviceTarget[targetLen - 1] == L'\\') --targetLen;
  for (std::size_t i = 0; i < targetLen; ++i) {
    if (devicePath[i] == L'\0' || base::AsciiUpper(devicePath[i]) != base::AsciiUpper(deviceTarget[i])) return false;
  }
  wchar_t next = devicePath[targetLen];
  if (next != L'\0' && next != L'\\') return false;
  *dosPath = std::wstring(driveName) + (devicePath + targetLen);
  return true;
}

std::size_t GrowProcessIdCapacity(std::size_t capacity) { return capacity < 512 ? 512 : capacity * 2; }

}  // namespace diagnostics
