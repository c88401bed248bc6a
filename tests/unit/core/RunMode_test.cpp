#include "core/RunMode.h"

#include <gtest/gtest.h>

TEST(RunMode, SwitchesInAnyCase) {
  struct Case {
    const wchar_t* argument;
    int mode;
  } cases[] = {
      {L"/webOrlixD", core::ModeWebStart}, {L"/WEBORLIXD", core::ModeWebStart},
      {L"/TavrelD", core::ModeShortcut},   {L"/tavreld", core::ModeShortcut},
      {L"/uninst", core::ModeUninstall},   {L"/UNINST", core::ModeUninstall},
      {L"/Uninst", core::ModeUninstall},   {L"/newgm", core::ModeNewGame},
      {L"/NewGM", core::ModeNewGame},      {L"uninst", -1},
      {L"/uninst ", -1},                   {L"", -1},
      {nullptr, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.mode, core::RunModeFromSwitch(c.argument)) << (c.argument ? c.argument : L"(null)");
}

TEST(RunMode, LocationIsASubstringTestNotAPrefixTest) {
  const wchar_t* maker = L"C:\\USERS\\P\\APPDATA\\LOCAL\\ORLIX\\GAMELOGIN";
  EXPECT_EQ(core::ModeInstalled, core::RunModeFromLocation(L"C:\\USERS\\P\\APPDATA\\LOCAL\\ORLIX\\GAMELOGIN\\TAVREL\\A.EXE", maker));
  EXPECT_EQ(core::ModeInstalled, core::RunModeFromLocation(L"\\\\?\\C:\\USERS\\P\\APPDATA\\LOCAL\\ORLIX\\GAMELOGIN\\X.EXE", maker));
  EXPECT_EQ(core::ModeFirstRun, core::RunModeFromLocation(L"C:\\DOWNLOADS\\TAVREL_LAUNCHER.EXE", maker));
  EXPECT_EQ(core::ModeFirstRun, core::RunModeFromLocation(L"C:\\USERS\\P\\APPDATA\\LOCAL\\ORLIX\\GAMELOGI.EXE", maker));
}
