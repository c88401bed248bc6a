#include "release/SignedRelease.h"

#include <cstring>
#include <cwchar>

#include "base/HexBytes.h"
#include "release/VersionKey.h"

namespace update {

namespace {

// Reads exactly |count| decimal digits at |text| (no terminator test).
bool ReadDigits(const wchar_t* text, int count, int* value) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    v = v * 10 + (text[i] - L'0');
  }
  *value = v;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince1970(int year, int month, int day) {
  std::int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

}  // namespace

bool ParseLauncherVersion(const wchar_t* text, LauncherVersion* out) {
  if (!text || !out) return false;
  LauncherVersion parsed;
  std::size_t part = 0;
  const wchar_t* p = text;
  for (;;) {
    if (part == 4) return false;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p, ++digits) {
      value = value * 10 + std::uint32_t(*p - L'0');
      if (value > 0xFFFF) return false;
    }
    if (digits == 0) return false;
    parsed.parts[part++] = static_cast<std::uint16_t>(value);
    if (*p == L'\0') break;
    if (*p++ != L'.') return false;
  }
  *out = parsed;
  return true;
}

int CompareLauncherVersions(const LauncherVersion& a, const LauncherVersion& b) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
  }
  return 0;
}

bool ParseUtcTime(const wchar_t* text, std::int64_t* seconds) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (!text || !seconds || std::wcslen(text) != 20) return false;
  if (text[4] != L'-' || text[7] != L'-' || text[10] != L'T' || text[13] != L':' || text[16] != L':' ||
      text[19] != L'Z') {
    return false;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 4, &year) || !ReadDigits(text + 5, 2, &month) || !ReadDigits(text + 8, 2, &day) ||
      !ReadDigits(text + 11, 2, &hour) || !ReadDigits(text + 14, 2, &minute) || !ReadDigits(text + 17, 2, &second)) {
    return false;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  *seconds = DaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

const wchar_t* UpdateRefusalText(UpdateRefusal refusal) {
  switch (refusal) {
    case UpdateRefusal::kNone: return L"none";
    case UpdateRefusal::kUnsigned: return L"the configuration has no signature";
    case UpdateRefusal::kSignatureMalformed: return L"the configuration's signature is malformed";
    case UpdateRefusal::kSignatureInvalid: return L"the configuration's signature does not verify";
    case UpdateRefusal::kKeyUnusable: return L"the launcher's update key is unusable";
    case UpdateRefusal::kVerifierFailed: return L"the signature could not be checked";
    case UpdateRefusal::kConfigUnreadable: return L"the configuration could not be read for its signature";
    case UpdateRefusal::kReleaseMalformed: return L"a signed value is missing or malformed";
    case UpdateRefusal::kExpired: return L"the configuration has expired";
    case UpdateRefusal::kDowngrade: return L"the offered version is lower than the running one";
    case UpdateRefusal::kVersionNotInKey: return L"the version key does not end in the signed version";
    case UpdateRefusal::kDownloadMismatch: return L"the download does not match the signed SHA-256";
    case UpdateRefusal::kOtherProduct: return L"the configuration is for another product";
    case UpdateRefusal::kOtherChannel: return L"the configuration is for another channel";
    case UpdateRefusal::kRollback:
      return L"the configuration's publication number is below one accepted before (a replayed configuration)";
    case UpdateRefusal::kSerialReused:
      return L"the configuration reuses an accepted publication number with other content";
    case UpdateRefusal::kNotNewer: return L"the offered launcher is another file of the running version";
    case UpdateRefusal::kKeyRollNotByBackup: return L"a key roll not signed by a backup key";
    case UpdateRefusal::kKeyRollInvalid: return L"a key roll that retires its own signer or the new current key";
    case UpdateRefusal::kNoTrustedKey: return L"every update key of this launcher is retired";
    case UpdateRefusal::kDownloadSize: return L"the download's declared length is not the signed size";
    case UpdateRefusal::kDownloadStalled: return L"the download made no progress for too long";
  }
  return L"unknown";
}

bool ParseDecimal(const wchar_t* text, std::uint64_t max, std::uint64_t* value) {
  if (!text || !value || text[0] < L'1' || text[0] > L'9') return false;
  std::uint64_t v = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9') return false;
    const std::uint64_t digit = std::uint64_t(*p - L'0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

UpdateRefusal CheckSignedRelease(const wchar_t* publishedKey, const SignedValueTexts& texts,
                                 const ReleaseExpectations& expect, SignedRelease* out) {
  SignedRelease release;
  LauncherVersion running;
  std::uint64_t size = 0;
  if (!ParseLauncherVersion(texts.version, &release.version) ||
      !ParseHexBytes(texts.sha256, kSha256Bytes, release.sha256) || !ParseUtcTime(texts.expires, &release.expires) ||
      !ParseDecimal(texts.serial, 0x7FFFFFFFFFFFFFFFULL, &release.serial) ||
      !ParseDecimal(texts.size, 0x7FFFFFFF, &size) || !texts.product || !texts.channel ||
      !ParseLauncherVersion(expect.runningVersion, &running)) {
    return UpdateRefusal::kReleaseMalformed;
  }
  release.size = static_cast<std::uint32_t>(size);
  // A key roll names its new current key; it may retire keys.
  if (texts.currentKey && texts.currentKey[0]) {
    if (!IsKeyText(texts.currentKey)) return UpdateRefusal::kReleaseMalformed;
    for (std::size_t i = 0; i < kKeyTextLength; ++i) {
      const wchar_t c = texts.currentKey[i];
      release.currentKey[i] = (c >= L'A' && c <= L'F') ? wchar_t(c + (L'a' - L'A')) : c;
    }
  }
  if (texts.retireKeys && texts.retireKeys[0]) {
    if (!release.currentKey[0] || !ParseKeyList(texts.retireKeys, release.retireKeys, &release.retireCount)) {
      return UpdateRefusal::kReleaseMalformed;
    }
    for (std::size_t i = 0; i < release.retireCount; ++i) {
      if (SameKey(release.retireKeys[i], release.currentKey)) return UpdateRefusal::kKeyRollInvalid;
    }
  }
  // Exact names: a test or beta build signed with the same key is not this one.
  if (std::wcscmp(texts.product, expect.product) != 0) return UpdateRefusal::kOtherProduct;
  if (std::wcscmp(texts.channel, expect.channel) != 0) return UpdateRefusal::kOtherChannel;
  if (expect.nowUtc >= release.expires) return UpdateRefusal::kExpired;
  if (CompareLauncherVersions(release.version, running) < 0) return UpdateRefusal::kDowngrade;

  // The key names the offered launcher: its last characters are the signed
  // version without dots, the same digits the download's own key must end in.
  const std::size_t keyLength = publishedKey ? std::wcslen(publishedKey) : 0;
  const std::size_t digestPart = DigestPartLength(texts.version);
  if (keyLength != kVersionKeyLength || digestPart == 0) return UpdateRefusal::kVersionNotInKey;
  const wchar_t* digits = publishedKey + digestPart;
  for (const wchar_t* v = texts.version; *v; ++v) {
    if (*v == L'.') continue;
    if (*digits++ != *v) return UpdateRefusal::kVersionNotInKey;
  }
  if (out) *out = release;
  return UpdateRefusal::kNone;
}

UpdateRefusal CheckPublicationOrder(const AcceptedRecord& accepted, std::uint64_t serial,
                                    const std::uint8_t (&configSha256)[kSha256Bytes]) {
  if (serial < accepted.serial) return UpdateRefusal::kRollback;
  if (serial == accepted.serial && std::memcmp(configSha256, accepted.configSha256, kSha256Bytes) != 0) {
    return UpdateRefusal::kSerialReused;
  }
  return UpdateRefusal::kNone;
}

}  // namespace update
