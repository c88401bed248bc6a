// The signature check of the downloaded update configuration, for builds
// that carry an update key (UpdatePublicKey.h). The configuration is held
// open against writers from the moment its bytes are read for the signature
// until its values have been read, so the values are those of the verified
// bytes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/UniqueHandle.h"
#include "http/HttpClient.h"
#include "release/SignedRelease.h"
#include "release/UpdateKeys.h"
#include "update/ChannelStore.h"

namespace update {

// True when this build carries an update key and so takes only signed
// configurations. A keys record that does not parse counts as a key (one
// that is unusable): such a build takes nothing rather than anything.
bool UpdateSignaturesRequired();

// Largest configuration that is read for its signature; a larger one is
// refused (kConfigUnreadable). Real ones are a few hundred bytes.
constexpr unsigned kMaxSignedConfigBytes = 64 * 1024;

// The keys that may sign a configuration now: the built-in current key, the
// current key of an accepted key roll, and the built-in backup keys, less
// every retired one. Only a backup key may sign a key roll.
struct TrustedKeys {
  static constexpr std::size_t kMax = 2 + kMaxBackupKeys;
  KeyText keys[kMax] = {};
  bool backup[kMax] = {};
  std::size_t count = 0;
};

// Collects the trusted keys for |record|. kNone when there is at least one;
// kKeyUnusable when the built-in record does not parse; kNoTrustedKey when
// all are retired.
UpdateRefusal CollectTrustedKeys(const ChannelRecord& record, TrustedKeys* out);

class VerifiedConfig {
 public:
  // Downloads |signatureUrl| into |signaturePath| (the configuration form of
  // DownloadToFile with |deadlineMs|; the file is deleted again before this
  // returns), reads the configuration at |configPath| whole and verifies the
  // signature over its bytes with each of |keys| in turn. kNone when one
  // verifies (|signer| is its index); the file then stays held against
  // writers until Release. For kUnsigned, |signatureFailure| tells why the
  // signature could not be fetched.
  UpdateRefusal Verify(const wchar_t* configPath, const wchar_t* signatureUrl, const wchar_t* signaturePath,
                       DWORD deadlineMs, const TrustedKeys& keys, DownloadFailure* signatureFailure,
                       std::size_t* signer);
  void Release() { file_.reset(); }
  // SHA-256 of the verified bytes.
  const std::uint8_t (&Sha256() const)[kSha256Bytes] { return sha256_; }

 private:
  base::UniqueFile file_;
  std::uint8_t sha256_[kSha256Bytes] = {};
};

// Reads the signed values of the configuration at |configPath| and checks
// them with CheckSignedRelease against this launcher's product, channel,
// version and the system's UTC clock. Fills |out| only on kNone.
UpdateRefusal ReadSignedRelease(const wchar_t* configPath, const wchar_t* publishedKey, SignedRelease* out);

// kNone when the file at |path| has the SHA-256 |release| was signed with;
// kDownloadMismatch when it differs or cannot be read.
UpdateRefusal CheckDownloadDigest(const wchar_t* path, const SignedRelease& release);

// Seconds since 1970-01-01 UTC by the system clock.
std::int64_t UtcSecondsNow();

}  // namespace update
