// The locale the suite runs in. Wine takes each process's code pages from
// its Unix locale (tools/wine/wine-env.sh sets LANG): the players' Chinese
// Windows by default, a Western one for the cases run again in the C locale.
// A run in some other locale would test code pages no player has, and the
// code-page tests would pass for the wrong reason.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[128] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, value, 128);
  return n > 0 && n < 128 ? value : L"";
}

}  // namespace

TEST(SystemLocale, CodePagesAreThePlayersOrAWesternSystems) {
  const struct {
    const wchar_t* langPrefix;
    UINT ansi, oem;
    LCID locale;
  } systems[] = {
      {L"zh_CN", 936, 936, 0x804},  // the players' Simplified Chinese Windows
      {L"C", 1252, 437, 0x409},     // a Western system
  };
  const std::wstring lang = Environment(L"LANG");
  for (const auto& system : systems) {
    if (lang.compare(0, std::wcslen(system.langPrefix), system.langPrefix) != 0) continue;
    EXPECT_EQ(system.ansi, ::GetACP());
    EXPECT_EQ(system.oem, ::GetOEMCP());
    EXPECT_EQ(system.locale, ::GetSystemDefaultLCID());
    return;
  }
  FAIL() << "LANG is '" << lang << "': the suite runs in zh_CN.UTF-8 or, for chosen cases, C.UTF-8";
}
