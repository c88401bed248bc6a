#include "deploy/DisableDays.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <vector>

#include "base/UniqueHandle.h"
#include "product/InstallLayout.h"

using deploy::DisableDaysBytes;

// The real registry of the test prefix. The test runs as a 64-bit process
// and so sees the 64-bit view, which is where a launcher that asks for no
// view writes when it is itself 64-bit.
class DisableDaysRegistry : public ::testing::Test {
 protected:
  void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey); }

  static bool ReadValue(DWORD* type, std::vector<BYTE>* data) {
    base::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
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

TEST_F(DisableDaysRegistry, WritesFourBinaryBytesOfTheMillisecond) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey);
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
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, layout::kDisableDaysKey, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, key.put(), nullptr));
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
