#include "release/PatchOffer.h"

#include <cstring>
#include <cwchar>

#include "base/HexBytes.h"

namespace update {

bool MakePatchKeyNames(std::size_t number, PatchKeyNames* out) {
  if (number < 1 || number > kMaxPatchOffers || !out) return false;
  PatchKeyNames names;
  std::swprintf(names.base, 16, L"Patch%uBase", unsigned(number));
  std::swprintf(names.size, 16, L"Patch%uSize", unsigned(number));
  std::swprintf(names.addr, 16, L"Patch%uAddr", unsigned(number));
  *out = names;
  return true;
}

bool ParsePatchOffer(const wchar_t* baseText, const wchar_t* sizeText, const wchar_t* url, PatchOffer* out) {
  if (!baseText || !sizeText || !url || !out) return false;
  PatchOffer offer;
  if (!ParseHexBytes(baseText, kSha256Bytes, offer.base)) return false;
  std::uint64_t size = 0;
  std::size_t digits = 0;
  for (const wchar_t* p = sizeText; *p; ++p, ++digits) {
    if (*p < L'0' || *p > L'9' || digits >= 10) return false;
    size = size * 10 + std::uint32_t(*p - L'0');
  }
  if (digits == 0 || sizeText[0] == L'0' || size > kMaxPatchBytes) return false;
  offer.size = std::uint32_t(size);
  if (std::wcslen(url) < 8 || std::wcsncmp(url, L"http://", 7) != 0 || !base::CopyText(offer.url, url)) {
    return false;
  }
  *out = offer;
  return true;
}

const PatchOffer* FindPatchFor(const PatchOffers& offers, const std::uint8_t (&ownSha256)[kSha256Bytes]) {
  for (std::size_t i = 0; i < offers.count && i < kMaxPatchOffers; ++i) {
    if (std::memcmp(offers.offers[i].base, ownSha256, kSha256Bytes) == 0) return &offers.offers[i];
  }
  return nullptr;
}

}  // namespace update
