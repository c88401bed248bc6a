// CNG side of the configuration signature: the public point goes in as a
// BCRYPT_ECCPUBLIC_BLOB of the P-256 ECDSA provider, the data is hashed with
// SHA-256, and BCryptVerifySignature checks r || s over that hash.
#include "update/UpdateSignature.h"

#include <cstring>

#include "base/CngHandles_win.h"
#include "base/Sha256.h"

namespace update {

namespace {

// BCRYPT_ECCKEY_BLOB header followed by X and Y.
struct P256PublicBlob {
  BCRYPT_ECCKEY_BLOB header;
  std::uint8_t point[kP256PairBytes];
};
static_assert(sizeof(P256PublicBlob) == sizeof(BCRYPT_ECCKEY_BLOB) + kP256PairBytes, "no padding in the blob");

}  // namespace

SignatureCheck VerifyP256Signature(const wchar_t* publicKeyText, const void* data, std::size_t size,
                                   const std::uint8_t* der, std::size_t derSize) {
  P256PublicBlob blob = {};
  blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  blob.header.cbKey = kP256FieldBytes;
  if (!ParsePublicKeyText(publicKeyText, blob.point)) return SignatureCheck::kUnusableKey;
  std::uint8_t signature[kP256PairBytes];
  if (!DerSignatureToRaw(der, derSize, signature)) return SignatureCheck::kMalformedSignature;
  std::uint8_t digest[kSha256Bytes];
  if (!data && size) return SignatureCheck::kSystemFailure;
  if (!Sha256OfBytes(data, size, digest)) return SignatureCheck::kSystemFailure;

  UniqueCngAlgorithm algorithm;
  if (!CngSucceeded(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return SignatureCheck::kSystemFailure;
  }
  UniqueCngKey key;
  // A point that is not on the curve is refused here.
  if (!CngSucceeded(::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                          reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0))) {
    return SignatureCheck::kUnusableKey;
  }
  const NTSTATUS status =
      ::BCryptVerifySignature(key.get(), nullptr, digest, sizeof(digest), signature, sizeof(signature), 0);
  // STATUS_INVALID_SIGNATURE, and any other refusal of a well-formed
  // signature (r or s not below the group order, for one): not valid.
  return status == 0 ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

}  // namespace update
