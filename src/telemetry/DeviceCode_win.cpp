#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"
#include "telemetry/DeviceCode.h"

namespace telemetry {

namespace {

constexpr char kDeviceIdKeyAnsi[] = "Software\\Orlix\\ZezudEdezod";
constexpr DWORD kIdentifierBytes = 64;
constexpr int kIdentifierChars = 64;
constexpr UINT kGbkCodePage = 936;

// The stored identifier, or false when there is none that fits the 64-byte
// buffer with its terminator (a longer value is treated as missing).
bool ReadIdentifier(char (&ansi)[kIdentifierBytes]) {
  base::UniqueHKey key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kDeviceIdKeyAnsi, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  char data[kIdentifierBytes] = {};
  DWORD type = 0;
  DWORD size = kIdentifierBytes;
  if (::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // A value stored without its terminator that fills the whole buffer has
  // no room for one: it does not fit either.
  if (size == kIdentifierBytes && data[kIdentifierBytes - 1] != '\0') return false;
  if (data[0] == '\0') return false;
  std::memcpy(ansi, data, kIdentifierBytes);
  ansi[kIdentifierBytes - 1] = '\0';
  return true;
}

bool MakeIdentifier(char (&ansi)[kIdentifierBytes]) {
  GUID guid = {};
  if (::CoCreateGuid(&guid) != S_OK) return false;
  std::snprintf(ansi, kIdentifierBytes, "%08lX-%04X-%04X-%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(guid.Data1), unsigned(guid.Data2), unsigned(guid.Data3),
                unsigned(guid.Data4[0]), unsigned(guid.Data4[1]), unsigned(guid.Data4[2]), unsigned(guid.Data4[3]),
                unsigned(guid.Data4[4]), unsigned(guid.Data4[5]), unsigned(guid.Data4[6]), unsigned(guid.Data4[7]));
  return true;
}

void StoreIdentifier(const wchar_t* identifier) {
  base::UniqueHKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, layout::kDeviceIdKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return;  // this run still uses the identifier; the next makes another
  }
  const DWORD bytes = static_cast<DWORD>((std::wcslen(identifier) + 1) * sizeof(wchar_t));
  ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(identifier), bytes);
}

}  // namespace

wchar_t* GetDeviceCode(wchar_t (&out)[kDeviceCodeChars]) {
  char ansi[kIdentifierBytes] = {};
  wchar_t identifier[kIdentifierChars] = {};
  if (ReadIdentifier(ansi)) {
    ::MultiByteToWideChar(kGbkCodePage, 0, ansi, -1, identifier, kIdentifierChars);
  } else if (MakeIdentifier(ansi)) {
    ::MultiByteToWideChar(kGbkCodePage, 0, ansi, -1, identifier, kIdentifierChars);
    StoreIdentifier(identifier);
  }
  identifier[kIdentifierChars - 1] = L'\0';
  Md5HexOfText(identifier, out);
  return out;
}

}  // namespace telemetry
