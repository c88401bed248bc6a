// The patches a configuration offers beside the whole launcher, in keys of
// section "VerKey" that older launchers do not read:
//
//   PatchNBase  SHA-256 of the launcher file the patch applies to (64 hex)
//   PatchNSize  the patch file's size in bytes
//   PatchNAddr  the http URL of the patch
//
// for N from 1 up, without gaps, at most kMaxPatchOffers. In a signed
// configuration they are covered by its signature like every other byte.
// Pure text and arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/FixedText.h"
#include "base/Sha256.h"

namespace update {

constexpr std::size_t kMaxPatchOffers = 4;
// A patch larger than this is not offered (the whole launcher is about 21 MB).
constexpr std::uint32_t kMaxPatchBytes = 64u * 1024 * 1024;

struct PatchOffer {
  std::uint8_t base[kSha256Bytes] = {};
  std::uint32_t size = 0;
  wchar_t url[base::kUrlChars] = {};
};

struct PatchOffers {
  PatchOffer offers[kMaxPatchOffers];
  std::size_t count = 0;
};

// The key names of offer |number| (1 to kMaxPatchOffers): "PatchNBase",
// "PatchNSize", "PatchNAddr".
struct PatchKeyNames {
  wchar_t base[16] = {};
  wchar_t size[16] = {};
  wchar_t addr[16] = {};
};
bool MakePatchKeyNames(std::size_t number, PatchKeyNames* out);

// One offer from its three texts: the base 64 hexadecimal digits, the size
// a decimal number of 1 to kMaxPatchBytes without a sign or leading zero,
// the address "http://..." of at most 511 characters. False, with
// |out| untouched, otherwise.
bool ParsePatchOffer(const wchar_t* baseText, const wchar_t* sizeText, const wchar_t* url, PatchOffer* out);

// The first offer whose base is |ownSha256|, or null.
const PatchOffer* FindPatchFor(const PatchOffers& offers, const std::uint8_t (&ownSha256)[kSha256Bytes]);

}  // namespace update
