#include "deploy/SelfDeleteScript.h"

#include <gtest/gtest.h>

#include <string>

TEST(SelfDeleteScript, TextForTheInstalledLauncher) {
  const std::wstring text = deploy::FormatSelfDeleteScript(
      L"C:\\U\\Tavrel\\Tavrel_Launcher.exe", L"C:\\U\\Tavrel", L"C:\\T\\DelAB12.tmp.bat");
  EXPECT_EQ(
      L"cd\\\r\n"
      L"set /a tries=0\r\n"
      L"set /a rdtries=0\r\n"
      L":delexe\r\n"
      L"ping -n 2 127.0.0.1 >nul\r\n"
      L"del /F /A \"C:\\U\\Tavrel\\Tavrel_Launcher.exe\"\r\n"
      L"if not exist \"C:\\U\\Tavrel\\Tavrel_Launcher.exe\" goto delfolder\r\n"
      L"set /a tries+=1\r\n"
      L"if %tries% lss 3600 goto delexe\r\n"
      L":delfolder\r\n"
      L"del \"C:\\U\\Tavrel\" /Q /F /A\r\n"
      L"rd /S /Q \"C:\\U\\Tavrel\"\r\n"
      L"if not exist \"C:\\U\\Tavrel\" goto done\r\n"
      L"set /a rdtries+=1\r\n"
      L"ping -n 2 127.0.0.1 >nul\r\n"
      L"if %rdtries% lss 60 goto delfolder\r\n"
      L":done\r\n"
      L"del \"C:\\T\\DelAB12.tmp.bat\"\r\n",
      text);
}

TEST(SelfDeleteScript, PercentSignsInPathsAreDoubled) {
  struct Case {
    const wchar_t* path;
    const wchar_t* escaped;
  } cases[] = {
      {L"C:\\a\\b", L"C:\\a\\b"},
      {L"C:\\100%\\x", L"C:\\100%%\\x"},
      {L"C:\\%USERNAME%\\x", L"C:\\%%USERNAME%%\\x"},
      {L"C:\\%%", L"C:\\%%%%"},
      {L"C:\\a&b ^c !d", L"C:\\a&b ^c !d"},  // literal inside the quotes
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.escaped, deploy::EscapeBatchPath(c.path)) << c.path;
}

// cmd keeps variables of its environment: a counter that a jump could reach
// before its "set /a name=0" would count on from whatever the environment
// held. Every counter is therefore set before the first label.
TEST(SelfDeleteScript, CountersStartBeforeAnyLabel) {
  const std::wstring text = deploy::FormatSelfDeleteScript(L"C:\\U\\Tavrel\\a.exe", L"C:\\U\\Tavrel", L"C:\\T\\s.bat");
  const std::size_t firstLabel = text.find(L"\r\n:");
  ASSERT_NE(std::wstring::npos, firstLabel);
  int counters = 0;
  for (std::size_t at = text.find(L"set /a "); at != std::wstring::npos; at = text.find(L"set /a ", at + 1)) {
    const std::wstring line = text.substr(at, text.find(L"\r\n", at) - at);
    const std::size_t plus = line.find(L"+=1");
    if (plus == std::wstring::npos) continue;
    ++counters;
    const std::wstring start = L"set /a " + line.substr(7, plus - 7) + L"=0\r\n";
    const std::size_t set = text.find(start);
    EXPECT_NE(std::wstring::npos, set) << line;
    EXPECT_LT(set, firstLabel) << line;
  }
  EXPECT_EQ(2, counters);
}
