#include "deploy/DisableDays.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using deploy::DisableDaysBytes;

// An independent reading of the rules: 64-bit arithmetic reduced modulo 2^32
// by hand, to catch a signed or 64-bit slip in the launcher's own code.
DisableDaysBytes Reference(unsigned ms, int r1, int r2) {
  const std::int64_t kMod = std::int64_t(1) << 32;
  std::int64_t a = ((std::int64_t(r1) + 7 - ms) % kMod + kMod) % kMod % 7;
  std::int64_t b = ((std::int64_t(r2) + 7 - ms) % kMod + kMod) % kMod % 7;
  std::int64_t c = ms % 7;
  if (c == a) c = (c + 6) % 7;
  if (b == a) b = (b + 1) % 7;
  return {std::uint8_t(b), std::uint8_t(a), std::uint8_t(c), 0};
}

}  // namespace

TEST(DisableDays, GeneratorIsTheMicrosoftRuntimeSequence) {
  deploy::MsvcRand rand;
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : expected) EXPECT_EQ(value, rand.Next());

  deploy::MsvcRand seeded(12345);
  std::uint32_t x = 12345;
  for (int i = 0; i < 1000; ++i) {
    x = x * 214013u + 2531011u;
    ASSERT_EQ(int((x >> 16) & 0x7FFF), seeded.Next()) << i;
  }
}

TEST(DisableDays, ValueBytesTable) {
  struct Case {
    unsigned ms;
    int r1, r2;
    DisableDaysBytes bytes;  // second, first, third, 0
  } cases[] = {
      {0, 41, 18467, {1, 6, 0, 0}},
      {48, 41, 18467, {2, 0, 6, 0}},  // last value before the wrap
      {49, 41, 18467, {1, 3, 0, 0}},  // 41 + 7 - 49 wraps to 2^32 - 1: 3, not 6
      {50, 41, 18467, {0, 2, 1, 0}},
      {3, 41, 18467, {5, 3, 2, 0}},      // third equals first: 3 becomes 2
      {999, 41, 18467, {3, 5, 4, 0}},    // third 5 equals first: becomes 4
      {0, 5, 5, {6, 5, 0, 0}},           // second equals first: 5 becomes 6
      {0, 0, 0, {1, 0, 6, 0}},           // both rules at once
      {8, 0, 1, {0, 3, 1, 0}},           // wrapped first: (2^32 - 1) mod 7 = 3
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, deploy::ComputeDisableDays(c.ms, c.r1, c.r2)) << c.ms << " " << c.r1 << " " << c.r2;
  }
  // The launcher's own draws: the unseeded 41 and 18467.
  EXPECT_EQ((DisableDaysBytes{1, 6, 0, 0}), deploy::ComputeDisableDays(0));
  EXPECT_EQ((DisableDaysBytes{3, 5, 4, 0}), deploy::ComputeDisableDays(999));
}

TEST(DisableDays, EveryMillisecondGivesDistinctFirstDay) {
  for (unsigned ms = 0; ms < 1000; ++ms) {
    const DisableDaysBytes bytes = deploy::ComputeDisableDays(ms);
    ASSERT_EQ(Reference(ms, 41, 18467), bytes) << ms;
    EXPECT_LT(bytes[0], 7);
    EXPECT_LT(bytes[1], 7);
    EXPECT_LT(bytes[2], 7);
    EXPECT_NE(bytes[1], bytes[0]) << ms;
    EXPECT_NE(bytes[1], bytes[2]) << ms;
    EXPECT_EQ(0, bytes[3]);
  }
}
