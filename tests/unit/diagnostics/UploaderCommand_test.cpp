#include "diagnostics/UploaderCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

diagnostics::ProductInfo Product() {
  diagnostics::ProductInfo p;
  base::CopyText(p.appKind, L"client");
  base::CopyText(p.gameName, L"Duskmere");
  base::CopyText(p.productCode, L"Tavrel");
  base::CopyText(p.version, L"3.0.1.5");
  base::CopyText(p.appName, L"zuduviz");
  return p;
}

}  // namespace

TEST(UploaderCommand, QuotesTheFirstAndLastValuesOnly) {
  wchar_t out[base::kUrlChars];
  ASSERT_TRUE(diagnostics::FormatUploaderCommand(L"C:\\Game Dir\\BugReport.exe", Product(),
                                                 L"C:\\Docs\\Orlix\\dump\\Dump_3.0.1.5_a.exe_20240309_090507", out));
  EXPECT_STREQ(
      L"\"C:\\Game Dir\\BugReport.exe\" /report client Duskmere Tavrel 3.0.1.5 zuduviz "
      L"\"C:\\Docs\\Orlix\\dump\\Dump_3.0.1.5_a.exe_20240309_090507\"",
      out);
  ASSERT_TRUE(diagnostics::FormatUploaderCommand(L"C:\\x\\BugReport.exe", Product(), L"Dump_2024-03-09_Tavrel_zuduviz",
                                                 out));
  EXPECT_STREQ(
      L"\"C:\\x\\BugReport.exe\" /report client Duskmere Tavrel 3.0.1.5 zuduviz \"Dump_2024-03-09_Tavrel_zuduviz\"",
      out);
}

TEST(UploaderCommand, RefusesMoreThan511Characters) {
  wchar_t out[base::kUrlChars] = L"untouched";
  std::wstring base(260 - 1, L'b');
  std::wstring exe(259, L'e');
  EXPECT_FALSE(diagnostics::FormatUploaderCommand(exe.c_str(), Product(), base.c_str(), out));
  EXPECT_STREQ(L"untouched", out);
}
