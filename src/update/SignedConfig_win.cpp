#include "update/SignedConfig.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "base/Sha256.h"
#include "update/UpdatePublicKey.h"
#include "update/UpdateSignature.h"

namespace update {

namespace {

constexpr const wchar_t* kConfigSection = L"VerKey";
// FILETIME of 1970-01-01 00:00:00 UTC, in 100-nanosecond steps since 1601.
constexpr std::int64_t kUnixEpochFileTime = 116444736000000000LL;

// Opens |path| for reading with no FILE_SHARE_WRITE or FILE_SHARE_DELETE:
// while the handle is open nobody changes, replaces or removes the file, and
// readers (the profile functions) may still open it.
HANDLE OpenHeldAgainstWriters(const wchar_t* path) {
  return ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads the whole file behind |file| when it holds at most |limit| bytes.
bool ReadWhole(HANDLE file, DWORD limit, std::vector<std::uint8_t>* bytes) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 || size.QuadPart > limit) return false;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!data.empty() && (!::ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) ||
                        got != data.size())) {
    return false;
  }
  bytes->swap(data);
  return true;
}

// A value of the configuration's "VerKey" section; false when it fills the
// buffer (it may have been cut).
template <std::size_t N>
bool ReadValue(const wchar_t* configPath, const wchar_t* name, wchar_t (&out)[N]) {
  const DWORD n = ::GetPrivateProfileStringW(kConfigSection, name, L"", out, DWORD(N), configPath);
  return n + 1 < N;
}

UpdateRefusal RefusalOf(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::kValid: return UpdateRefusal::kNone;
    case SignatureCheck::kInvalid: return UpdateRefusal::kSignatureInvalid;
    case SignatureCheck::kMalformedSignature: return UpdateRefusal::kSignatureMalformed;
    case SignatureCheck::kUnusableKey: return UpdateRefusal::kKeyUnusable;
    case SignatureCheck::kSystemFailure: return UpdateRefusal::kVerifierFailed;
  }
  return UpdateRefusal::kVerifierFailed;
}

}  // namespace

std::int64_t UtcSecondsNow() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks = (std::int64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - kUnixEpochFileTime) / 10000000;
}

bool UpdateSignaturesRequired() {
  BuiltInKeys keys;
  if (!ParseKeysRecord(UpdateKeysText(), &keys)) return true;
  return keys.current[0] != L'\0';
}

UpdateRefusal CollectTrustedKeys(const ChannelRecord& record, TrustedKeys* out) {
  BuiltInKeys built;
  if (!ParseKeysRecord(UpdateKeysText(), &built) || !built.current[0]) return UpdateRefusal::kKeyUnusable;
  TrustedKeys trusted;
  auto add = [&trusted](const wchar_t* key, bool backup) {
    if (!key[0] || IsKeyRetired(key)) return;
    for (std::size_t i = 0; i < trusted.count; ++i) {
      if (SameKey(trusted.keys[i], key)) return;
    }
    std::wmemcpy(trusted.keys[trusted.count], key, kKeyTextChars);
    trusted.backup[trusted.count++] = backup;
  };
  add(built.current, false);
  add(record.rolledCurrentKey, false);
  for (std::size_t i = 0; i < built.backupCount; ++i) add(built.backups[i], true);
  if (!trusted.count) return UpdateRefusal::kNoTrustedKey;
  *out = trusted;
  return UpdateRefusal::kNone;
}

