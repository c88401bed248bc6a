#include "deploy/Uninstall.h"

#include <string>

#include "base/FixedText.h"
#include "core/ProductInfo.h"

namespace deploy {

bool FormatUninstallPingUrl(const wchar_t* host, std::int64_t count, wchar_t* out, std::size_t outChars) {
  if (!host || !out) return false;
  const std::wstring url = std::wstring(L"http://") + host + L"/uninstall.htm?tag=" + product::kProductCode +
                           L"&ver=" + product::kVersion + L"&count=" + std::to_wstring(static_cast<long long>(count));
  return base::CopyText(out, outChars, url.c_str());
}

}  // namespace deploy
