#include "deploy/DisableDays.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <vector>

#include "TestSupport.h"
#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"

using deploy::DisableDaysBytes;

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
