#include "diagnostics/ReportNames.h"

#include <gtest/gtest.h>

#include <string>

using diagnostics::ClockTime;

namespace {

ClockTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  ClockTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  return t;
}

}  // namespace

TEST(ReportNames, ClockTextIsZeroPadded) {
  wchar_t out[diagnostics::kTimeOfDayChars];
  ASSERT_TRUE(diagnostics::FormatClockText(At(2024, 3, 9, 7, 4, 9), out));
  EXPECT_STREQ(L"07:04:09", out);
  ASSERT_TRUE(diagnostics::FormatClockText(At(2024, 3, 9, 23, 59, 58), out));
  EXPECT_STREQ(L"23:59:58", out);
  // Too small a buffer is refused and left alone.
  wchar_t small[8] = L"keep";
  EXPECT_FALSE(diagnostics::FormatClockText(At(2024, 3, 9, 7, 4, 9), small));
  EXPECT_STREQ(L"keep", small);
}

TEST(ReportNames, DatedLogPathKeepsTheFolderAsGiven) {
  wchar_t out[base::kPathChars];
  ASSERT_TRUE(diagnostics::FormatDatedLogPath(L"C:\\a\\Tavrel\\", At(2024, 3, 9), L"Tavrel_zuduviz.dmp", out));
  EXPECT_STREQ(L"C:\\a\\Tavrel\\\\Dump_2024-03-09_Tavrel_zuduviz.dmp", out);
  ASSERT_TRUE(diagnostics::FormatDatedLogPath(L"C:\\logs", At(2025, 12, 31), L"x.log", out));
  EXPECT_STREQ(L"C:\\logs\\Dump_2025-12-31_x.log", out);

  std::wstring deep(240, L'd');
  wchar_t keep[base::kPathChars] = L"untouched";
  EXPECT_FALSE(diagnostics::FormatDatedLogPath(deep.c_str(), At(2024, 3, 9), L"Tavrel_zuduviz.dmp", keep));
  EXPECT_STREQ(L"untouched", keep);
  EXPECT_FALSE(diagnostics::FormatDatedLogPath(L"C:\\logs", At(2024, 3, 9), nullptr, keep));
}

TEST(ReportNames, FailureReportBase) {
  wchar_t out[base::kPathChars];
  ASSERT_TRUE(diagnostics::FormatFailureReportBase(At(2024, 3, 9), L"Tavrel_zuduviz", out));
  EXPECT_STREQ(L"Dump_2024-03-09_Tavrel_zuduviz", out);
}

TEST(ReportNames, CrashReportBase) {
  wchar_t out[base::kPathChars];
  ASSERT_TRUE(diagnostics::FormatCrashReportBase(L"C:\\Docs\\Orlix\\dump\\", L"3.0.1.5", L"Tavrel_Launcher.exe",
                                                 At(2024, 3, 9, 9, 5, 7), out));
  EXPECT_STREQ(L"C:\\Docs\\Orlix\\dump\\Dump_3.0.1.5_Tavrel_Launcher.exe_20240309_090507", out);
  // An empty dump folder leaves the bare name (the current folder); the year
  // is space-padded, not zero-padded.
  ASSERT_TRUE(diagnostics::FormatCrashReportBase(L"", L"3.0.1.5", L"Unknown", At(999, 1, 2, 3, 4, 5), out));
  EXPECT_STREQ(L"Dump_3.0.1.5_Unknown_ 9990102_030405", out);

  std::wstring longName(250, L'n');
  wchar_t keep[base::kPathChars] = L"untouched";
  EXPECT_FALSE(diagnostics::FormatCrashReportBase(L"C:\\dump\\", L"3.0.1.5", longName.c_str(),
                                                  At(2024, 3, 9, 9, 5, 7), keep));
  EXPECT_STREQ(L"untouched", keep);
}