UpdateRefusal VerifiedConfig::Verify(const wchar_t* configPath, const wchar_t* signatureUrl,
                                     const wchar_t* signaturePath, DWORD deadlineMs, const TrustedKeys& keys,
                                     DownloadFailure* signatureFailure, std::size_t* signer) {
  file_.reset();
  // The signature first, so that its file never lingers.
  std::vector<std::uint8_t> signature;
  bool haveSignature = false;
  bool signatureFits = false;
  if (DownloadToFile(signatureUrl, signaturePath, deadlineMs, signatureFailure) == 1) {
    haveSignature = true;
    base::UniqueFile signatureFile(OpenHeldAgainstWriters(signaturePath));
    signatureFits = signatureFile && ReadWhole(signatureFile.get(), kMaxDerSignatureBytes, &signature);
  }
  ::DeleteFileW(signaturePath);  // also a partial download's
  if (!haveSignature) return UpdateRefusal::kUnsigned;
  if (!signatureFits) return UpdateRefusal::kSignatureMalformed;

  base::UniqueFile config(OpenHeldAgainstWriters(configPath));
  std::vector<std::uint8_t> bytes;
  if (!config || !ReadWhole(config.get(), kMaxSignedConfigBytes, &bytes)) return UpdateRefusal::kConfigUnreadable;
  // The first key that verifies signed it; without one, the most telling
  // refusal: a malformed signature or a system failure over "does not verify".
  UpdateRefusal refusal = UpdateRefusal::kKeyUnusable;
  for (std::size_t i = 0; i < keys.count; ++i) {
    const UpdateRefusal check = RefusalOf(
        VerifyP256Signature(keys.keys[i], bytes.data(), bytes.size(), signature.data(), signature.size()));
    if (check == UpdateRefusal::kNone) {
      if (!Sha256OfBytes(bytes.data(), bytes.size(), sha256_)) return UpdateRefusal::kVerifierFailed;
      file_ = std::move(config);
      *signer = i;
      return UpdateRefusal::kNone;
    }
    if (check != UpdateRefusal::kKeyUnusable && refusal != UpdateRefusal::kSignatureMalformed &&
        refusal != UpdateRefusal::kVerifierFailed) {
      refusal = check;
    }
  }
  return refusal;
}

UpdateRefusal ReadSignedRelease(const wchar_t* configPath, const wchar_t* publishedKey, SignedRelease* out) {
  wchar_t version[kReleaseValueChars] = {};
  wchar_t sha256[kReleaseValueChars] = {};
  wchar_t expires[kReleaseValueChars] = {};
  wchar_t serial[kReleaseValueChars] = {};
  wchar_t productName[kReleaseValueChars] = {};
  wchar_t channel[kReleaseValueChars] = {};
  wchar_t size[kReleaseValueChars] = {};
  wchar_t currentKey[kKeyTextChars + 1] = {};
  wchar_t retireKeys[kRetireKeysChars] = {};
  if (!ReadValue(configPath, kConfigVersionName, version) || !ReadValue(configPath, kConfigSha256Name, sha256) ||
      !ReadValue(configPath, kConfigExpiresName, expires) || !ReadValue(configPath, kConfigSerialName, serial) ||
      !ReadValue(configPath, kConfigProductName, productName) ||
      !ReadValue(configPath, kConfigChannelName, channel) || !ReadValue(configPath, kConfigSizeName, size) ||
      !ReadValue(configPath, kConfigCurrentKeyName, currentKey) ||
      !ReadValue(configPath, kConfigRetireKeysName, retireKeys)) {
    return UpdateRefusal::kReleaseMalformed;
  }
  SignedValueTexts texts;
  texts.version = version;
  texts.sha256 = sha256;
  texts.expires = expires;
  texts.serial = serial;
  texts.product = productName;
  texts.channel = channel;
  texts.size = size;
  texts.currentKey = currentKey;
  texts.retireKeys = retireKeys;
  ReleaseExpectations expect;
  expect.product = product::kProductCode;
  expect.channel = maker::kUpdateChannel;
  expect.runningVersion = product::kVersion;
  expect.nowUtc = UtcSecondsNow();
  return CheckSignedRelease(publishedKey, texts, expect, out);
}

UpdateRefusal CheckDownloadDigest(const wchar_t* path, const SignedRelease& release) {
  std::uint8_t digest[kSha256Bytes];
  if (!Sha256OfFile(path, digest) || std::memcmp(digest, release.sha256, kSha256Bytes) != 0) {
    return UpdateRefusal::kDownloadMismatch;
  }
  return UpdateRefusal::kNone;
}

}  // namespace update
