// What a signed update configuration promises beyond the unsigned one: in
// section "VerKey", beside "Tavrel" and "UpdAddr" (which older launchers
// read alone),
//
//   Version  the offered launcher's file version, "a.b.c.d"
//   Sha256   SHA-256 of the offered launcher file, 64 hexadecimal digits
//   Expires  UTC time from which the configuration is no longer acted on,
//            "YYYY-MM-DDTHH:MM:SSZ"
//
// and the reasons a configuration or its download is refused. Pure text and
// arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Sha256.h"

namespace update {

constexpr const wchar_t* kConfigVersionName = L"Version";
constexpr const wchar_t* kConfigSha256Name = L"Sha256";
constexpr const wchar_t* kConfigExpiresName = L"Expires";
// Buffer of each of the three values; a longer value reads as malformed.
constexpr std::size_t kReleaseValueChars = 80;

// A launcher version of one to four dot-separated decimal numbers of 0 to
// 65535 each (the version resource's four 16-bit parts); missing parts are 0.
struct LauncherVersion {
  std::uint16_t parts[4] = {};
};

// False, with |out| untouched, for an empty part, a sign, a blank, a part
// above 65535 or more than four parts.
bool ParseLauncherVersion(const wchar_t* text, LauncherVersion* out);

// Negative, zero or positive as |a| is lower than, equal to or higher than
// |b|, part by part as numbers ("3.0.10.0" is above "3.0.9.0").
int CompareLauncherVersions(const LauncherVersion& a, const LauncherVersion& b);

// Seconds since 1970-01-01 00:00:00 UTC of "YYYY-MM-DDTHH:MM:SSZ" (years
// 1970 to 9999, a real calendar day, seconds 0 to 59). False, with |seconds|
// untouched, for any other text.
bool ParseUtcTime(const wchar_t* text, std::int64_t* seconds);

// Why an update is not taken. Each one ends the update check as "no update
// offered" (the run goes on to the game) and is written to the update log.
enum class UpdateRefusal {
  kNone,
  kUnsigned,             // no signature file beside the configuration
  kSignatureMalformed,   // the signature file is not a DER P-256 signature
  kSignatureInvalid,     // the signature does not verify with the built-in key
  kKeyUnusable,          // the built-in key text, or CNG, cannot take the key
  kVerifierFailed,       // CNG could not hash or verify at all
  kConfigUnreadable,     // the configuration could not be read back whole
  kReleaseMalformed,     // a signed value is missing or not in its form
  kExpired,              // the configuration's time is up
  kDowngrade,            // the offered version is lower than this launcher's
  kVersionNotInKey,      // the key's version digits are not the signed version's
  kDownloadMismatch,     // the download's SHA-256 is not the signed one
};

// A short English text for the update log.
const wchar_t* UpdateRefusalText(UpdateRefusal refusal);

// The checked values of a signed configuration.
struct SignedRelease {
  LauncherVersion version;
  std::uint8_t sha256[kSha256Bytes] = {};
  std::int64_t expires = 0;
};

// Checks the signed values of a configuration whose signature verified:
// all three present and well formed, not expired at |nowUtc| (seconds since
// 1970; expired from the "Expires" second on), the offered version not
// below |runningVersion|, and |publishedKey| ("Tavrel") 32 characters ending
// in the offered version without its dots. Fills |out| only when it returns
// kNone.
UpdateRefusal CheckSignedRelease(const wchar_t* publishedKey, const wchar_t* versionText, const wchar_t* sha256Text,
                                 const wchar_t* expiresText, const wchar_t* runningVersion, std::int64_t nowUtc,
                                 SignedRelease* out);

}  // namespace update
