#include "telemetry/PingUrl.h"

#include "product/MakerSettings.h"
#include "product/ProductInfo.h"
#include "telemetry/StatDays.h"

namespace telemetry {

namespace {

const wchar_t* PagePath(PingEvent event) {
  switch (event) {
    case PingEvent::kInstall:
      return L"/install.htm";
    case PingEvent::kUpdate:
      return L"/update.htm";
    case PingEvent::kActivity:
      return L"/active.htm";
    case PingEvent::kUninstall:
      return L"/uninstall.htm";
  }
  return L"/";
}

}  // namespace

bool GetPingBaseUrl(PingEvent event, wchar_t (&out)[base::kUrlChars]) {
  return base::JoinText(out, L"http://", maker::kServerHost, PagePath(event), L"?tag=", product::kProductCode,
                        L"&ver=", product::kVersion);
}

bool BuildCountPingUrl(PingEvent event, std::int64_t count, wchar_t (&out)[base::kUrlChars]) {
  wchar_t url[base::kUrlChars] = {};
  wchar_t number[kValueChars] = {};
  if (!GetPingBaseUrl(event, url) || !FormatInt64(count, number, kValueChars)) return false;
  if (!base::AppendText(url, L"&count=", number)) return false;
  return base::CopyText(out, url);
}

bool BuildActivityPingUrl(std::int64_t count, std::int64_t apartDays, std::int64_t keepDays, std::int64_t weekDays,
                          const wchar_t* installDay, const wchar_t* deviceCode, wchar_t (&out)[base::kUrlChars]) {
  wchar_t url[base::kUrlChars] = {};
  wchar_t figures[4][kValueChars] = {};
  const std::int64_t values[4] = {count, apartDays, keepDays, weekDays};
  for (int i = 0; i < 4; ++i) {
    if (!FormatInt64(values[i], figures[i], kValueChars)) return false;
  }
  if (!GetPingBaseUrl(PingEvent::kActivity, url)) return false;
  if (!base::AppendText(url, L"&count=", figures[0], L"&apartdays=", figures[1], L"&keepdays=", figures[2],
                        L"&weekdays=", figures[3], L"&installDay=", installDay ? installDay : L"", L"&deviceCode=",
                        deviceCode ? deviceCode : L"")) {
    return false;
  }
  return base::CopyText(out, url);
}

}  // namespace telemetry
