// SHA-256 through CNG. BCryptHash would do it in one call but exists only
// from Windows 10 on, and an import the system lacks keeps the whole launcher
// from starting; BCryptCreateHash with a CNG-allocated hash object (null
// buffer, Windows 7 and later), BCryptHashData and BCryptFinishHash work on
// every system the launcher targets.
#include "base/Sha256.h"

#include <cstring>

#include "base/CngHandles_win.h"

namespace update {

namespace {

constexpr DWORD kFileBlockBytes = 16 * 1024;
// BCryptHashData takes a 32-bit length.
constexpr std::size_t kLargestPiece = 0x40000000;

// One running SHA-256 computation.
class Sha256Hash {
 public:
  Sha256Hash() {
    if (!CngSucceeded(::BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    // put() cleared the handle and CNG writes it only on success.
    if (!CngSucceeded(::BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) return;
  }
  bool ready() const { return hash_.valid(); }
  bool Add(const void* data, ULONG size) {
    // BCryptHashData takes a non-const buffer it does not write.
    return CngSucceeded(::BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
  }
  bool Finish(std::uint8_t (&digest)[kSha256Bytes]) {
    std::uint8_t result[kSha256Bytes];
    if (!CngSucceeded(::BCryptFinishHash(hash_.get(), result, sizeof(result), 0))) return false;
    std::memcpy(digest, result, sizeof(result));
    return true;
  }

 private:
  UniqueCngAlgorithm algorithm_;
  UniqueCngHash hash_;  // destroyed before the provider it came from
};

}  // namespace

bool Sha256OfBytes(const void* data, std::size_t size, std::uint8_t (&digest)[kSha256Bytes]) {
  Sha256Hash hash;
  if (!hash.ready()) return false;
  const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ULONG piece = static_cast<ULONG>(size > kLargestPiece ? kLargestPiece : size);
    if (!hash.Add(bytes, piece)) return false;
    bytes += piece;
    size -= piece;
  }
  return hash.Finish(digest);
}

bool Sha256OfFile(const wchar_t* path, std::uint8_t (&digest)[kSha256Bytes]) {
  if (!path) return false;
  base::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  Sha256Hash hash;
  if (!hash.ready()) return false;
  std::uint8_t block[kFileBlockBytes];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), block, kFileBlockBytes, &got, nullptr)) return false;
    if (got == 0) break;
    if (!hash.Add(block, got)) return false;
  }
  return hash.Finish(digest);
}

}  // namespace update
