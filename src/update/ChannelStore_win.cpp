#include "update/ChannelStore.h"

#include <windows.h>

#include <cstring>

#include "base/UniqueHandle.h"

namespace update {

namespace {

constexpr const wchar_t* kChannelKey = L"Software\\Orlix\\GameLogin\\Tavrel\\Update";
constexpr const wchar_t* kRetiredSubkey = L"Software\\Orlix\\GameLogin\\Tavrel\\Update\\RetiredKeys";
constexpr const wchar_t* kSerialValue = L"Serial";
constexpr const wchar_t* kConfigSha256Value = L"ConfigSha256";
constexpr const wchar_t* kLastValidValue = L"LastValid";
constexpr const wchar_t* kCurrentKeyValue = L"CurrentKey";

bool OpenKey(const wchar_t* path, REGSAM access, bool create, base::UniqueHKey* key) {
  HKEY opened = nullptr;
  const LSTATUS status =
      create ? ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, &opened, nullptr)
             : ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &opened);
  if (status != ERROR_SUCCESS) return false;
  key->reset(opened);
  return true;
}

// A value of exactly |type| and |size| bytes.
bool ReadExact(HKEY key, const wchar_t* name, DWORD type, void* data, DWORD size) {
  DWORD actualType = 0;
  DWORD actualSize = size;
  return ::RegQueryValueExW(key, name, nullptr, &actualType, static_cast<BYTE*>(data), &actualSize) ==
             ERROR_SUCCESS &&
         actualType == type && actualSize == size;
}

bool ReadQword(HKEY key, const wchar_t* name, std::uint64_t* value) {
  std::uint64_t v = 0;
  if (!ReadExact(key, name, REG_QWORD, &v, sizeof(v))) return false;
  *value = v;
  return true;
}

bool WriteQword(HKEY key, const wchar_t* name, std::uint64_t value) {
  return ::RegSetValueExW(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
         ERROR_SUCCESS;
}

}  // namespace

void LoadChannelRecord(ChannelRecord* record) {
  ChannelRecord read;
  base::UniqueHKey key;
  if (OpenKey(kChannelKey, KEY_QUERY_VALUE, false, &key)) {
    std::uint64_t serial = 0;
    std::uint8_t digest[kSha256Bytes] = {};
    // The number counts only with its digest.
    if (ReadQword(key.get(), kSerialValue, &serial) &&
        ReadExact(key.get(), kConfigSha256Value, REG_BINARY, digest, sizeof(digest))) {
      read.accepted.serial = serial;
      std::memcpy(read.accepted.configSha256, digest, sizeof(digest));
    }
    std::uint64_t lastValid = 0;
    if (ReadQword(key.get(), kLastValidValue, &lastValid) && lastValid < 0x7FFFFFFFFFFFFFFFULL) {
      read.lastValid = static_cast<std::int64_t>(lastValid);
    }
    KeyText current = {};
    if (ReadExact(key.get(), kCurrentKeyValue, REG_SZ, current, kKeyTextChars * sizeof(wchar_t)) &&
        current[kKeyTextLength] == L'\0' && IsKeyText(current)) {
      std::memcpy(read.rolledCurrentKey, current, sizeof(current));
    }
  }
  *record = read;
}

bool IsKeyRetired(const wchar_t* key) {
  if (!IsKeyText(key)) return false;
  base::UniqueHKey retired;
  if (!OpenKey(kRetiredSubkey, KEY_QUERY_VALUE, false, &retired)) return false;
  // Stored lowercase, as every key text is written.
  KeyText lower = {};
  for (std::size_t i = 0; i < kKeyTextLength; ++i) {
    const wchar_t c = key[i];
    lower[i] = (c >= L'A' && c <= L'F') ? wchar_t(c + (L'a' - L'A')) : c;
  }
  return ::RegQueryValueExW(retired.get(), lower, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool StoreAcceptedConfig(const SignedRelease& release, const std::uint8_t (&configSha256)[kSha256Bytes],
                         std::int64_t nowUtc) {
  if (release.retireCount) {
    base::UniqueHKey retired;
    if (!OpenKey(kRetiredSubkey, KEY_SET_VALUE, true, &retired)) return false;
    const DWORD one = 1;
    for (std::size_t i = 0; i < release.retireCount; ++i) {
      if (::RegSetValueExW(retired.get(), release.retireKeys[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                           sizeof(one)) != ERROR_SUCCESS) {
        return false;
      }
    }
  }
  base::UniqueHKey key;
  if (!OpenKey(kChannelKey, KEY_SET_VALUE, true, &key)) return false;
  if (release.currentKey[0] &&
      ::RegSetValueExW(key.get(), kCurrentKeyValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(release.currentKey),
                       kKeyTextChars * sizeof(wchar_t)) != ERROR_SUCCESS) {
    return false;
  }
  return WriteQword(key.get(), kSerialValue, release.serial) &&
         ::RegSetValueExW(key.get(), kConfigSha256Value, 0, REG_BINARY, configSha256, kSha256Bytes) ==
             ERROR_SUCCESS &&
         WriteQword(key.get(), kLastValidValue, std::uint64_t(nowUtc));
}

void StartFreezeClock(std::int64_t nowUtc) {
  base::UniqueHKey key;
  if (!OpenKey(kChannelKey, KEY_QUERY_VALUE | KEY_SET_VALUE, true, &key)) return;
  std::uint64_t lastValid = 0;
  if (!ReadQword(key.get(), kLastValidValue, &lastValid)) WriteQword(key.get(), kLastValidValue, std::uint64_t(nowUtc));
}

}  // namespace update
