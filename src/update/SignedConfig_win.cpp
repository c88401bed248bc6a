#include "update/SignedConfig.h"

#include <cstring>
#include <vector>

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
bool ReadValue(const wchar_t* configPath, const wchar_t* name, wchar_t (&out)[kReleaseValueChars]) {
  const DWORD n = ::GetPrivateProfileStringW(kConfigSection, name, L"", out, kReleaseValueChars, configPath);
  return n + 1 < kReleaseValueChars;
}

std::int64_t UtcSecondsNow() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks = (std::int64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - kUnixEpochFileTime) / 10000000;
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

bool UpdateSignaturesRequired() {
  const wchar_t* key = UpdatePublicKeyText();
  return key && key[0];
}

UpdateRefusal VerifiedConfig::Verify(const wchar_t* configPath, const wchar_t* signatureUrl,
                                     const wchar_t* signaturePath, DWORD deadlineMs,
                                     DownloadFailure* signatureFailure) {
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
  const UpdateRefusal refusal = RefusalOf(
      VerifyP256Signature(UpdatePublicKeyText(), bytes.data(), bytes.size(), signature.data(), signature.size()));
  if (refusal == UpdateRefusal::kNone) file_ = std::move(config);
  return refusal;
}

UpdateRefusal ReadSignedRelease(const wchar_t* configPath, const wchar_t* publishedKey, SignedRelease* out) {
  wchar_t version[kReleaseValueChars] = {};
  wchar_t sha256[kReleaseValueChars] = {};
  wchar_t expires[kReleaseValueChars] = {};
  if (!ReadValue(configPath, kConfigVersionName, version) || !ReadValue(configPath, kConfigSha256Name, sha256) ||
      !ReadValue(configPath, kConfigExpiresName, expires)) {
    return UpdateRefusal::kReleaseMalformed;
  }
  return CheckSignedRelease(publishedKey, version, sha256, expires, product::kVersion, UtcSecondsNow(), out);
}

UpdateRefusal CheckDownloadDigest(const wchar_t* path, const SignedRelease& release) {
  std::uint8_t digest[kSha256Bytes];
  if (!Sha256OfFile(path, digest) || std::memcmp(digest, release.sha256, kSha256Bytes) != 0) {
    return UpdateRefusal::kDownloadMismatch;
  }
  return UpdateRefusal::kNone;
}

}  // namespace update
