#include "diagnostics/CrashHandler.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

LONG WINAPI FirstFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
LONG WINAPI LaterFilter(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

TEST(CrashHandler, RegisteredGameNameIsPercentEncodedUtf8) {
  ASSERT_TRUE(diagnostics::RegisterProductInfo(L"client", L"Duskmere", L"Tavrel", L"3.0.1.5", L"zuduviz"));
  const diagnostics::ProductInfo& info = diagnostics::GetProductInfo();
  EXPECT_STREQ(L"client", info.appKind);
  EXPECT_STREQ(L"Duskmere", info.gameName);
  EXPECT_STREQ(L"Tavrel", info.productCode);
  EXPECT_STREQ(L"3.0.1.5", info.version);
  EXPECT_STREQ(L"zuduviz", info.appName);

  ASSERT_TRUE(diagnostics::RegisterProductInfo(L"client", L"暮色 Dusk", L"Tavrel", L"3.0.1.6", L"zuduviz"));
  EXPECT_STREQ(L"%E6%9A%AE%E8%89%B2+Dusk", info.gameName);
  EXPECT_STREQ(L"3.0.1.6", info.version);

  // A text that does not fit keeps the whole previous registration.
  std::wstring tooLong(64, L'k');
  EXPECT_FALSE(diagnostics::RegisterProductInfo(tooLong.c_str(), L"X", L"Y", L"Z", L"W"));
  EXPECT_STREQ(L"client", info.appKind);
  EXPECT_STREQ(L"3.0.1.6", info.version);
}

TEST(CrashHandler, BlockedFilterCannotBeReplaced) {
  ::SetUnhandledExceptionFilter(FirstFilter);
  ASSERT_EQ(FirstFilter, ::SetUnhandledExceptionFilter(FirstFilter));
  ASSERT_TRUE(diagnostics::BlockFilterChanges());
  EXPECT_EQ(nullptr, ::SetUnhandledExceptionFilter(LaterFilter));
  EXPECT_EQ(nullptr, ::SetUnhandledExceptionFilter(nullptr));
}
