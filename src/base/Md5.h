// MD5 message digest (RFC 1321), and the digests of a text and of a file as
// the launcher writes them: 32 lowercase hexadecimal digits.
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

// Clears |out| and writes the digest as 32 lowercase hexadecimal digits
// ("%02x" per byte, in order).
void Md5ToHex(const std::uint8_t (&digest)[kMd5DigestBytes], wchar_t (&out)[kMd5HexChars]);

// MD5 of |text| in the system's ANSI code page (every byte of that form,
// without the terminator) as lowercase hexadecimal into |out|, cleared first.
void Md5HexOfText(const wchar_t* text, wchar_t (&out)[kMd5HexChars]);

// MD5 of the file's bytes into |out|, cleared first. Returns false and leaves
// |out| as it was when the file cannot be opened or read to its end.
bool Md5HexOfFile(const wchar_t* path, wchar_t (&out)[kMd5HexChars]);

}  // namespace telemetry
