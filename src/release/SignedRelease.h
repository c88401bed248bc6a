// What a signed update configuration promises beyond the unsigned one: in
// section "VerKey", beside "Tavrel" and "UpdAddr" (which older launchers
// read alone),
//
//   Version  the offered launcher's file version, "a.b.c.d"
//   Sha256   SHA-256 of the offered launcher file, 64 hexadecimal digits
//   Expires  UTC time from which the configuration is no longer acted on,
//            "YYYY-MM-DDTHH:MM:SSZ"
//   Serial   publication number, higher with every publication (1 to 2^63-1)
//   Product  the product code, "Tavrel"
//   Channel  the channel the launcher was built for ("release")
//   Size     the offered launcher file's size in bytes (1 to 2^31-1)
//
// and, only in a key roll signed with a backup key,
//
//   CurrentKey  the key launchers trust as current from then on
//   RetireKeys  keys launchers no longer trust, comma-separated
//
// and the reasons a configuration or its download is refused. Pure text and
// arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Sha256.h"
#include "release/UpdateKeys.h"

namespace update {

constexpr const wchar_t* kConfigVersionName = L"Version";
constexpr const wchar_t* kConfigSha256Name = L"Sha256";
constexpr const wchar_t* kConfigExpiresName = L"Expires";
constexpr const wchar_t* kConfigSerialName = L"Serial";
constexpr const wchar_t* kConfigProductName = L"Product";
constexpr const wchar_t* kConfigChannelName = L"Channel";
constexpr const wchar_t* kConfigSizeName = L"Size";
constexpr const wchar_t* kConfigCurrentKeyName = L"CurrentKey";
constexpr const wchar_t* kConfigRetireKeysName = L"RetireKeys";
// Buffer of each short value; a longer value reads as malformed. The two key
// values have buffers of their own (kKeyTextChars, kRetireKeysChars).
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
  kSignatureInvalid,     // the signature does not verify with any key the launcher trusts
  kKeyUnusable,          // the built-in key text, or CNG, cannot take the key
  kVerifierFailed,       // CNG could not hash or verify at all
  kConfigUnreadable,     // the configuration could not be read back whole
  kReleaseMalformed,     // a signed value is missing or not in its form
  kExpired,              // the configuration's time is up
  kDowngrade,            // the offered version is lower than this launcher's
  kVersionNotInKey,      // the key's version digits are not the signed version's
  kDownloadMismatch,     // the download's SHA-256 is not the signed one
  kOtherProduct,         // the configuration is for another product
  kOtherChannel,         // the configuration is for another channel
  kRollback,             // its publication number is below one accepted before
  kSerialReused,         // the publication number accepted before, with other bytes
  kNotNewer,             // another launcher of the running version
  kKeyRollNotByBackup,   // CurrentKey/RetireKeys signed by a key that is no backup key
  kKeyRollInvalid,       // a key roll that retires its own signer or the new current key
  kNoTrustedKey,         // every key the launcher was built with is retired
  kDownloadSize,         // the download's declared length is not the signed size
  kDownloadStalled,      // the download made no progress for too long
};

// A short English text for the update log.
const wchar_t* UpdateRefusalText(UpdateRefusal refusal);

// The checked values of a signed configuration.
struct SignedRelease {
  LauncherVersion version;
  std::uint8_t sha256[kSha256Bytes] = {};
  std::int64_t expires = 0;
  std::uint64_t serial = 0;
  std::uint32_t size = 0;
  // A key roll: the new current key (empty when none) and the keys retired.
  KeyText currentKey = {};
  KeyText retireKeys[kMaxRetiredPerConfig] = {};
  std::size_t retireCount = 0;
};

// The texts of the signed values as read from the configuration (a missing
// value is an empty text).
struct SignedValueTexts {
  const wchar_t* version = L"";
  const wchar_t* sha256 = L"";
  const wchar_t* expires = L"";
  const wchar_t* serial = L"";
  const wchar_t* product = L"";
  const wchar_t* channel = L"";
  const wchar_t* size = L"";
  const wchar_t* currentKey = L"";
  const wchar_t* retireKeys = L"";
};

// What the running launcher expects of a configuration.
struct ReleaseExpectations {
  const wchar_t* product = L"";
  const wchar_t* channel = L"";
  const wchar_t* runningVersion = L"";
  std::int64_t nowUtc = 0;  // seconds since 1970
};

// Checks the signed values of a configuration whose signature verified: all
// present and well formed, for this product and channel, not expired at
// |expect.nowUtc| (expired from the "Expires" second on), the offered version
// not below the running one, and |publishedKey| ("Tavrel") 32 characters
// ending in the offered version without its dots. Fills |out| only when it
// returns kNone.
UpdateRefusal CheckSignedRelease(const wchar_t* publishedKey, const SignedValueTexts& texts,
                                 const ReleaseExpectations& expect, SignedRelease* out);

// What the launcher stored of the last configuration it accepted.
struct AcceptedRecord {
  std::uint64_t serial = 0;  // 0: none accepted yet
  std::uint8_t configSha256[kSha256Bytes] = {};
};

// kNone when a configuration with |serial| whose bytes have |configSha256|
// may follow |accepted|: a higher number, or the same number with the same
// bytes (the same publication fetched again); kRollback or kSerialReused
// otherwise.
UpdateRefusal CheckPublicationOrder(const AcceptedRecord& accepted, std::uint64_t serial,
                                    const std::uint8_t (&configSha256)[kSha256Bytes]);

// Reads a decimal number of 1 to |max| without sign, blanks or leading zeros.
// False, with |value| untouched, for anything else.
bool ParseDecimal(const wchar_t* text, std::uint64_t max, std::uint64_t* value);

}  // namespace update
