// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

namespace telemetry {

constexpr std::size_t kMd5DigestBytes = 16;
constexpr std::size_t kMd5HexChars = 64;  // result buffers of the hex forms

class Md5 {
 public:
  Md5();
  void Update(const void* data, std::size_t length);
  // Writes the digest; the object must not be updated afterwards.
  void Final(std::uint8_t (&digest)[kMd5DigestBytes]);

 private:
  void Blocks(const std::uint8_t* data, std::size_t count);

  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes so far
  std::uint8_t pending_[64];
  std::size_t pendingLength_ = 0;
};

// Clears |out| (64 wide characters) and writes the digest as 32 lowercase
// hexadecimal digits ("%02x" per byte, in order).
void Md5ToHex(const std::uint8_t (&digest)[kMd5DigestBytes], wchar_t* out);

}  // namespace telemetry
