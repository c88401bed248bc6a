// The signature check of the downloaded update configuration, for builds
// that carry an update key (UpdatePublicKey.h). The configuration is held
// open against writers from the moment its bytes are read for the signature
// until its values have been read, so the values are those of the verified
// bytes.
#pragma once

#include <windows.h>

#include "base/UniqueHandle.h"
#include "http/HttpClient.h"
#include "release/SignedRelease.h"

namespace update {

// True when this build carries an update key and so takes only signed
// configurations.
bool UpdateSignaturesRequired();

// Largest configuration that is read for its signature; a larger one is
// refused (kConfigUnreadable). Real ones are a few hundred bytes.
constexpr unsigned kMaxSignedConfigBytes = 64 * 1024;

class VerifiedConfig {
 public:
  // Downloads |signatureUrl| into |signaturePath| (the configuration form of
  // DownloadToFile with |deadlineMs|; the file is deleted again before this
  // returns), reads the configuration at |configPath| whole and verifies the
  // signature over its bytes with the built-in key. kNone when it verifies;
  // the file then stays held against writers until Release. For kUnsigned,
  // |signatureFailure| tells why the signature could not be fetched.
  UpdateRefusal Verify(const wchar_t* configPath, const wchar_t* signatureUrl, const wchar_t* signaturePath,
                       DWORD deadlineMs, DownloadFailure* signatureFailure);
  void Release() { file_.reset(); }

 private:
  base::UniqueFile file_;
};

// Reads "Version", "Sha256" and "Expires" of the configuration at
// |configPath| and checks them with CheckSignedRelease against this
// launcher's version and the system's UTC clock. Fills |out| only on kNone.
UpdateRefusal ReadSignedRelease(const wchar_t* configPath, const wchar_t* publishedKey, SignedRelease* out);

// kNone when the file at |path| has the SHA-256 |release| was signed with;
// kDownloadMismatch when it differs or cannot be read.
UpdateRefusal CheckDownloadDigest(const wchar_t* path, const SignedRelease& release);

}  // namespace update
