#include "base/Sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

namespace {

std::string Hex(const std::uint8_t (&digest)[update::kSha256Bytes]) {
  std::string out;
  char two[3];
  for (std::uint8_t b : digest) {
    std::snprintf(two, sizeof(two), "%02x", b);
    out += two;
  }
  return out;
}

}  // namespace

TEST(Sha256, KnownDigestsOfBytesAndOfAFileAcrossBlocks) {
  std::uint8_t digest[update::kSha256Bytes] = {};
  ASSERT_TRUE(update::Sha256OfBytes("abc", 3, digest));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(digest));
  ASSERT_TRUE(update::Sha256OfBytes(nullptr, 0, digest));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Hex(digest));

  // 100000 bytes: several read blocks and a partial last one.
  std::string data(100000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 % 251);
  testing_support::ScratchFolder scratch;
  const std::wstring file = scratch / L"launcher.exe";
  ASSERT_TRUE(testing_support::WriteFileBytes(file, data));
  ASSERT_TRUE(update::Sha256OfFile(file.c_str(), digest));
  EXPECT_EQ("96ad0ddabe9c733d4550fde750255a94806811029be67504bd9bd68e556686b9", Hex(digest));
}

TEST(Sha256, UnreadableFileLeavesTheDigest) {
  testing_support::ScratchFolder scratch;
  std::uint8_t digest[update::kSha256Bytes];
  std::fill(std::begin(digest), std::end(digest), 0x5A);
  EXPECT_FALSE(update::Sha256OfFile((scratch / L"missing.exe").c_str(), digest));
  EXPECT_FALSE(update::Sha256OfFile(scratch.path().c_str(), digest));  // a folder
  EXPECT_FALSE(update::Sha256OfFile(nullptr, digest));
  EXPECT_EQ(0x5A, digest[0]);
  EXPECT_EQ(0x5A, digest[31]);
}
