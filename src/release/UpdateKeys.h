// The update keys a launcher trusts: the current key it was built with, the
// maker's offline backup keys, and what signed configurations have changed
// since (a new current key, retired keys). Each key is its build-setting
// text, "04" and the P-256 point's X and Y in hexadecimal (130 characters).
// Pure text.
#pragma once

#include <cstddef>

namespace update {

constexpr std::size_t kKeyTextLength = 130;
constexpr std::size_t kKeyTextChars = kKeyTextLength + 1;
constexpr std::size_t kMaxBackupKeys = 3;
// Keys one configuration may retire at once.
constexpr std::size_t kMaxRetiredPerConfig = 4;
// Buffer of the "RetireKeys" value: that many keys, comma-separated.
constexpr std::size_t kRetireKeysChars = kMaxRetiredPerConfig * (kKeyTextLength + 1) + 1;

using KeyText = wchar_t[kKeyTextChars];

// The keys built into the launcher.
struct BuiltInKeys {
  KeyText current = {};  // empty: the build carries no key
  KeyText backups[kMaxBackupKeys] = {};
  std::size_t backupCount = 0;
};

// Reads the keys record the build carries: "orlix-update-keys", then, each
// after one blank, at most one "current=KEY" and up to kMaxBackupKeys
// "backup=KEY". False, with |out| untouched, for anything else (a backup
// key without a current key included).
bool ParseKeysRecord(const wchar_t* record, BuiltInKeys* out);

// True when |text| is a key text: "04" and 128 hexadecimal digits.
bool IsKeyText(const wchar_t* text);

// True when both are the same key (hexadecimal digits in either case).
bool SameKey(const wchar_t* a, const wchar_t* b);

// Reads a comma-separated list of 1 to kMaxRetiredPerConfig key texts into
// |out| (lowercase). False, with |out| untouched, for anything else.
bool ParseKeyList(const wchar_t* text, KeyText (&out)[kMaxRetiredPerConfig], std::size_t* count);

}  // namespace update
