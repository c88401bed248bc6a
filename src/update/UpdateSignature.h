// Detached signatures of the update configuration: ECDSA over NIST P-256
// with SHA-256 over the exact bytes of the file. The signature file holds the
// DER encoding (SEQUENCE of the INTEGERs r and s, what OpenSSL and the
// publishing tool write); the maker's public key is built in as text, "04"
// followed by the point's X and Y in hexadecimal (130 characters).
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

constexpr std::size_t kP256FieldBytes = 32;
// X || Y of a public point and r || s of a signature, each half big-endian:
// the forms CNG takes.
constexpr std::size_t kP256PairBytes = 2 * kP256FieldBytes;
constexpr std::size_t kPublicKeyTextLength = 2 + 2 * kP256PairBytes;
// The DER form of two 33-byte integers; a longer signature file is refused.
constexpr std::size_t kMaxDerSignatureBytes = 72;

// Reads the public key text: exactly "04" and 128 hexadecimal digits (either
// case). False, with |point| untouched, for anything else.
bool ParsePublicKeyText(const wchar_t* text, std::uint8_t (&point)[kP256PairBytes]);

// Converts a DER signature to r || s. Only strict DER is taken: one SEQUENCE
// spanning the whole input, two minimal positive nonzero INTEGERs of at most
// 32 significant bytes, nothing after them. False, with |raw| untouched,
// otherwise.
bool DerSignatureToRaw(const std::uint8_t* der, std::size_t size, std::uint8_t (&raw)[kP256PairBytes]);

enum class SignatureCheck {
  kValid,
  kInvalid,             // well formed, but not made with the key over these bytes
  kMalformedSignature,  // not a DER P-256 signature
  kUnusableKey,         // the key text is malformed or CNG refuses the point
  kSystemFailure,       // CNG could not hash or verify at all
};

// Verifies |der| over |data| with CNG (BCryptImportKeyPair with
// BCRYPT_ECCPUBLIC_BLOB, a SHA-256 hash, BCryptVerifySignature).
SignatureCheck VerifyP256Signature(const wchar_t* publicKeyText, const void* data, std::size_t size,
                                   const std::uint8_t* der, std::size_t derSize);

}  // namespace update
