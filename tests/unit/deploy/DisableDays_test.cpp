#include "deploy/DisableDays.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <set>
#include <vector>

#include "TestSupport.h"
#include "base/UniqueHandle.h"
#include "core/InstallLayout.h"

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

// The real registry of the test prefix, in the machine keys' view.
class DisableDaysRegistry : public ::testing::Test {
 protected:
  void TearDown() override {
    testing_support::DeleteMachineKeyTree(layout::kDisableDaysKey, KEY_WOW64_32KEY);
    testing_support::DeleteMachineKeyTree(layout::kDisableDaysKey, KEY_WOW64_64KEY);
  }

  // The value in the registry view |view| (0: the view of this process's own bitness).
  static bool ReadValue(DWORD* type, std::vector<BYTE>* data, REGSAM view = layout::kMachineKeyView) {
    base::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
      return false;
    }
    BYTE buffer[64];
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExW(key.get(), layout::kDisableDaysValue, nullptr, type, buffer, &size) != ERROR_SUCCESS) {
      return false;
    }
    data->assign(buffer, buffer + size);
    return true;
  }
};

// The value lands in the registry's 32-bit view (WOW6432Node on 64-bit
// Windows) whichever build writes it: where the shipped 32-bit launcher,
// asking for no view, reads and writes, and the 64-bit view stays clean.
TEST_F(DisableDaysRegistry, WrittenInThe32BitView) {
  ASSERT_EQ(1, deploy::WriteDisableDays());
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_TRUE(ReadValue(&type, &data, KEY_WOW64_32KEY));
  const bool thirtyTwoBitProcess = sizeof(void*) == 4;
  EXPECT_EQ(thirtyTwoBitProcess, ReadValue(&type, &data, 0)) << "a program asking for no view";
  if (testing_support::RegistryHasTwoViews()) {
    EXPECT_FALSE(ReadValue(&type, &data, KEY_WOW64_64KEY));
  }
}

TEST_F(DisableDaysRegistry, WritesFourBinaryBytesOfTheMillisecond) {
  testing_support::DeleteMachineKeyTree(layout::kDisableDaysKey, layout::kMachineKeyView);
  // The value depends on the millisecond of the write: bracket it with the
  // clock and accept the values of that span only. A span across a second
  // boundary is tried again (a bounded number of times).
  for (int attempt = 0; attempt < 20; ++attempt) {
    SYSTEMTIME before, after;
    ::GetSystemTime(&before);
    ASSERT_EQ(1, deploy::WriteDisableDays());
    ::GetSystemTime(&after);
    if (after.wSecond != before.wSecond || after.wMilliseconds < before.wMilliseconds) continue;

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(&type, &data));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    ASSERT_EQ(4u, data.size());
    std::set<DisableDaysBytes> possible;
    for (unsigned ms = before.wMilliseconds; ms <= after.wMilliseconds; ++ms) {
      possible.insert(deploy::ComputeDisableDays(ms));
    }
    EXPECT_TRUE(possible.count(DisableDaysBytes{data[0], data[1], data[2], data[3]}))
        << int(data[0]) << "," << int(data[1]) << "," << int(data[2]) << "," << int(data[3]) << " written between "
        << before.wMilliseconds << " and " << after.wMilliseconds << " ms";
    return;
  }
  FAIL() << "no write within one second";
}

TEST_F(DisableDaysRegistry, RewritesAnExistingValue) {
  base::UniqueHKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, nullptr, 0,
                                             KEY_WRITE | layout::kMachineKeyView, nullptr, key.put(), nullptr));
  const BYTE old[6] = {9, 9, 9, 9, 9, 9};
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), layout::kDisableDaysValue, 0, REG_DWORD, old, 4));
  ASSERT_EQ(1, deploy::WriteDisableDays());
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(ReadValue(&type, &data));
  EXPECT_EQ(DWORD(REG_BINARY), type);
  ASSERT_EQ(4u, data.size());
  EXPECT_NE(data[0], data[1]);
  EXPECT_NE(data[2], data[1]);
  EXPECT_EQ(0, data[3]);
}
