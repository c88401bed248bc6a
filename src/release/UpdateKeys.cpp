#include "release/UpdateKeys.h"

#include <cwchar>

namespace update {

namespace {

constexpr wchar_t kRecordMark[] = L"orlix-update-keys";

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

wchar_t LowerHex(wchar_t c) { return (c >= L'A' && c <= L'F') ? wchar_t(c + (L'a' - L'A')) : c; }

// Copies the key text of |length| characters at |text| into |out|, lowercase;
// false when it is not a key text.
bool TakeKey(const wchar_t* text, std::size_t length, KeyText& out) {
  if (length != kKeyTextLength || text[0] != L'0' || text[1] != L'4') return false;
  KeyText key = {};
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsHexDigit(text[i])) return false;
    key[i] = LowerHex(text[i]);
  }
  std::wmemcpy(out, key, kKeyTextChars);
  return true;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix, std::size_t* prefixLength) {
  const std::size_t n = std::wcslen(prefix);
  *prefixLength = n;
  return std::wcsncmp(text, prefix, n) == 0;
}

}  // namespace

bool IsKeyText(const wchar_t* text) {
  KeyText ignored = {};
  return text && TakeKey(text, std::wcslen(text), ignored);
}

bool SameKey(const wchar_t* a, const wchar_t* b) {
  if (!IsKeyText(a) || !IsKeyText(b)) return false;
  for (std::size_t i = 0; i < kKeyTextLength; ++i) {
    if (LowerHex(a[i]) != LowerHex(b[i])) return false;
  }
  return true;
}

bool ParseKeysRecord(const wchar_t* record, BuiltInKeys* out) {
  std::size_t n = 0;
  if (!record || !out || !StartsWith(record, kRecordMark, &n)) return false;
  BuiltInKeys keys;
  const wchar_t* p = record + n;
  while (*p) {
    if (*p++ != L' ') return false;
    const wchar_t* end = p;
    while (*end && *end != L' ') ++end;
    if (StartsWith(p, L"current=", &n)) {
      if (keys.current[0] || !TakeKey(p + n, std::size_t(end - p) - n, keys.current)) return false;
    } else if (StartsWith(p, L"backup=", &n)) {
      if (keys.backupCount == kMaxBackupKeys ||
          !TakeKey(p + n, std::size_t(end - p) - n, keys.backups[keys.backupCount])) {
        return false;
      }
      ++keys.backupCount;
    } else {
      return false;
    }
    p = end;
  }
  if (keys.backupCount && !keys.current[0]) return false;
  *out = keys;
  return true;
}

bool ParseKeyList(const wchar_t* text, KeyText (&out)[kMaxRetiredPerConfig], std::size_t* count) {
  if (!text || !count || !*text) return false;
  KeyText keys[kMaxRetiredPerConfig] = {};
  std::size_t n = 0;
  for (const wchar_t* p = text;;) {
    const wchar_t* end = p;
    while (*end && *end != L',') ++end;
    if (n == kMaxRetiredPerConfig || !TakeKey(p, std::size_t(end - p), keys[n])) return false;
    ++n;
    if (!*end) break;
    p = end + 1;
  }
  for (std::size_t i = 0; i < n; ++i) std::wmemcpy(out[i], keys[i], kKeyTextChars);
  *count = n;
  return true;
}

}  // namespace update
