// SHA-256 digests through Windows' own CNG.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

constexpr std::size_t kSha256Bytes = 32;

// The digest of |size| bytes at |data|. False, with |digest| untouched, when
// CNG cannot compute it.
bool Sha256OfBytes(const void* data, std::size_t size, std::uint8_t (&digest)[kSha256Bytes]);

// The digest of the whole file at |path|, read in blocks. False, with
// |digest| untouched, when the file cannot be read to its end.
bool Sha256OfFile(const wchar_t* path, std::uint8_t (&digest)[kSha256Bytes]);

}  // namespace update
