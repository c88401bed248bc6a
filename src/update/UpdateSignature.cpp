#include "update/UpdateSignature.h"

#include <cstring>

#include "base/HexBytes.h"

namespace update {

namespace {

// The uncompressed-point tag of the SEC 1 encoding.
constexpr std::uint8_t kUncompressedPoint = 0x04;

constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerInteger = 0x02;

// Reads one DER INTEGER at |*pos| (short-form length: a P-256 signature
// never needs the long form) into the 32 big-endian bytes of |out|.
bool ReadDerInteger(const std::uint8_t* der, std::size_t end, std::size_t* pos, std::uint8_t* out) {
  std::size_t p = *pos;
  if (end - p < 2 || der[p] != kDerInteger) return false;
  const std::size_t length = der[p + 1];
  p += 2;
  if (length == 0 || length > kP256FieldBytes + 1 || length > end - p) return false;
  const std::uint8_t* value = der + p;
  if (value[0] & 0x80) return false;  // negative
  std::size_t significant = length;
  if (value[0] == 0x00) {
    // A leading zero is allowed only to keep a high bit from reading as a sign.
    if (length == 1 || !(value[1] & 0x80)) return false;
    ++value;
    --significant;
  }
  if (significant > kP256FieldBytes) return false;
  std::memset(out, 0, kP256FieldBytes);
  std::memcpy(out + kP256FieldBytes - significant, value, significant);
  bool nonzero = false;
  for (std::size_t i = 0; i < kP256FieldBytes; ++i) nonzero = nonzero || out[i] != 0;
  if (!nonzero) return false;
  *pos = p + length;
  return true;
}

}  // namespace

bool ParsePublicKeyText(const wchar_t* text, std::uint8_t (&point)[kP256PairBytes]) {
  std::uint8_t encoded[1 + kP256PairBytes];
  if (!ParseHexBytes(text, sizeof(encoded), encoded) || encoded[0] != kUncompressedPoint) return false;
  std::memcpy(point, encoded + 1, kP256PairBytes);
  return true;
}

bool DerSignatureToRaw(const std::uint8_t* der, std::size_t size, std::uint8_t (&raw)[kP256PairBytes]) {
  if (!der || size < 2 || size > kMaxDerSignatureBytes) return false;
  if (der[0] != kDerSequence || der[1] != size - 2) return false;
  std::uint8_t parsed[kP256PairBytes];
  std::size_t pos = 2;
  if (!ReadDerInteger(der, size, &pos, parsed) || !ReadDerInteger(der, size, &pos, parsed + kP256FieldBytes)) {
    return false;
  }
  if (pos != size) return false;
  std::memcpy(raw, parsed, sizeof(parsed));
  return true;
}

}  // namespace update
