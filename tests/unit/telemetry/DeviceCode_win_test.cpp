#include "telemetry/DeviceCode.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace telemetry {
namespace {

constexpr wchar_t kKey[] = L"Software\\Orlix\\ZezudEdezod";

class DeviceCodeTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }

  static void Store(const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                               nullptr));
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     DWORD((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }
  static std::wstring Stored() {
    wchar_t value[256] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
      return L"<none>";
    }
    return value;
  }
  static std::wstring Code() {
    wchar_t code[kDeviceCodeChars];
    for (auto& c : code) c = L'?';
    EXPECT_EQ(code, GetDeviceCode(code));
    for (std::size_t i = 32; i < kMd5HexChars; ++i) EXPECT_EQ(L'\0', code[i]);
    return code;
  }
  // The digest of an ASCII identifier, taken here with the plain MD5 class
  // over its bytes: the expected value never goes through the code page
  // conversion the device code itself uses.
  static std::wstring Md5Of(const std::wstring& asciiText) {
    std::string bytes;
    for (wchar_t c : asciiText) {
      EXPECT_LT(c, 0x80) << "not ASCII";
      bytes += static_cast<char>(c);
    }
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    std::uint8_t digest[kMd5DigestBytes];
    md5.Final(digest);
    wchar_t hex[kMd5HexChars];
    Md5ToHex(digest, hex);
    return hex;
  }
  static bool IsNewIdentifier(const std::wstring& id) {
    if (id.size() != 35) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
      const bool dash = i == 8 || i == 13 || i == 18;
      if (dash ? id[i] != L'-' : !((id[i] >= L'0' && id[i] <= L'9') || (id[i] >= L'A' && id[i] <= L'F'))) {
        return false;
      }
    }
    return true;
  }
};

TEST_F(DeviceCodeTest, CreatedOnceThenReadBack) {
  const std::wstring first = Code();
  const std::wstring id = Stored();
  EXPECT_TRUE(IsNewIdentifier(id)) << id;
  EXPECT_EQ(Md5Of(id), first);
  EXPECT_EQ(32u, first.size());
  EXPECT_EQ(std::wstring::npos, first.find_first_not_of(L"0123456789abcdef"));
  EXPECT_EQ(first, Code());
  EXPECT_EQ(id, Stored());
}

TEST_F(DeviceCodeTest, IdentifierStoredByAnyoneIsUsedUnchanged) {
  const std::wstring sixtyThree(63, L'k');
  for (const std::wstring& id : {std::wstring(L"my device"), std::wstring(L"x"), sixtyThree}) {
    Store(id);
    EXPECT_EQ(Md5Of(id), Code()) << id.size();
    EXPECT_EQ(id, Stored());
  }
  Store(L"my device");
  EXPECT_EQ(L"064edb7d110a910ddebc51fbb8b9f0c7", Code());
}

// The identifier is read through the ANSI registry call and its digest taken
// of ANSI text: a Chinese identifier comes through whole on the players'
// systems (code page 936), as the bytes C9 E8 B1 B8; a Western system (the
// C-locale run, 1252) keeps "??" of it.
TEST_F(DeviceCodeTest, ChineseIdentifierGoesThroughTheAnsiCodePage) {
  const std::wstring id = L"\u8bbe\u5907";
  Store(id);
  const UINT codePage = ::GetACP();
  if (codePage == 936) {
    EXPECT_EQ(L"c8298cdbc09e5e385512446b543eeff6", Code());  // MD5 of C9 E8 B1 B8
  } else if (codePage == 1252) {
    EXPECT_EQ(L"ea03fcb8c47822bce772cf6c07d0ebbb", Code());  // MD5 of "??"
  } else {
    ADD_FAILURE() << "no expected digest for code page " << codePage;
  }
  EXPECT_EQ(id, Stored());
}

TEST_F(DeviceCodeTest, EmptyOrOversizedIdentifierIsReplaced) {
  for (const std::wstring& id : {std::wstring(), std::wstring(64, L'k'), std::wstring(200, L'z')}) {
    Store(id);
    const std::wstring code = Code();
    const std::wstring replaced = Stored();
    EXPECT_TRUE(IsNewIdentifier(replaced)) << replaced;
    EXPECT_EQ(Md5Of(replaced), code);
  }
}

}  // namespace
}  // namespace telemetry
