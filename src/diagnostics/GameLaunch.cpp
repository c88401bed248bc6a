#include "diagnostics/GameLaunch.h"

#include <cstdio>
#include <limits>

namespace diagnostics {

std::int64_t ParseReportTime(const wchar_t* text) {
  if (!text) return 0;
  while (*text == L' ' || *text == L'\t') ++text;
  bool negative = false;
  if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
  const std::uint64_t limit =
      negative ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1 : std::numeric_limits<std::int64_t>::max();
  std::uint64_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    unsigned digit = static_cast<unsigned>(*text - L'0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(value);
  if (value == limit) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(value);
}

bool IsReportDue(std::int64_t now, std::int64_t lastReport) {
  // now - lastReport > interval, written so that no stored value, however
  // far from the clock, can overflow the subtraction.
  return lastReport < now - kReportInterval;
}

bool FormatLaunchFailureMessage(unsigned long error, wchar_t (&out)[base::kPathChars]) {
  wchar_t text[64];
  int n = std::swprintf(text, 64, L"游戏启动异常(%lu)", error);
  if (n <= 0 || n >= 64) return false;
  return base::CopyText(out, text);
}

bool FormatHelpPageUrl(const wchar_t* host, wchar_t (&out)[base::kUrlChars]) {
  if (!host || !host[0]) return false;
  return base::JoinText(out, L"https://", host, L"/forums/thread-63321720");
}

}  // namespace diagnostics
